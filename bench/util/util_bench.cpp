// Date conversions, and FileIO's whole-file and block transfers on a 256 MiB file beside
// plain POSIX read()/write() loops on the same file. Linux only.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>
#include <streambuf>
#include <string>

#include "util/Date.h"
#include "util/FileIO.h"

namespace {

constexpr long kFileSize = 256L << 20;
constexpr long kBlock = 1L << 20;

std::string g_input;   // the 256 MiB file that the reads take
std::string g_output;  // the file that the writes make

// Swallows the trace lines of the calendar-time conversions while they are timed.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

void BM_DateFromText(benchmark::State& state, const char* text) {
  Date date;
  for (auto _ : state) {
    benchmark::DoNotOptimize(date.convert_date(text));
  }
}
BENCHMARK_CAPTURE(BM_DateFromText, rfc1123, "Sun, 13 Nov 1994 08:49:37 GMT");
BENCHMARK_CAPTURE(BM_DateFromText, rfc1036, "Wednesday, 16-Nov-94 08:49:37 GMT");
BENCHMARK_CAPTURE(BM_DateFromText, asctime, "Sun Nov  6 08:49:37 1994");
BENCHMARK_CAPTURE(BM_DateFromText, rejected, "1994-11-13 08:49:37");

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

void BM_ReadFile_FileIO(benchmark::State& state) {
  FileIO io;
  for (auto _ : state) {
    if (io.read_file(g_input) != 0) state.SkipWithError("read_file failed");
    benchmark::DoNotOptimize(io.buffer.get());
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_ReadFile_FileIO)->Unit(benchmark::kMillisecond)->UseRealTime();

// Reads the whole file with plain read() calls into the given array.
bool ReadWhole(char* data) {
  const int fd = ::open(g_input.c_str(), O_RDONLY);
  long done = 0;
  for (ssize_t got = 1; done < kFileSize && got > 0; done += got) {
    got = ::read(fd, data + done, static_cast<std::size_t>(kFileSize - done));
  }
  return ::close(fd) == 0 && done == kFileSize;
}

// The plain loop doing what read_file promises: the whole file in a new array every time.
void BM_ReadFile_Posix(benchmark::State& state) {
  for (auto _ : state) {
    std::unique_ptr<char[]> data(new char[kFileSize]);
    if (!ReadWhole(data.get())) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(data.get());
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_ReadFile_Posix)->Unit(benchmark::kMillisecond)->UseRealTime();

// For reference: the same loop into one array reused every time, which shows what the
// fresh array costs (the system hands out and clears a page at a time).
void BM_ReadFile_PosixReusedArray(benchmark::State& state) {
  std::unique_ptr<char[]> data(new char[kFileSize]);
  for (auto _ : state) {
    if (!ReadWhole(data.get())) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(data.get());
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_ReadFile_PosixReusedArray)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadBlock_FileIO(benchmark::State& state) {
  FileIO io;
  std::unique_ptr<char[]> block(new char[kBlock]);
  if (io.read_block_init(g_input, nullptr, kBlock) != 0) state.SkipWithError("init failed");
  for (auto _ : state) {
    for (int n = 0; n < io.block_count; ++n) {
      if (io.read_block(block.get(), n) != kBlock) state.SkipWithError("read_block failed");
    }
    benchmark::DoNotOptimize(block.get());
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_ReadBlock_FileIO)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadBlock_Posix(benchmark::State& state) {
  std::unique_ptr<char[]> block(new char[kBlock]);
  const int fd = ::open(g_input.c_str(), O_RDONLY);
  for (auto _ : state) {
    for (long n = 0; n < kFileSize / kBlock; ++n) {
      ::lseek(fd, n * kBlock, SEEK_SET);
      if (::read(fd, block.get(), kBlock) != kBlock) state.SkipWithError("read failed");
    }
    benchmark::DoNotOptimize(block.get());
  }
  ::close(fd);
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_ReadBlock_Posix)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WriteFile_FileIO(benchmark::State& state) {
  FileIO io;
  if (io.read_file(g_input) != 0) state.SkipWithError("read_file failed");
  for (auto _ : state) {
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
    const int fd = ::open(g_output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    long done = 0;
    for (ssize_t put = 1; done < kFileSize && put > 0; done += put) {
      put = ::write(fd, data + done, static_cast<std::size_t>(kFileSize - done));
    }
    if (::close(fd) != 0 || done != kFileSize) state.SkipWithError("write failed");
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_WriteFile_Posix)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WriteBlock_FileIO(benchmark::State& state) {
  FileIO io;
  std::unique_ptr<char[]> block(new char[kBlock]());
  for (auto _ : state) {
    if (io.write_block_init(g_output, nullptr, kBlock, kFileSize) != 0) {
      state.SkipWithError("init failed");
    }
    for (int n = 0; n < io.block_count; ++n) {
      if (io.write_block(block.get(), n) != kBlock) state.SkipWithError("write_block failed");
    }
    if (io.close() != 0) state.SkipWithError("close failed");
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_WriteBlock_FileIO)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WriteBlock_Posix(benchmark::State& state) {
  std::unique_ptr<char[]> block(new char[kBlock]());
  for (auto _ : state) {
    const int fd = ::open(g_output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (long n = 0; n < kFileSize / kBlock; ++n) {
      ::lseek(fd, n * kBlock, SEEK_SET);
      if (::write(fd, block.get(), kBlock) != kBlock) state.SkipWithError("write failed");
    }
    if (::close(fd) != 0) state.SkipWithError("close failed");
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_WriteBlock_Posix)->Unit(benchmark::kMillisecond)->UseRealTime();

// Fills the input file with a repeating byte pattern.
bool MakeInput(const std::string& path) {
  std::unique_ptr<char[]> block(new char[kBlock]);
  for (long k = 0; k < kBlock; ++k) block[k] = static_cast<char>(k * 131 + 7);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  bool ok = fd >= 0;
  for (long n = 0; ok && n < kFileSize / kBlock; ++n)
    ok = ::write(fd, block.get(), kBlock) == kBlock;
  return fd >= 0 && ::close(fd) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const std::string base = "/tmp/zv_util_bench_" + std::to_string(::getpid());
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
