// Costs of one poll and of building a record.
#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <vector>

#include "tracker/conversion.h"
#include "tracker/deck_view.h"
#include "tracker/playlist.h"
#include "tracker/tracking.h"

namespace {

// A block with realistic texts on both decks.
std::vector<char> sampleBlock() {
  std::vector<char> block(4096, 0);
  auto put = [&](int offset, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i)
      block[static_cast<std::size_t>(offset) + 2 * i] = text[i];
  };
  put(kLeftSong, "Paper Harbour (Extended Mix)");
  put(kLeftAlbum, "Night Ferries");
  put(kLeftArtist, "Marlow Tide");
  put(kRightSong, "Glass Orchard");
  put(kRightAlbum, "Tidewater Sessions Vol. 2");
  put(kRightArtist, "The Lantern Quarter");
  return block;
}

void BM_GetSSLText(benchmark::State& state) {
  std::vector<char> block = sampleBlock();
  pBuf = block.data();
  for (auto _ : state) benchmark::DoNotOptimize(getSSLText(kLeftSong));
}
BENCHMARK(BM_GetSSLText);

// Six reads and the rules of both decks, on an unchanged block: the common case.
void BM_Poll(benchmark::State& state) {
  std::vector<char> block = sampleBlock();
  pBuf = block.data();
  Tracking tracking{RunSettings{}, {}, {}};
  for (auto _ : state) {
    tracking.left.current = readDeck(false);
    tracking.right.current = readDeck(true);
    benchmark::DoNotOptimize(poll(tracking));
  }
}
BENCHMARK(BM_Poll);

void BM_FormatInfo(benchmark::State& state) {
  for (auto _ : state) {
    formatInfo("The Lantern Quarter", "Glass Orchard", "Tidewater Sessions Vol. 2", "R");
    benchmark::DoNotOptimize(formattedInfo.data());
  }
}
BENCHMARK(BM_FormatInfo);

void BM_IToStr(benchmark::State& state) {
  int value = 0;
  for (auto _ : state) benchmark::DoNotOptimize(i_to_str(++value & 0xFFFF, 4));
}
BENCHMARK(BM_IToStr);

void BM_StrToI(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(str_to_i(" 12345"));
}
BENCHMARK(BM_StrToI);

}  // namespace

BENCHMARK_MAIN();
