// Costs of the utility classes, each beside a baseline measured in the same run:
//   Date        the same conversion with the C library (strptime, timegm, gmtime_r,
//               strftime)
//   FileIO      plain read()/write() loops on the same 256 MiB file
//   Lottery     the same draw from rand() into a fixed array with a bit mask
// Linux only (strptime, timegm and the POSIX calls of the baselines). The files lie in
// TMPDIR, else /tmp.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <memory>
#include <streambuf>
#include <string>
#include <thread>

#include "util/Date.h"
#include "util/FileIO.h"
#include "util/Lottery.h"

namespace {

constexpr long kFileSize = 256L << 20;
constexpr long kLargeBlock = 1L << 20;
constexpr long kSmallBlock = 4L << 10;

std::string g_input;   // the 256 MiB file that the reads take
std::string g_output;  // the file that the writes make

// Before each timed write: removes the output file of the last write and waits until the
// system has written back whatever is dirty, outside the timing. Otherwise a write would
// wait for the write-back of the one before it (truncating a file waits for its pages
// under write-back, and ext4 starts writing a truncated and rewritten file back when it
// is closed), and measure the disk instead of the write.
void FreshOutput(benchmark::State& state) {
  state.PauseTiming();
  ::unlink(g_output.c_str());
  ::sync();
  state.ResumeTiming();
}

// Swallows the trace lines of the calendar-time conversions while they are timed.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// --- Date ----------------------------------------------------------------------------------

constexpr const char* kRfc1123Text = "Sun, 13 Nov 1994 08:49:37 GMT";
constexpr const char* kRfc1036Text = "Wednesday, 16-Nov-94 08:49:37 GMT";
constexpr const char* kAsctimeText = "Sun Nov  6 08:49:37 1994";
constexpr const char* kRejectedText = "1994-11-13 08:49:37";

void BM_DateFromText(benchmark::State& state, const char* text) {
  Date date;
  for (auto _ : state) {
    benchmark::DoNotOptimize(date.convert_date(text));
  }
}
BENCHMARK_CAPTURE(BM_DateFromText, rfc1123, kRfc1123Text);
BENCHMARK_CAPTURE(BM_DateFromText, rfc1036, kRfc1036Text);
BENCHMARK_CAPTURE(BM_DateFromText, asctime, kAsctimeText);
BENCHMARK_CAPTURE(BM_DateFromText, rejected, kRejectedText);

// The results Date keeps: three copies of the output text and two calendar times.
struct PlainDate {
  std::string text1, text2, text3;
  std::time_t time_value = 0, text_time = 0;
};

// Reads text in the given form with the C library and keeps what Date keeps.
bool plainFromText(const char* text, const char* format, PlainDate& date) {
  std::tm t{};
  const char* end = strptime(text, format, &t);
  if (end == nullptr || *end != '\0') return false;
  const std::time_t seconds = timegm(&t);
  char out[64];
  const std::size_t length = std::strftime(out, sizeof out, "%a, %d %b %Y %X GMT", &t);
  date.text1.assign(out, length);
  date.text2 = date.text1;
  date.text3 = date.text1;
  date.time_value = date.text_time = seconds;
  return true;
}

// The form is known here, where Date has to recognise it; a rejected text is tried in
// all three forms, as Date tries its forms.
void BM_DateFromText_Baseline(benchmark::State& state, const char* text, const char* format) {
  PlainDate date;
  for (auto _ : state) {
    if (format != nullptr) {
      benchmark::DoNotOptimize(plainFromText(text, format, date));
    } else {
      benchmark::DoNotOptimize(plainFromText(text, "%a, %d %b %Y %H:%M:%S GMT", date) ||
                               plainFromText(text, "%A, %d-%b-%y %H:%M:%S GMT", date) ||
                               plainFromText(text, "%a %b %d %H:%M:%S %Y", date));
    }
  }
}
BENCHMARK_CAPTURE(BM_DateFromText_Baseline, rfc1123, kRfc1123Text, "%a, %d %b %Y %H:%M:%S GMT");
BENCHMARK_CAPTURE(BM_DateFromText_Baseline, rfc1036, kRfc1036Text, "%A, %d-%b-%y %H:%M:%S GMT");
BENCHMARK_CAPTURE(BM_DateFromText_Baseline, asctime, kAsctimeText, "%a %b %d %H:%M:%S %Y");
BENCHMARK_CAPTURE(BM_DateFromText_Baseline, rejected, kRejectedText, nullptr);

void BM_DateFromCalendarTime(benchmark::State& state) {
  NullBuffer null;
  std::streambuf* const console = std::cout.rdbuf(&null);
  Date date;
  std::time_t t = 784716577;
  for (auto _ : state) {
    benchmark::DoNotOptimize(date.convert_date(t));
    t += 86399;
  }
  std::cout.rdbuf(console);
}
BENCHMARK(BM_DateFromCalendarTime);

// The same with the C library: gmtime_r and strftime give the text, which is then read
// back as an RFC 1123 date, as Date does.
void BM_DateFromCalendarTime_Baseline(benchmark::State& state) {
  PlainDate date;
  std::time_t t = 784716577;
  for (auto _ : state) {
    std::tm broken{};
    gmtime_r(&t, &broken);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %X GMT", &broken);
    benchmark::DoNotOptimize(plainFromText(text, "%a, %d %b %Y %H:%M:%S GMT", date));
    date.time_value = t;
    t += 86399;
  }
}
BENCHMARK(BM_DateFromCalendarTime_Baseline);

// --- FileIO: whole files -------------------------------------------------------------------

void BM_ReadFile_FileIO(benchmark::State& state) {
  FileIO io;
  for (auto _ : state) {
    if (io.read_file(g_input) != 0) state.SkipWithError("read_file failed");
    benchmark::DoNotOptimize(io.buffer.get());
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_ReadFile_FileIO)->Unit(benchmark::kMillisecond)->UseRealTime();

// Reads the whole input file with plain read() calls into the given array.
bool ReadWhole(char* data) {
  const int fd = ::open(g_input.c_str(), O_RDONLY | O_CLOEXEC);
  long done = 0;
  for (ssize_t got = 1; done < kFileSize && got > 0; done += got) {
    got = ::read(fd, data + done, static_cast<std::size_t>(kFileSize - done));
  }
  return ::close(fd) == 0 && done == kFileSize;
}

// The baseline: the plain loop doing what read_file promises, the whole file in a new
// array every time (read_file frees its old array and hands over a new one).
void BM_ReadFile_Posix(benchmark::State& state) {
  for (auto _ : state) {
    std::unique_ptr<char[]> data(new char[kFileSize]);
    if (!ReadWhole(data.get())) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(data.get());
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_ReadFile_Posix)->Unit(benchmark::kMillisecond)->UseRealTime();

// For reference: the same loop into one array reused every time, which does less than
// read_file (no new memory) and shows what the fresh array costs: the system hands out
// and clears it one page at a time.
void BM_ReadFile_PosixReusedArray(benchmark::State& state) {
  std::unique_ptr<char[]> data(new char[kFileSize]);
  for (auto _ : state) {
    if (!ReadWhole(data.get())) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(data.get());
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_ReadFile_PosixReusedArray)->Unit(benchmark::kMillisecond)->UseRealTime();

// A single read after the process has left its memory alone for a while, as a program
// reads a file now and then. Measured separately because on a virtual machine that hands
// idle free memory back to its host, memory that was given back costs far more to touch
// again than memory the guest kept.
// Three repetitions of three reads each, whatever --benchmark_repetitions says: each read
// waits three seconds first.
constexpr auto kPause = std::chrono::seconds(3);

void BM_ReadFile_FileIO_AfterPause(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    std::this_thread::sleep_for(kPause);
    state.ResumeTiming();
    FileIO io;
    if (io.read_file(g_input) != 0) state.SkipWithError("read_file failed");
    benchmark::DoNotOptimize(io.buffer.get());
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_ReadFile_FileIO_AfterPause)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3)
    ->Repetitions(3);

void BM_ReadFile_Posix_AfterPause(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    std::this_thread::sleep_for(kPause);
    state.ResumeTiming();
    std::unique_ptr<char[]> data(new char[kFileSize]);
    if (!ReadWhole(data.get())) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(data.get());
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_ReadFile_Posix_AfterPause)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3)
    ->Repetitions(3);

void BM_WriteFile_FileIO(benchmark::State& state) {
  FileIO io;
  if (io.read_file(g_input) != 0) state.SkipWithError("read_file failed");
  for (auto _ : state) {
    FreshOutput(state);
    if (io.write_file(g_output, io.buffer.get(), kFileSize) != 0) {
      state.SkipWithError("write_file failed");
    }
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_WriteFile_FileIO)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WriteFile_Posix(benchmark::State& state) {
  FileIO io;
  if (io.read_file(g_input) != 0) state.SkipWithError("read_file failed");
  const char* const data = io.buffer.get();
  for (auto _ : state) {
    FreshOutput(state);
    const int fd = ::open(g_output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    long done = 0;
    for (ssize_t put = 1; done < kFileSize && put > 0; done += put) {
      put = ::write(fd, data + done, static_cast<std::size_t>(kFileSize - done));
    }
    if (::close(fd) != 0 || done != kFileSize) state.SkipWithError("write failed");
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_WriteFile_Posix)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- FileIO: blocks (the argument is the block length) -----------------------------------

void BM_ReadBlock_FileIO(benchmark::State& state) {
  const long block = state.range(0);
  FileIO io;
  std::unique_ptr<char[]> data(new char[static_cast<std::size_t>(block)]);
  if (io.read_block_init(g_input, nullptr, block) != 0) state.SkipWithError("init failed");
  for (auto _ : state) {
    for (int n = 0; n < io.block_count; ++n) {
      if (io.read_block(data.get(), n) != block) state.SkipWithError("read_block failed");
    }
    benchmark::DoNotOptimize(data.get());
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_ReadBlock_FileIO)
    ->Arg(kSmallBlock)
    ->Arg(kLargeBlock)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The baseline: what read_block promises, done with the system calls: go to the block's
// place, read it.
void BM_ReadBlock_Posix(benchmark::State& state) {
  const long block = state.range(0);
  std::unique_ptr<char[]> data(new char[static_cast<std::size_t>(block)]);
  const int fd = ::open(g_input.c_str(), O_RDONLY | O_CLOEXEC);
  for (auto _ : state) {
    for (long n = 0; n < kFileSize / block; ++n) {
      ::lseek(fd, n * block, SEEK_SET);
      if (::read(fd, data.get(), static_cast<std::size_t>(block)) != block) {
        state.SkipWithError("read failed");
      }
    }
    benchmark::DoNotOptimize(data.get());
  }
  ::close(fd);
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_ReadBlock_Posix)
    ->Arg(kSmallBlock)
    ->Arg(kLargeBlock)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// For reference: one read() per block straight through the file, no seek: less than a
// block operation, which names its block.
void BM_ReadBlock_PosixSequential(benchmark::State& state) {
  const long block = state.range(0);
  std::unique_ptr<char[]> data(new char[static_cast<std::size_t>(block)]);
  const int fd = ::open(g_input.c_str(), O_RDONLY | O_CLOEXEC);
  for (auto _ : state) {
    ::lseek(fd, 0, SEEK_SET);
    for (long n = 0; n < kFileSize / block; ++n) {
      if (::read(fd, data.get(), static_cast<std::size_t>(block)) != block) {
        state.SkipWithError("read failed");
      }
    }
    benchmark::DoNotOptimize(data.get());
  }
  ::close(fd);
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_ReadBlock_PosixSequential)
    ->Arg(kSmallBlock)
    ->Arg(kLargeBlock)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_WriteBlock_FileIO(benchmark::State& state) {
  const long block = state.range(0);
  FileIO io;
  std::unique_ptr<char[]> data(new char[static_cast<std::size_t>(block)]());
  for (auto _ : state) {
    FreshOutput(state);
    if (io.write_block_init(g_output, nullptr, block, kFileSize) != 0) {
      state.SkipWithError("init failed");
    }
    for (int n = 0; n < io.block_count; ++n) {
      if (io.write_block(data.get(), n) != block) state.SkipWithError("write_block failed");
    }
    if (io.close() != 0) state.SkipWithError("close failed");
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_WriteBlock_FileIO)
    ->Arg(kSmallBlock)
    ->Arg(kLargeBlock)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_WriteBlock_Posix(benchmark::State& state) {
  const long block = state.range(0);
  std::unique_ptr<char[]> data(new char[static_cast<std::size_t>(block)]());
  for (auto _ : state) {
    FreshOutput(state);
    const int fd = ::open(g_output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    for (long n = 0; n < kFileSize / block; ++n) {
      ::lseek(fd, n * block, SEEK_SET);
      if (::write(fd, data.get(), static_cast<std::size_t>(block)) != block) {
        state.SkipWithError("write failed");
      }
    }
    if (::close(fd) != 0) state.SkipWithError("close failed");
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_WriteBlock_Posix)
    ->Arg(kSmallBlock)
    ->Arg(kLargeBlock)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// --- Lottery -------------------------------------------------------------------------------

void BM_Lottery6of49(benchmark::State& state) {
  lotto::Lottery lottery(6, 49);
  std::srand(1);
  for (auto _ : state) benchmark::DoNotOptimize(lottery.generateNumbers());
}
BENCHMARK(BM_Lottery6of49);

// The least a draw of 6 out of 49 does: the same rand() calls, the same rejection of
// repeats, into a fixed array with a 64-bit mask of the numbers drawn.
void BM_Lottery6of49_Baseline(benchmark::State& state) {
  std::srand(1);
  int numbers[6];
  for (auto _ : state) {
    std::uint64_t drawn = 0;
    for (int stored = 0; stored < 6;) {
      const int r = std::rand() % 49 + 1;
      const std::uint64_t bit = std::uint64_t{1} << r;
      if ((drawn & bit) == 0) {
        drawn |= bit;
        numbers[stored++] = r;
      }
    }
    benchmark::DoNotOptimize(numbers);
  }
}
BENCHMARK(BM_Lottery6of49_Baseline);

void BM_Lottery6of49_PrintTicket(benchmark::State& state) {
  lotto::Lottery lottery(6, 49);
  std::srand(1);
  for (auto _ : state) benchmark::DoNotOptimize(lottery.printTicket());
}
BENCHMARK(BM_Lottery6of49_PrintTicket);

// The same draw as the baseline above, written as text with std::to_chars and a blank
// after each number into a char array.
void BM_Lottery6of49_PrintTicket_Baseline(benchmark::State& state) {
  std::srand(1);
  for (auto _ : state) {
    int numbers[6];
    std::uint64_t drawn = 0;
    for (int stored = 0; stored < 6;) {
      const int r = std::rand() % 49 + 1;
      const std::uint64_t bit = std::uint64_t{1} << r;
      if ((drawn & bit) == 0) {
        drawn |= bit;
        numbers[stored++] = r;
      }
    }
    char ticket[64];
    char* end = ticket;
    for (int number : numbers) {
      end = std::to_chars(end, ticket + sizeof ticket, number).ptr;
      *end++ = ' ';
    }
    benchmark::DoNotOptimize(ticket);
    benchmark::DoNotOptimize(end);
  }
}
BENCHMARK(BM_Lottery6of49_PrintTicket_Baseline);

// --- Setup ---------------------------------------------------------------------------------

// Fills the input file with a repeating byte pattern and brings it to the disk, so that
// its write-back does not run during the measurements.
bool MakeInput(const std::string& path) {
  std::unique_ptr<char[]> block(new char[kLargeBlock]);
  for (long k = 0; k < kLargeBlock; ++k) block[k] = static_cast<char>(k * 131 + 7);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0;
  for (long n = 0; ok && n < kFileSize / kLargeBlock; ++n)
    ok = ::write(fd, block.get(), kLargeBlock) == kLargeBlock;
  if (ok) ok = ::fsync(fd) == 0;
  return fd >= 0 && ::close(fd) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const char* tmp = std::getenv("TMPDIR");
  const std::string base = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                           "/zv_util_bench_" + std::to_string(::getpid());
  g_input = base + ".in";
  g_output = base + ".out";
  int status = 0;
  if (MakeInput(g_input)) {
    benchmark::RunSpecifiedBenchmarks();
  } else {
    std::perror(g_input.c_str());
    status = 1;
  }
  benchmark::Shutdown();
  ::unlink(g_input.c_str());
  ::unlink(g_output.c_str());
  return status;
}
