// Costs of the tracker's work, each beside a baseline that does the least the same job
// needs, measured in the same run:
//   readField           a plain loop keeping the low byte of each code unit
//   one poll            six such plain loops into strings
//   formatRecord        snprintf of the same record
//   appendText          the same record from snprintf, written with open, write, fsync
//                       and close called directly
//   i_to_str, str_to_i  std::to_chars and std::from_chars on the same numbers
// Linux only: the record benchmarks write a file in a temporary folder.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/file_system.h"
#include "platform/platform.h"
#include "tracker/conversion.h"
#include "tracker/deck_view.h"
#include "tracker/playlist.h"
#include "tracker/tracking.h"

namespace {

constexpr const char* kArtist = "The Lantern Quarter";
constexpr const char* kSong = "Glass Orchard";
constexpr const char* kAlbum = "Tidewater Sessions Vol. 2";
const Track kTrack{kArtist, kSong, kAlbum};

// A block with realistic texts on both decks: some fit a string's inline storage, some
// do not.
std::vector<char> sampleBlock() {
  std::vector<char> block(kBlockSize, 0);
  auto put = [&](int offset, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i)
      block[static_cast<std::size_t>(offset) + 2 * i] = text[i];
  };
  put(kLeftFields.song, "Paper Harbour (Extended Mix)");
  put(kLeftFields.album, "Night Ferries");
  put(kLeftFields.artist, "Marlow Tide");
  put(kRightFields.song, kSong);
  put(kRightFields.album, kAlbum);
  put(kRightFields.artist, kArtist);
  return block;
}

const int kOffsets[6] = {kLeftFields.artist,  kLeftFields.song,  kLeftFields.album,
                         kRightFields.artist, kRightFields.song, kRightFields.album};

// The least a narrowing does: the low byte of each code unit up to a zero unit, no checks.
std::string copyLowBytes(const char* view, int offset) {
  const char* field = view + offset;
  std::size_t length = 0;
  while (length < kFieldUnitsRead && (field[2 * length] != 0 || field[2 * length + 1] != 0)) {
    ++length;
  }
  std::string text(length, '\0');
  for (std::size_t i = 0; i < length; ++i) text[i] = field[2 * i];
  return text;
}

// --- Deck view and poll ------------------------------------------------------------------

void BM_ReadField(benchmark::State& state) {
  const std::vector<char> block = sampleBlock();
  for (auto _ : state)
    benchmark::DoNotOptimize(readField(BlockView{block.data()}, kLeftFields.song));
}
BENCHMARK(BM_ReadField);

void BM_ReadField_Baseline(benchmark::State& state) {
  const std::vector<char> block = sampleBlock();
  for (auto _ : state) benchmark::DoNotOptimize(copyLowBytes(block.data(), kLeftFields.song));
}
BENCHMARK(BM_ReadField_Baseline);

// The tracking loop's poll: both decks read, and the rules of both decks, on an unchanged
// block (the common case).
void BM_Poll(benchmark::State& state) {
  const std::vector<char> block = sampleBlock();
  const BlockView view{block.data()};
  Tracking tracking{RunSettings{}, {}, {}};
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        poll(tracking, readDeck(view, Deck::kLeft), readDeck(view, Deck::kRight)));
  }
}
BENCHMARK(BM_Poll);

void BM_Poll_Baseline(benchmark::State& state) {
  const std::vector<char> block = sampleBlock();
  std::string texts[6];
  for (auto _ : state) {
    for (int i = 0; i < 6; ++i) texts[i] = copyLowBytes(block.data(), kOffsets[i]);
    benchmark::DoNotOptimize(texts);
  }
}
BENCHMARK(BM_Poll_Baseline);

// --- Record --------------------------------------------------------------------------------

