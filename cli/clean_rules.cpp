#include "cli/clean_rules.h"

namespace {

// The longest pattern: the parser recurses on each bracket.
constexpr std::size_t kMostPatternBytes = 200;

// How a pattern is compiled. libstdc++'s polynomial mode runs it in a time bounded by the
// title's length times the pattern's size, never backtracking (where "(a*)*b" on 16
// characters takes seconds), and refuses back-references; of alternatives that match at
// one place it takes the longest. Its number of states is bounded for every user of a
// pattern (_GLIBCXX_REGEX_STATE_LIMIT, see CMakeLists.txt), so that matching never
// recurses deeper than a small stack holds.
constexpr std::regex::flag_type kSyntax = std::regex::ECMAScript | std::regex::icase
#ifdef __GLIBCXX__
                                          | std::regex_constants::__polynomial
#endif
    ;

// The most digits of a number that std::regex reads as one (a back-reference or a repeat
// count): libstdc++ reads a longer one into a long that overflows.
constexpr std::size_t kMostCountDigits = 4;

// Whether the pattern holds a number of more digits than that after a backslash or within
// braces.
bool hasLongCount(std::string_view text) {
  bool braces = false;
  std::size_t digits = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool counted = braces || (i > 0 && text[i - 1] == '\\') || digits > 0;
    digits = c >= '0' && c <= '9' && counted ? digits + 1 : 0;
    if (digits > kMostCountDigits) return true;
    if (c == '\\' && i + 1 < text.size() && !(text[i + 1] >= '0' && text[i + 1] <= '9')) ++i;
    if (c == '{') braces = true;
    if (c == '}') braces = false;
  }
  return false;
}

}  // namespace

platform::Expected<std::regex> compileCleanPattern(const std::string& text) {
  if (text.empty()) return platform::makeError("", "an empty pattern would match every title");
  if (text.size() > kMostPatternBytes)
    return platform::makeError("", "longer than " + std::to_string(kMostPatternBytes) + " bytes");
  if (hasLongCount(text))
    return platform::makeError("", "a repeat count or back-reference of more than " +
                                       std::to_string(kMostCountDigits) + " digits");
  try {
    return std::regex(text, kSyntax);
  } catch (const std::regex_error& error) {
    if (error.code() == std::regex_constants::error_complexity)
      return platform::makeError("", "a back-reference, which cleaning does not take");
    if (error.code() == std::regex_constants::error_space)
      return platform::makeError("", "too large: it repeats too much");
    return platform::makeError("", "not a regular expression: " + std::string(error.what()));
  }
}

std::string starterCleanRules() {
  return "\n[clean]\n"
         "# with --clean, phrases taken off the end of a title as \"- phrase\", \"(phrase)\" or\n"
         "# \"[phrase]\", without regard to case, beside the built-in ones (see README)\n"
         "# phrases = [\"Free Download\"]\n"
         "# patterns cut out of titles: ECMAScript regular expressions, without regard to case\n"
         "# patterns = [\"\\\\s*\\\\[[^\\\\]]* Records\\\\]\"]\n"
         "# patterns whose tracks show as \"ID - ID\", matched in \"Artist - Song\"\n"
         "# hide = [\"unreleased\"]\n";
}
