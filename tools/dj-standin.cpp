// dj-standin: a stand-in for the DJ application. It creates the named shared block in
// which the DJ application shows its two decks, writes artist, song and album of a deck
// into it as a script says, and removes the block when it ends.
//
//   dj-standin [--local] [--size BYTES] [--quiet] [SCRIPT]
//
// The block is "Global\ssl_sharing", or "Local\ssl_sharing" with --local; it has 4096
// bytes unless --size says otherwise (smaller blocks are for testing readers that must
// refuse them; fields that do not fit are cut at the block's end). Each deck field is
// UTF-16LE at the offsets of tracker/block_layout.h and fills its whole room: a text is
// written followed by a zero code unit when it is shorter than the field; a longer one
// is cut.
//
// The script comes from the file SCRIPT, or from standard input when it is absent or
// "-" (read line by line, so another program can drive the decks live). Commands, one
// per line; blank lines and lines starting with # are ignored:
//
//   load L <artist>|<song>|<album>   put a track on the left deck (R: right deck)
//   clear L                          empty the three fields of a deck
//   wait <seconds>                   pause; fractions allowed (wait 0.5)
//   quit                             end the script (so does its end)
//
// Deck texts are UTF-8 and run from the first non-blank character after the deck letter
// to the end of the line, blanks included. Escapes: \\ backslash, \| a bar inside a text,
// \n \r \t, \xHH the code unit U+00HH, \uHHHH any single code unit (a lone surrogate,
// or U+0000, which ends the text for a reader). Example:
//
//   load L Mira Vell|Glass Tide\u4E00|Caf\xE9 Nights
//
// A script file is checked completely before the block is created; a bad line on
// standard input ends the run. Either way the message goes to standard error and the
// status is 2. Unless --quiet, each command that changes the block is echoed on
// standard output as it is done, so a driving program can follow along.
#include <chrono>
#include <cmath>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "tools/block_writer.h"
#include "tools/standin_script.h"
#include "tracker/block_layout.h"

namespace {

constexpr std::size_t kLargestSize = std::size_t{1} << 30;
constexpr int kStatusFailure = 1;
constexpr int kStatusBadInput = 2;

constexpr const char* kUsage =
    "usage: dj-standin [--local] [--size BYTES] [--quiet] [SCRIPT]\n"
    "\n"
    "Stands in for the DJ application: creates the shared block Global\\ssl_sharing\n"
    "(Local\\ssl_sharing with --local, 4096 bytes unless --size says otherwise), runs\n"
    "the deck commands of SCRIPT (standard input when absent or \"-\") and removes the\n"
    "block at the end, also on Ctrl-C.\n"
    "\n"
    "Commands, one per line (# starts a comment line):\n"
    "  load L <artist>|<song>|<album>   a track on the left deck (R: right deck)\n"
    "  clear L                          empty a deck\n"
    "  wait <seconds>                   pause, fractions allowed\n"
    "  quit                             end\n"
    "Texts are UTF-8 up to the line end; escapes: \\\\ \\| \\n \\r \\t, \\xHH (code unit\n"
    "U+00HH), \\uHHHH (any code unit, lone surrogates too). A field holds 104 units.\n"
    "\n"
    "Options:\n"
    "  -l, --local        use Local\\ssl_sharing instead of Global\\ssl_sharing\n"
    "  --size BYTES       size of the block (default 4096)\n"
    "  -q, --quiet        do not echo the commands on standard output\n"
    "  -h, --help         show this text\n";

struct Options {
  const char* name = kBlockName;
  std::size_t size = kBlockSize;
  bool quiet = false;
  std::string script;  // empty: standard input
};

bool ParseSize(const std::string& text, std::size_t* size) {
  if (text.empty() || text.size() > 12) return false;
  std::size_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::size_t>(c - '0');
  }
  if (value > kLargestSize) return false;
  *size = value;
  return true;
}

// Reads the command line; returns -1 to go on, or the status to end with.
int ParseOptions(int argc, char** argv, Options* options) {
  bool script_seen = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "-l" || arg == "--local") {
      options->name = kBlockNameAlternative;
    } else if (arg == "-q" || arg == "--quiet") {
      options->quiet = true;
    } else if (arg == "--size" || arg.rfind("--size=", 0) == 0) {
      std::string value;
      if (arg == "--size") {
        if (i + 1 == argc) {
          std::cerr << "dj-standin: --size needs a number of bytes\n";
          return kStatusBadInput;
        }
        value = argv[++i];
      } else {
        value = arg.substr(7);
      }
      if (!ParseSize(value, &options->size)) {
        std::cerr << "dj-standin: bad block size \"" << value << "\" (0 to " << kLargestSize
                  << " bytes)\n";
        return kStatusBadInput;
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::cerr << "dj-standin: unknown option \"" << arg << "\"\n" << kUsage;
      return kStatusBadInput;
    } else if (script_seen) {
      std::cerr << "dj-standin: only one script, please\n" << kUsage;
      return kStatusBadInput;
    } else {
      script_seen = true;
      if (arg != "-") options->script = arg;
    }
  }
  return -1;
}

class Decks {
 public:
  explicit Decks(const platform::WritableBlock& block) : block_(block) {}

