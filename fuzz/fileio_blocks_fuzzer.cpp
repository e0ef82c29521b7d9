// Fuzz target: the FileIO block layout with arbitrary file sizes, block lengths, totals and
// block numbers, on files in a temporary folder. The layout must follow the file's size
// (or the announced total) and the block length, a block length or total out of range
// must be refused with the layout unchanged, and every block read or written must move
// exactly the bytes of that block, or nothing and -1.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "util/FileIO.h"

namespace {

constexpr std::size_t kLargestFile = 1 << 16;
constexpr long kLargestWrittenEnd = 1 << 20;  // blocks are written only below 1 MiB

std::string folder;
std::string contentPath;
std::string blockPath;
std::string missingPath;

void removeFolder() {
  std::remove(contentPath.c_str());
  std::remove(blockPath.c_str());
  rmdir(folder.c_str());
}

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

struct Layout {
  std::int32_t filesize, block_count, last_block_size, block_size;
  explicit Layout(const FileIO& io)
      : filesize(io.filesize),
        block_count(io.block_count),
        last_block_size(io.last_block_size),
        block_size(io.block_size) {}
  bool operator==(const Layout&) const = default;
};

// A block length or total: anything a long holds, small ones, ones near the file's size,
// and the edges of the 32-bit range.
long pickLength(FuzzedDataProvider& in, std::size_t size) {
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
      return in.ConsumeIntegral<long>();
    case 1:
      return in.ConsumeIntegralInRange<long>(1, 64);
    case 2:
      return in.ConsumeIntegralInRange<long>(0, static_cast<long>(size) + 1);
    default: {
      static constexpr long kEdges[] = {0,        -1,       1,        INT32_MAX, INT32_MAX + 1L,
                                        LONG_MAX, LONG_MIN, INT32_MIN};
      return kEdges[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kEdges) - 1)];
    }
  }
}

// A block number: anything, or one near the blocks that exist.
long pickBlock(FuzzedDataProvider& in, std::int32_t count) {
  if (in.ConsumeBool()) return in.ConsumeIntegral<int>();
  return in.ConsumeIntegralInRange<long>(-1, static_cast<long>(count) + 1);
}

// The length that block n of a layout has, or -1 when the block does not exist.
long expectedLength(const Layout& layout, long n) {
  if (layout.block_size <= 0 || n < 0 || n > layout.block_count) return -1;
  if (n < layout.block_count) return layout.block_size;
  return layout.last_block_size > 0 ? layout.last_block_size : -1;
}

bool validLayoutArgument(long value, long lowest) { return value >= lowest && value <= INT32_MAX; }

void checkLayout(const FileIO& io, long size, long length) {
  check(io.filesize == size, "filesize is not the file's size or the total");
  check(io.block_size == length, "block_size is not the block length");
  check(io.block_count == size / length, "block_count is not the number of full blocks");
  check(io.last_block_size == size % length, "last_block_size is not the rest");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zv-fuzz-fileio.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  folder = pattern;
  contentPath = folder + "/content";
  blockPath = folder + "/blocks";
  missingPath = folder + "/missing";
  std::atexit(removeFolder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string content =
      in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, kLargestFile));
  const long fileSize = static_cast<long>(content.size());

  FileIO io;
  check(io.write_file(contentPath, content.data(), fileSize) == 0, "write_file failed");
  check(io.get_filesize(contentPath) == 0 && io.filesize == fileSize, "get_filesize is wrong");
  check(io.read_file(contentPath) == 0 && io.filesize == fileSize, "read_file failed");
  check(content.empty() || std::memcmp(io.buffer.get(), content.data(), content.size()) == 0,
        "read_file read other bytes");

  // A file that does not open leaves the layout as it was.
  const Layout untouched(io);
  check(io.read_block_init(missingPath, nullptr, in.ConsumeIntegral<long>()) == -1,
        "read_block_init took a missing file");
  check(Layout(io) == untouched, "a refused read_block_init changed the layout");

  // Reading in blocks.
  const long readLength = pickLength(in, content.size());
  const int readInit = io.read_block_init(contentPath, nullptr, readLength);
  if (validLayoutArgument(readLength, 1)) {
    check(readInit == 0, "read_block_init refused a good block length");
    checkLayout(io, fileSize, readLength);
  } else {
    check(readInit == -1, "read_block_init took a block length out of range");
    check(Layout(io) == untouched, "a refused read_block_init changed the layout");
  }
  const Layout readLayout(io);
  for (int reads = in.ConsumeIntegralInRange(0, 8); reads > 0; --reads) {
    const long n = pickBlock(in, readLayout.block_count);
    const long expected = readInit == 0 ? expectedLength(readLayout, n) : -1;
    // Exactly the block's room, so that a read of more is reported.
    std::vector<char> dest(static_cast<std::size_t>(expected > 0 ? expected : 1));
    const int got = io.read_block(dest.data(), static_cast<int>(n));
    check(got == expected, "read_block gave a length other than the block's");
    if (expected > 0) {
      check(std::memcmp(dest.data(), content.data() + n * readLayout.block_size, dest.size()) == 0,
            "read_block read bytes of another place");
    }
  }

  // Writing in blocks, in any order; what the file holds afterwards is modelled.
  std::remove(blockPath.c_str());
  const long writeLength = pickLength(in, content.size());
  const long total = pickLength(in, content.size());
  const int writeInit = io.write_block_init(blockPath, nullptr, writeLength, total);
  if (validLayoutArgument(writeLength, 1) && validLayoutArgument(total, 0)) {
    check(writeInit == 0, "write_block_init refused a good layout");
    checkLayout(io, total, writeLength);
  } else {
    check(writeInit == -1, "write_block_init took a layout out of range");
    check(Layout(io) == readLayout, "a refused write_block_init changed the layout");
  }
  const Layout writeLayout(io);
  std::string model;
  for (int writes = in.ConsumeIntegralInRange(0, 8); writes > 0; --writes) {
    const long n = pickBlock(in, writeLayout.block_count);
    const long expected = writeInit == 0 ? expectedLength(writeLayout, n) : -1;
    if (expected > static_cast<long>(kLargestFile) ||
        (expected > 0 && n * writeLayout.block_size + expected > kLargestWrittenEnd)) {
      continue;  // a real block, but too large for this test to hand over
    }
    std::vector<char> src(static_cast<std::size_t>(expected > 0 ? expected : 1));
    for (char& c : src) c = static_cast<char>(in.ConsumeIntegral<std::uint8_t>() | 1);
    const int got = io.write_block(src.data(), n);
    check(got == expected, "write_block gave a length other than the block's");
    if (expected > 0) {
      const auto at = static_cast<std::size_t>(n * writeLayout.block_size);
      if (model.size() < at + src.size()) model.resize(at + src.size(), '\0');
      model.replace(at, src.size(), src.data(), src.size());
    }
  }
  check(io.close() == 0, "close failed");

  FileIO reader;
  if (writeInit == 0) {
    check(reader.read_file(blockPath) == 0, "the block file does not read back");
    check(static_cast<std::size_t>(reader.filesize) == model.size(),
          "the block file has another size than the blocks written");
    check(model.empty() || std::memcmp(reader.buffer.get(), model.data(), model.size()) == 0,
          "the block file holds other bytes than the blocks written");
  } else {
    check(reader.get_filesize(blockPath) == -1, "a refused write_block_init created its file");
  }
  return 0;
}
