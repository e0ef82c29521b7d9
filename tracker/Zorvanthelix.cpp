// Zorvanthelix: logs the tracks played on the two decks of a DJ application.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <thread>
#include <utility>

#include "platform/console.h"
#include "platform/platform.h"
#include "tracker/console.h"
#include "tracker/deck_view.h"
#include "tracker/globals.h"
#include "tracker/pending.h"
#include "tracker/playlist.h"
#include "tracker/tracking.h"
#include "util/FileIO.h"

namespace {

// A playlist that does not open or take a record ends the run. Records that were kept
// waiting by another program are printed, so they can still be copied.
[[noreturn]] void fileFailure(FileResult result, const RecordQueue* records = nullptr) {
  std::cout << (result == FileResult::kOpenFailed ? "open file fail!\n" : "write file fail!\n")
            << std::flush;
  if (records != nullptr && records->inUse()) records->printWaiting();
  std::exit(-1);
}

void check(FileResult result, const RecordQueue& records) {
  if (result != FileResult::kOk) fileFailure(result, &records);
}

// Gives records still waiting at the end about three seconds to reach the playlist; a
// stop does not cut these pauses short.
void finishWriting(RecordQueue& records) {
  check(records.settle(12, [] { std::this_thread::sleep_for(std::chrono::milliseconds(250)); }),
        records);
}

// Polls the decks once a second until the poll counter runs out or a stop is requested.
int track(const RunSettings& settings, platform::Handle block, const std::string& playlist) {
  Tracking tracking{settings, {}, {}};
  const BlockView view{pBuf};
  DiskFiles files;
  RecordQueue records(files, playlist, std::cout);
  unsigned polls = 0;
  while (!platform::StopRequested()) {
    const PollReports reports =
        poll(tracking, readDeck(view, Deck::kLeft), readDeck(view, Deck::kRight));
    for (int i = 0; i < reports.count; ++i) {
      const Deck deck = reports.decks[i];
      const Track& track = deck == Deck::kLeft ? tracking.left.current : tracking.right.current;
      std::cout << trackReport(deck, track) << std::flush;
      // The record carries the time of this poll, also when it has to wait.
      formatInfo(track.artist, track.song, track.album, deckLetter(deck));
      check(records.write(formattedInfo), records);
    }
    check(records.retry(), records);  // waiting records get a try in every poll
    platform::SleepMilliseconds(1000);
    if (++polls == 0xFFFFFFFFu) {
      finishWriting(records);
      getSSLText(kRightFields.artist);  // the last text read, in nBuf
      platform::ShowMessage(nBuf, "Process2");
      block.reset();
      return 0;
    }
  }
  block.reset();
  finishWriting(records);
  std::cout << "Tracking stopped, playlist saved in " << playlist << "\n" << std::flush;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  platform::ShowConsoleTextAs(platform::TextEncoding::kLatin1);
  std::cout << kBanner;
  FileIO fileIO;  // kept for the run; the tracker itself calls none of its operations
  bool parsed = false;
  const auto settings = parseCommandLine(argc, argv, &parsed);
  if (parsed) std::cout << "parsing\n";
  if (!settings) wrongParameters();
  std::cout << modeAnnouncement(*settings) << "Starting tracking...\n" << std::flush;
  platform::InstallStopHandler();

  platform::Error err;
  platform::Handle block = platform::OpenBlock(szName, &err);
  if (!block) block = platform::OpenBlock(szNameAlternative, &err);
  if (!block) {
    std::printf("Could not connect to ScratchLIVE! (Probably not started?) (%d).\n", err.code);
    return 1;
  }
  pBuf = platform::MapBlock(block, kBlockSize, &err);
  if (pBuf == nullptr) {
    std::printf("Could not map view of file (%d).\n", err.code);
    return 2;
  }

  std::string playlist;
  const FileResult created = createPlaylist(&playlist);
  if (created != FileResult::kOk) fileFailure(created);
  return track(*settings, std::move(block), playlist);
}
