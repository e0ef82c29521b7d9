// Fuzz target: any text as a settings file, and its values turned into options.
//
// The text must read without a fault, into settings each of a settable option under a
// known table, told at a line of the file, which every command that takes them accepts
// (each value was checked as the command line's are); a refused text names the file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cli/settings.h"

namespace {

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto settings = parseSettings(input, "f.toml");
  if (!settings) {
    check(settings.error().subject.starts_with("f.toml:"), "a fault without its place");
    return 0;
  }
  for (const Setting& setting : *settings) {
    check(setting.decl && isSettable(*setting.decl), "an option the file may not set");
    check(setting.table != "all" || isShared(*setting.decl), "[all] with an unshared option");
    check(setting.origin.place.starts_with("f.toml:"), "a value without its place");
  }
  for (const CommandDecl& command : commandDecls()) {
    Arguments arguments(command);
    check(applySettings(*settings, &arguments).ok(), "a checked value refused");
  }
  return 0;
}
