// Fuzz target: the sent file of scrobble, read whole.
//
// Every listen it takes must write back as one line without a raw line end that reads
// back the same, and a file of those lines must read back as the same listens.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "online/scrobbling.h"

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
  const SentListens sent = parseSentFile(input);
  std::string rewritten;
  for (const auto& [account, listen] : sent.accepted) {
    const std::string line = formatSentLine(account, listen);
    check(line.find('\n') == std::string::npos && line.find('\r') == std::string::npos,
          "a written line holds a line end");
    std::string againAccount;
    Listen again;
    check(parseSentLine(line, &againAccount, &again), "a written line does not read");
    check(againAccount == account && again == listen, "a written line reads back differently");
    rewritten += line + "\n";
  }
  const SentListens reread = parseSentFile(rewritten);
  check(reread.accepted == sent.accepted && reread.badLines == 0, "a written file differs");
  return 0;
}
