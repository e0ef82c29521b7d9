// Zorvanthelix: logs the tracks played on the two decks of a DJ application.
#include <array>
#include <chrono>
#include <cstdio>
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

// The files of the run and the records on their way into them: the playlist and the set
// log beside it. A record or line that cannot be written waits and is tried again at every
// poll (see RecordQueue); nothing here ends the run.
class Playlist {
 public:
  explicit Playlist(const std::string& name)
      : records_(calls_, name, std::cout, std::cerr),
        setLog_(calls_, setLogFileName(name), std::cerr) {
    setLog_.create();
  }

  // A played track: its record with the Latin-1 texts, then its set log line with every
  // character, both of one clock reading. The record carries the time of this poll, also
  // when it has to wait.
  void write(Deck deck, const Track& latin1, const Track& utf8, std::time_t loaded) {
    const std::time_t now = std::time(nullptr);
    records_.write(formatRecord(localTime(now), deck, latin1));
    setLog_.write(formatSetLogLine(now, deck, utf8, loaded));
  }

  // Waiting records and lines get a try in every poll.
  void retry() {
    records_.retry();
    setLog_.retry();
  }

  // Gives records still waiting at the end about three seconds per file to reach it; a
  // stop does not cut these pauses short. What still waits then is saved beside.
  void finish() {
    const auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(250)); };
    records_.settle(12, pause);
    setLog_.settle(12, pause);
  }

 private:
  DiskCalls calls_;
  RecordQueue records_;
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

  platform::Expected<platform::Handle> opened = platform::openBlock(kBlockName);
  if (!opened) opened = platform::openBlock(kBlockNameAlternative);
  if (!opened) {
    std::printf("Could not connect to ScratchLIVE! (Probably not started?) (%d).\n",
                opened.error().code);
    return 1;
  }
  platform::Handle block = std::move(*opened);
  const platform::Expected<const char*> mapped = platform::mapBlock(block, kBlockSize);
  if (!mapped) {
    std::printf("Could not map view of file (%d).\n", mapped.error().code);
    return 2;
  }
  const BlockView view{*mapped};

  DiskCalls calls;
  const platform::Expected<std::string> name = createPlaylist(calls);
  if (!name) {
    // Before the first track, so nothing is lost: the failure on standard output, then on
    // standard error the file and the reason, in UTF-8 (the file name is ASCII).
    std::cout << "open file fail!\n" << std::flush;
    static_cast<void>(platform::writeStandard(
        platform::StandardStream::kError, failureLine(name.error().subject, name.error()) + "\n",
        platform::TextEncoding::kUtf8));
    return -1;
  }
  return track(*settings, std::move(block), view, *name);
}
