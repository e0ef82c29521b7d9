// Fuzz target: any title cleaned by the built-in phrases and the user's rules, the first
// line of the input (when there are two) taken as one more pattern of the settings file.
//
// A pattern is compiled as the settings file compiles it, or refused with a reason; the
// cleaned title is what cleaning it again gives, and, unless it is the title as it was,
// holds no double space, empty brackets or space at its ends.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cli/clean_rules.h"
#include "publish/title_clean.h"

namespace {

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

CleanPattern pattern(const std::string& text) { return {text, *compileCleanPattern(text), {}}; }

// Rules such as a DJ writes.
CleanRules userRules() {
  CleanRules rules;
  rules.phrases = {{"Label", {}}, {"free download", {}}};
  rules.patterns = {pattern("\\s*\\[[^\\]]*Records\\]"), pattern("^\\d+\\s*-\\s*")};
  rules.hide = {pattern("unreleased"), pattern("^ID\\d")};
  return rules;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const CleanRules kRules = userRules();
  std::string_view title(reinterpret_cast<const char*>(data), size);
  const CleanRules* rules = &kRules;
  CleanRules more;
  if (const std::size_t end = title.find('\n'); end != std::string_view::npos) {
    const std::string text(title.substr(0, end));
    title.remove_prefix(end + 1);
    auto regex = compileCleanPattern(text);
    check(regex || !regex.error().text.empty(), "a pattern refused without a reason");
    if (regex) {
      more = kRules;
      more.patterns.push_back({text, std::move(*regex), {}});
      rules = &more;
    }
  }
  const std::string cleaned = cleanTitle(title, *rules);
  check(cleanTitle(cleaned, *rules) == cleaned, "cleaning again changed the title");
  if (cleaned != title) {
    check(cleaned.find("  ") == std::string::npos, "a double space");
    check(cleaned.find("()") == std::string::npos && cleaned.find("[]") == std::string::npos,
          "empty brackets");
    check(!cleaned.empty() && cleaned.front() != ' ' && cleaned.back() != ' ', "a space at an end");
  }
  const Track track{std::string(title), cleaned, std::string(title)};
  const Track shown = cleanTrack(track, *rules);
  check(cleanTrack(shown, *rules) == shown, "cleaning a track again changed it");
  return 0;
}
