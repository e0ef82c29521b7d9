// Zorvanthelix: logs the tracks played on the two decks of a DJ application.
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "platform/platform.h"
#include "tracker/console.h"
#include "tracker/deck_view.h"
#include "tracker/playlist.h"
#include "tracker/tracking.h"
#include "util/FileIO.h"

// Prints the usage text and ends the process with status -1.
[[noreturn]] void wrongParameters() {
  std::cout << kUsage << std::flush;
  std::exit(-1);
}

namespace {

[[noreturn]] void fileFailure(FileResult result) {
  std::cout << (result == FileResult::kOpenFailed ? "open file fail!\n" : "write file fail!\n")
            << std::flush;
  std::exit(-1);
}

// Polls the decks once a second until the poll counter runs out or a stop is requested.
int track(const RunSettings& settings, platform::BlockHandle block, const std::string& playlist) {
  Tracking tracking{settings, {}, {}};
  unsigned polls = 0;
  while (!platform::StopRequested()) {
    readDeck(false, tracking.left.current);
    readDeck(true, tracking.right.current);
    const PollReports reports = poll(tracking);
    for (int i = 0; i < reports.count; ++i) {
      const Deck deck = reports.decks[i];
      const DeckTexts& texts = deck == Deck::kLeft ? tracking.left.current : tracking.right.current;
      const std::string& letter = deckLetter(deck);
      std::cout << trackReport(letter, texts.artist, texts.song, texts.album) << std::flush;
      const FileResult result =
          appendRecord(playlist, texts.artist, texts.song, texts.album, letter);
      if (result != FileResult::kOk) fileFailure(result);
    }
    platform::SleepMilliseconds(1000);
    if (++polls == 0xFFFFFFFFu) {
      platform::ShowMessage(nBuf, "Process2");
      platform::CloseBlock(block);
      return 0;
    }
  }
  platform::CloseBlock(block);
  std::cout << "Tracking stopped, playlist saved in " << playlist << "\n" << std::flush;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::cout << kBanner;
  FileIO fileIO;  // kept for the run; the tracker itself calls none of its operations
  bool parsed = false;
  const auto settings = parseCommandLine(argc, argv, &parsed);
  if (parsed) std::cout << "parsing\n";
  if (!settings) wrongParameters();
  std::cout << modeAnnouncement(*settings) << "Starting tracking...\n" << std::flush;
  platform::InstallStopHandler();

  platform::BlockHandle block = platform::OpenBlock(szName);
  if (block == platform::kNoBlock) block = platform::OpenBlock(szNameAlternative);
  if (block == platform::kNoBlock) {
    std::printf("Could not connect to ScratchLIVE! (Probably not started?) (%d).\n",
                platform::LastError());
    return 1;
  }
  pBuf = platform::MapBlock(block);
  if (pBuf == nullptr) {
    std::printf("Could not map view of file (%d).\n", platform::LastError());
    return 2;
  }

  std::string playlist;
  const FileResult created = createPlaylist(&playlist);
  if (created != FileResult::kOk) fileFailure(created);
  return track(*settings, block, playlist);
}