  void Load(const standin::Command& command) {
    const DeckFields& fields = fieldsOf(command.deck);
    WriteField(fields.artist, command.artist);
    WriteField(fields.song, command.song);
    WriteField(fields.album, command.album);
  }

  void Clear(Deck deck) {
    const DeckFields& fields = fieldsOf(deck);
    for (int offset : {fields.artist, fields.song, fields.album}) WriteField(offset, u"");
  }

 private:
  // Writes the code units little-endian, then a zero unit if there is room, then zeros
  // to the end of the field, so nothing of a longer earlier text is left behind.
  void WriteField(int offset, const std::u16string& units) {
    for (std::size_t i = 0; i < kFieldCapacity; ++i) {
      const char16_t unit = i < units.size() ? units[i] : u'\0';
      const std::size_t at = static_cast<std::size_t>(offset) + 2 * i;
      PutByte(at, static_cast<unsigned char>(unit & 0xFF));
      PutByte(at + 1, static_cast<unsigned char>(unit >> 8));
    }
  }

  void PutByte(std::size_t offset, unsigned char value) {
    if (offset < block_.size) block_.view[offset] = static_cast<char>(value);
  }

  const platform::WritableBlock& block_;
};

void Sleep(double seconds) {
  std::this_thread::sleep_for(
      std::chrono::microseconds(static_cast<long long>(std::llround(seconds * 1e6))));
}

// The deck text of a load line as written in the script, for the echo.
std::string TextOf(const std::string& line) {
  std::string_view rest = line;
  for (int word = 0; word < 2; ++word) {
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
    while (!rest.empty() && rest.front() != ' ' && rest.front() != '\t') rest.remove_prefix(1);
  }
  while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
  if (!rest.empty() && rest.back() == '\r') rest.remove_suffix(1);
  return std::string(rest);
}

class Player {
 public:
  Player(const Options& options, const platform::WritableBlock& block)
      : options_(options), decks_(block) {}

  // Does one command; false when the script is to end.
  bool Run(const standin::Command& command, const std::string& line) {
    switch (command.kind) {
      case standin::Command::Kind::kNothing:
        break;
      case standin::Command::Kind::kLoad:
        decks_.Load(command);
        Echo(std::string(deckLetter(command.deck)) + " loaded: " + TextOf(line));
        break;
      case standin::Command::Kind::kClear:
        decks_.Clear(command.deck);
        Echo(std::string(deckLetter(command.deck)) + " cleared");
        break;
      case standin::Command::Kind::kWait:
        Sleep(command.seconds);
        break;
      case standin::Command::Kind::kQuit:
        return false;
    }
    return true;
  }

  void Echo(const std::string& text) const {
    if (!options_.quiet) std::cout << text << std::endl;
  }

 private:
  const Options& options_;
  Decks decks_;
};

struct ScriptLine {
  int number;
  std::string text;
  standin::Command command;
};

// Reads and checks a whole script file before anything is created.
bool ReadScriptFile(const std::string& path, std::vector<ScriptLine>* lines, int* status) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::cerr << "dj-standin: cannot open script \"" << path << "\"\n";
    *status = kStatusFailure;
    return false;
  }
  bool good = true;
  std::string text;
  for (int number = 1; std::getline(file, text); ++number) {
    ScriptLine line{number, text, {}};
    std::string error;
    if (!standin::ParseLine(line.text, &line.command, &error)) {
      std::cerr << "dj-standin: " << path << ":" << number << ": " << error << "\n";
      good = false;
    }
    lines->push_back(std::move(line));
  }
  if (file.bad()) {
    std::cerr << "dj-standin: cannot read script \"" << path << "\"\n";
    *status = kStatusFailure;
    return false;
  }
  *status = kStatusBadInput;
  return good;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const int status = ParseOptions(argc, argv, &options); status >= 0) return status;

  std::vector<ScriptLine> script;
  if (!options.script.empty()) {
    int status = 0;
    if (!ReadScriptFile(options.script, &script, &status)) return status;
  }

  platform::WritableBlock block;
  if (platform::Status created = platform::CreateWritableBlock(options.name, options.size, &block);
      !created) {
    const platform::Error& err = created.error();
    std::cerr << "dj-standin: cannot create the block: " << err.subject << ": " << err.text << "\n";
    return kStatusFailure;
  }
  platform::RemoveBlockOnSignal(block);

  Player player(options, block);
  player.Echo(std::string("block ") + options.name + " ready (" + std::to_string(options.size) +
              " bytes)");
  int status = 0;
  if (!options.script.empty()) {
    for (const ScriptLine& line : script) {
      if (!player.Run(line.command, line.text)) break;
    }
  } else {
    std::string text;
    for (int number = 1; std::getline(std::cin, text); ++number) {
      standin::Command command;
      std::string message;
      if (!standin::ParseLine(text, &command, &message)) {
        std::cerr << "dj-standin: line " << number << ": " << message << "\n";
        status = kStatusBadInput;
        break;
      }
      if (!player.Run(command, text)) break;
    }
  }
  platform::RemoveWritableBlock(&block);
  player.Echo(std::string("block ") + options.name + " removed");
  return status;
}
