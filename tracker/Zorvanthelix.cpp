// Zorvanthelix: logs the tracks played on the two decks of a DJ application.
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <thread>
#include <utility>

#include "platform/console.h"
#include "platform/platform.h"
#include "setfile/playlist_record.h"
#include "setfile/set_log_line.h"
#include "tracker/console.h"
#include "tracker/deck_view.h"
#include "tracker/globals.h"
#include "tracker/pending.h"
#include "tracker/playlist.h"
#include "tracker/set_log_file.h"
#include "tracker/tracking.h"
#include "util/FileIO.h"

namespace {

// A playlist that does not open or take a record ends the run: the failure on standard
// output, then on standard error the file and the reason. Records that were kept waiting
// by another program are printed, so they can still be copied.
[[noreturn]] void fileFailure(FileResult result, const std::string& reason,
                              const RecordQueue* records = nullptr) {
  std::cout << (result == FileResult::kOpenFailed ? "open file fail!\n" : "write file fail!\n")
            << std::flush;
  // The reason is the system's text, in UTF-8 (the file name is ASCII).
  if (!reason.empty()) {
    platform::writeStandard(platform::StandardStream::kError, reason + "\n",
                            platform::TextEncoding::kUtf8, nullptr);
  }
  if (records != nullptr && records->inUse()) records->printWaiting();
  std::exit(-1);
}

// The files of the run and the records on their way into them: the playlist, whose
// failure ends the run, and the set log beside it, whose failure is only reported.
class Playlist {
 public:
  explicit Playlist(const std::string& name)
      : records_(files_, name, std::cout), setLog_(setLogFiles_, setLogFileName(name), std::cerr) {
    setLog_.create();
  }

  // A played track: its record with the Latin-1 texts, then its set log line with every
  // character, both of one clock reading. The record carries the time of this poll, also
  // when it has to wait.
  void write(Deck deck, const Track& latin1, const Track& utf8, std::time_t loaded) {
    const std::time_t now = std::time(nullptr);
    check(records_.write(formatRecord(localTime(now), deck, latin1)));
    setLog_.write(formatSetLogLine(now, deck, utf8, loaded));
  }

  // Waiting records and lines get a try in every poll.
  void retry() {
    check(records_.retry());
    setLog_.retry();
  }

  // Gives records still waiting at the end about three seconds to reach the playlist; a
  // stop does not cut these pauses short.
  void finish() {
    const auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(250)); };
    check(records_.settle(12, pause));
    setLog_.settle(12, pause);
  }

 private:
  void check(FileResult result) const {
    if (result != FileResult::kOk) fileFailure(result, files_.failure(), &records_);
  }

  DiskFiles files_;
  RecordQueue records_;
  DiskFiles setLogFiles_;
  SetLogFile setLog_;
};

// Polls the decks once a second until the poll counter runs out or a stop is requested.
int track(const RunSettings& settings, platform::Handle block, BlockView view,
          const std::string& name) {
  Tracking tracking{settings, {}, {}};
  Playlist playlist(name);
  LoadTimes loads;
  // One copy of the block per poll, so that both forms of the texts come from one reading.
  std::array<char, kBlockSize> copy;
  const BlockView polled{copy.data()};
  unsigned polls = 0;
  while (!platform::stopRequested()) {
    std::memcpy(copy.data(), view.data, copy.size());
    const std::time_t now = std::time(nullptr);
    const Track utf8[2] = {readDeck(polled, Deck::kLeft, Charset::kUtf8),
                           readDeck(polled, Deck::kRight, Charset::kUtf8)};
    noteLoad(loads, Deck::kLeft, utf8[0], now);
    noteLoad(loads, Deck::kRight, utf8[1], now);
    const PollReports reports =
        poll(tracking, readDeck(polled, Deck::kLeft), readDeck(polled, Deck::kRight));
    for (int i = 0; i < reports.count; ++i) {
      const Deck deck = reports.decks[i];
      std::cout << trackReport(deck, reports.tracks[i]) << std::flush;
      playlist.write(deck, reports.tracks[i], utf8[static_cast<int>(deck)], loadedAt(loads, deck));
    }
    playlist.retry();
    platform::sleepMilliseconds(1000);
    if (++polls == 0xFFFFFFFFu) {
      playlist.finish();
      const std::string last = readField(view, kRightFields.artist);  // the last text read
      platform::showMessage(last.c_str(), "Process2");
      block.reset();
      return 0;
    }
  }
  block.reset();
  playlist.finish();
  std::cout << "Tracking stopped, playlist saved in " << name << "\n" << std::flush;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  platform::showConsoleTextAs(platform::TextEncoding::kLatin1);
  std::cout << kBanner;
  FileIO fileIO;  // kept for the run; the tracker itself calls none of its operations
  bool parsed = false;
  const auto settings = parseCommandLine(argc, argv, &parsed);
  if (parsed) std::cout << "parsing\n";
  if (!settings) wrongParameters();
  std::cout << modeAnnouncement(*settings) << "Starting tracking...\n" << std::flush;
  platform::installStopHandler();

  platform::Error err;
  platform::Handle block = platform::openBlock(kBlockName, &err);
  if (!block) block = platform::openBlock(kBlockNameAlternative, &err);
  if (!block) {
    std::printf("Could not connect to ScratchLIVE! (Probably not started?) (%d).\n", err.code);
    return 1;
  }
  const BlockView view{platform::mapBlock(block, kBlockSize, &err)};
  if (view.data == nullptr) {
    std::printf("Could not map view of file (%d).\n", err.code);
    return 2;
  }

  std::string name;
  const FileResult created = createPlaylist(&name, &err);
  if (created != FileResult::kOk) fileFailure(created, failureLine(name, err));
  return track(*settings, std::move(block), view, name);
}