// The same record with the C library: one snprintf of the fields of t.
int plainRecord(const std::tm& t, char* record, std::size_t size) {
  return std::snprintf(
      record, size,
      "%04d.%02d.%02d %02d:%02d:%02d;%s;\"%s\";\"%s\";\"%s\";%04d;%02d;%02d;%02d;%02d;%02d",
      t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, "R", kArtist, kSong,
      kAlbum, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
}

// The clock read and localtime, then plainRecord.
int plainRecordNow(char* record, std::size_t size) {
  const std::time_t now = std::time(nullptr);
  return plainRecord(*std::localtime(&now), record, size);
}

// One record from a local time.
void BM_FormatRecord(benchmark::State& state) {
  const std::tm t = localTime(std::time(nullptr));
  for (auto _ : state) benchmark::DoNotOptimize(formatRecord(t, Deck::kRight, kTrack));
}
BENCHMARK(BM_FormatRecord);

void BM_FormatRecord_Baseline(benchmark::State& state) {
  const std::tm t = localTime(std::time(nullptr));
  char record[512];
  for (auto _ : state) {
    benchmark::DoNotOptimize(plainRecord(t, record, sizeof record));
    benchmark::DoNotOptimize(record);
  }
}
BENCHMARK(BM_FormatRecord_Baseline);

std::string g_folder;  // temporary folder of the record files

// A fresh, empty file in the temporary folder for one benchmark.
std::string freshFile(const char* name) {
  const std::string path = g_folder + "/" + name;
  ::unlink(path.c_str());
  return path;
}

// The program's way: build the record, open for appending, write it whole, fsync, close.
void BM_AppendRecord_Sync(benchmark::State& state) {
  const std::string path = freshFile("sync.txt");
  DiskCalls calls;
  std::optional<std::uint64_t> unfinished;
  for (auto _ : state) {
    const std::string record = formatRecord(localTime(std::time(nullptr)), Deck::kRight, kTrack);
    if (!appendText(calls, path, record + "\r\n", &unfinished)) {
      state.SkipWithError("appendText failed");
    }
  }
}
BENCHMARK(BM_AppendRecord_Sync)->UseRealTime();

// The same without the flush to stable storage. The program always syncs, so this goes
// through the platform functions that appendText uses, closing without fsync.
void BM_AppendRecord_NoSync(benchmark::State& state) {
  const std::string path = freshFile("nosync.txt");
  for (auto _ : state) {
    platform::File file;
    if (platform::openForAppend(path, &file, nullptr) != platform::OpenResult::kOpened) {
      state.SkipWithError("open failed");
    }
    const std::string record = formatRecord(localTime(std::time(nullptr)), Deck::kRight, kTrack);
    const bool written = platform::appendAll(file, record + "\r\n").ok();
    if (::close(file.handle.release()) != 0 || !written) state.SkipWithError("write failed");
  }
}
BENCHMARK(BM_AppendRecord_NoSync)->UseRealTime();

// The same job done with the C library and the system calls directly: the record from
// the clock and snprintf, then open, write, (fsync,) close.
void appendPlain(const std::string& path, bool sync, benchmark::State& state) {
  char record[512];
  const int length = plainRecordNow(record, sizeof record - 2);
  record[length] = '\r';
  record[length + 1] = '\n';
  const auto size = static_cast<std::size_t>(length + 2);
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  bool ok = fd >= 0 && ::write(fd, record, size) == static_cast<ssize_t>(size);
  if (sync && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0 || !ok) state.SkipWithError("write failed");
}

void BM_AppendRecord_Sync_Baseline(benchmark::State& state) {
  const std::string path = freshFile("sync_plain.txt");
  for (auto _ : state) appendPlain(path, true, state);
}
BENCHMARK(BM_AppendRecord_Sync_Baseline)->UseRealTime();

void BM_AppendRecord_NoSync_Baseline(benchmark::State& state) {
  const std::string path = freshFile("nosync_plain.txt");
  for (auto _ : state) appendPlain(path, false, state);
}
BENCHMARK(BM_AppendRecord_NoSync_Baseline)->UseRealTime();

// --- Number conversion ---------------------------------------------------------------------

// Numbers of every length, from the record's two-digit fields to the ends of the range.
const int kNumbers[16] = {7,  42,      2026,     59, 123456,          -15, 2147483647, 0, 31,
                          -7, 1000000, 99999999, 12, -2147483647 - 1, 10,  365};

void BM_IToStr(benchmark::State& state) {
  unsigned i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(i_to_str(kNumbers[i++ & 15]));
}
BENCHMARK(BM_IToStr);

void BM_IToStr_Baseline(benchmark::State& state) {
  unsigned i = 0;
  char digits[16];
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::to_chars(digits, digits + sizeof digits, kNumbers[i++ & 15]));
    benchmark::DoNotOptimize(digits);
  }
}
BENCHMARK(BM_IToStr_Baseline);

const std::vector<std::string> kTexts = {
    "7",  "42", "2026",       "59",          "123456", "-15", "0",       "31",
    "-7", "12", "2147483647", "-2147483648", "10",     "365", "1000000", "99999999"};

void BM_StrToI(benchmark::State& state) {
  unsigned i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(str_to_i(kTexts[i++ & 15]));
}
BENCHMARK(BM_StrToI);

void BM_StrToI_Baseline(benchmark::State& state) {
  unsigned i = 0;
  for (auto _ : state) {
    const std::string& text = kTexts[i++ & 15];
    int value = 0;
    benchmark::DoNotOptimize(std::from_chars(text.data(), text.data() + text.size(), value));
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_StrToI_Baseline);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // The record files go to TMPDIR (else /tmp), on the disk whose fsync is measured.
  std::error_code ec;
  const char* tmp = std::getenv("TMPDIR");
  g_folder = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zv_tracker_bench_" +
             std::to_string(::getpid());
  if (!std::filesystem::create_directories(g_folder, ec)) {
    std::perror(g_folder.c_str());
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(g_folder, ec);
  return 0;
}
