// Fuzz target: any text as a settings file, and its values turned into options.
//
// The text must read without a fault, into settings each of a settable option under a
// known table, told at a line of the file, which every command that takes them accepts
// (each value was checked as the command line's are); a refused text names the file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cli/settings.h"

namespace {

// Whether the input meets one of two faults of toml++ 3.3 that its later versions mend,
// skipped so that the fuzzer looks further: a table header that starts with what is not
// a key ("[\0", "[[[1]]]"; marzer/tomlplusplus#301) fails an assertion of the parser; a
// character beyond ASCII where whitespace may stand (before any quote or '#' on its
// line) reaches an unreachable point (marzer/tomlplusplus#295).
bool meetsKnownParserFault(std::string_view input) {
  for (std::size_t at = 0; at < input.size();) {
    const std::size_t end = std::min(input.find('\n', at), input.size());
    const std::string_view line = input.substr(at, end - at);
    at = end + 1;
    const std::size_t quoted = std::min(line.find_first_of("\"'#"), line.size());
    if (std::any_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(quoted),
                    [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
      return true;
    std::size_t i = line.find_first_not_of(" \t");
    if (i == std::string_view::npos || line[i] != '[') continue;
    i = line.find_first_not_of(" \t", i + (line.substr(i, 2) == "[[" ? 2 : 1));
    const char c = i < line.size() ? line[i] : '\0';
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
          c == '-' || c == '"' || c == '\''))
      return true;
  }
  return false;
}

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (meetsKnownParserFault(input)) return 0;
  const auto settings = parseSettings(input, "f.toml");
  if (!settings) {
    check(settings.error().subject.starts_with("f.toml:"), "a fault without its place");
    return 0;
  }
  for (const Setting& setting : *settings) {
    check(setting.spec && isSettable(*setting.spec), "an option the file may not set");
    check(setting.table != "all" || isShared(*setting.spec), "[all] with an unshared option");
    check(setting.origin.place.starts_with("f.toml:"), "a value without its place");
  }
  for (const CommandSpec& command : commandSpecs()) {
    Arguments arguments(command);
    check(applySettings(*settings, &arguments).ok(), "a checked value refused");
  }
  return 0;
}
