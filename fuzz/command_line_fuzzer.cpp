// Fuzz target: arbitrary argument vectors into the start-up decision. Whatever the
// command line, the result is the usage text or one of the two modes, never a crash, and
// a simple-mode threshold is always a whole number of at least 1 read from the second
// argument.
//
// Input: the arguments, separated by zero bytes; no byte at all is a vector of no
// arguments (argc 0, as execve allows).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tracker/console.h"
#include "tracker/conversion.h"

namespace {

constexpr std::size_t kMaxArguments = 16;

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> arguments;
  if (size > 0) {
    const auto* text = reinterpret_cast<const char*>(data);
    std::size_t start = 0;
    for (std::size_t i = 0; i <= size && arguments.size() < kMaxArguments; ++i) {
      if (i == size || text[i] == '\0') {
        arguments.emplace_back(text + start, i - start);
        start = i + 1;
      }
    }
  }
  // Each argument in its own heap block, so that a read past its end is reported.
  std::vector<std::unique_ptr<char[]>> storage;
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) {
    storage.push_back(std::make_unique<char[]>(argument.size() + 1));
    argument.copy(storage.back().get(), argument.size());
    storage.back()[argument.size()] = '\0';
    argv.push_back(storage.back().get());
  }
  argv.push_back(nullptr);
  const int argc = static_cast<int>(arguments.size());

  bool parsed = true;
  const std::optional<RunSettings> settings = parseCommandLine(argc, argv.data(), &parsed);

  check(parsed == (argc == 3), "\"parsing\" is for a command line of two arguments only");
  if (argc == 1) {
    check(settings && !settings->simple && settings->threshold == 10,
          "no argument is not automode with threshold 10");
    return 0;
  }
  bool wanted = false;
  if (argc == 3) {
    const std::string option = argv[1];
    const std::optional<int> number = parseInt(argv[2]);
    wanted = (option == "-s" || option == "--simple") && number && *number >= 1;
    if (wanted) {
      check(settings && settings->simple && settings->threshold == *number,
            "a good simple-mode line not taken with its threshold");
      const std::string announcement = modeAnnouncement(*settings);
      check(announcement.find("\n" + i_to_str(*number) + " seconds\n") != std::string::npos,
            "the announcement does not echo the threshold");
    }
  }
  check(wanted == settings.has_value(), "a wrong command line was taken, or a good one refused");
  return 0;
}
