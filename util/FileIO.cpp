#include "util/FileIO.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <limits>
#include <new>
#include <system_error>
#include <vector>

#include "platform/file_system.h"

namespace {

constexpr std::int64_t kLargestSize = std::numeric_limits<std::int32_t>::max();

// Opens the named file for reading, positioned at its end, and returns its size; -1 when it
// does not open, is a directory, or is too large for the class's 32-bit members. On
// failure the stream is left closed.
std::int64_t open_at_end(std::ifstream& stream, const std::string& name) {
  std::error_code ec;
  if (std::filesystem::is_directory(name, ec)) return -1;
  stream.open(name, std::ios::in | std::ios::binary | std::ios::ate);
  if (!stream.is_open()) return -1;
  const std::streamoff end = stream.tellg();
  if (end < 0 || end > kLargestSize) {
    stream.close();
    return -1;
  }
  return end;
}

// The modification time as "%a, %d %b %Y %X GMT", broken down as UTC; empty when it cannot
// be broken down.
std::string utc_text(std::time_t t) {
  const std::tm* tm = std::gmtime(&t);
  if (tm == nullptr) return {};
  char text[50];
  const std::size_t length = std::strftime(text, sizeof text, "%a, %d %b %Y %X GMT", tm);
  return std::string(text, length);
}

// The length of block n of a block layout; 0 when the layout has no such block (no
// layout, a negative number, or a number past the last, possibly empty, block).
std::int32_t blockLength(long n, std::int32_t size, std::int32_t count, std::int32_t last) {
  if (n < 0 || size <= 0 || n > count) return 0;
  return n == count ? last : size;
}

}  // namespace

int FileIO::get_filesize(std::string name) noexcept {
  try {
    // A block file keeps in_stream busy; measure on a stream of our own then.
    std::ifstream spare;
    std::ifstream& stream = in_stream.is_open() ? spare : in_stream;
    const std::int64_t size = open_at_end(stream, name);
    if (size < 0) return -1;
    filesize = static_cast<std::int32_t>(size);
    stream.close();
    return 0;
  } catch (...) {
    return -1;
  }
}

int FileIO::read_file(std::string name) noexcept {
  try {
    std::ifstream spare;
    std::ifstream& stream = in_stream.is_open() ? spare : in_stream;
    const std::int64_t size = open_at_end(stream, name);
    if (size < 0) return -1;
    std::unique_ptr<char[]> data(new (std::nothrow) char[static_cast<std::size_t>(size)]);
    if (!data) {
      stream.close();
      return -1;
    }
    filesize = static_cast<std::int32_t>(size);
    buffer = std::move(data);
    stream.seekg(0, std::ios::beg);
    stream.read(buffer.get(), size);
    stream.close();
    return (stream.fail() || stream.bad()) ? -1 : 0;
  } catch (...) {
    return -1;
  }
}

int FileIO::write_file(std::string name, const char* data, long length) noexcept {
  try {
    std::ofstream spare;
    std::ofstream& stream = out_stream.is_open() ? spare : out_stream;
    bool ok = length >= 0 && (data != nullptr || length == 0);
    if (ok) {
      stream.open(name, std::ios::out | std::ios::binary);
      ok = stream.is_open();
    }
    if (ok) {
      stream.write(data, length);
      stream.close();  // flushes: a full disk shows here at the latest
      ok = !stream.fail();
    }
    if (!ok) std::cerr << "\nI/O error\n";
    return ok ? 0 : -1;
  } catch (...) {
    return -1;
  }
}

int FileIO::read_block_init(std::string name, char*, long length) noexcept {
  try {
    if (length <= 0 || length > kLargestSize) return -1;
    // Unbuffered: each block is read by the system straight into dest. A buffer would
    // only add a copy, and since every block starts with a seek, which empties it, a
    // block shorter than the buffer would read the buffer's length from the file.
    std::ifstream next;
    next.rdbuf()->pubsetbuf(nullptr, 0);
    const std::int64_t size = open_at_end(next, name);
    if (size < 0) return -1;
    in_stream = std::move(next);
    filesize = static_cast<std::int32_t>(size);
    block_size = static_cast<std::int32_t>(length);
    block_count = filesize / block_size;
    last_block_size = filesize - block_count * block_size;
    return 0;
  } catch (...) {
    return -1;
  }
}

int FileIO::write_block_init(std::string name, char*, long length, long total) noexcept {
  try {
    if (length <= 0 || length > kLargestSize || total < 0 || total > kLargestSize) return -1;
    // Unbuffered: each block goes to the system in the call that writes it, so a failed
    // write shows in that block's result and leaves no bytes behind for a later block.
    std::ofstream next;
    next.rdbuf()->pubsetbuf(nullptr, 0);
    next.open(name, std::ios::out | std::ios::binary | std::ios::trunc);
    if (!next.is_open()) return -1;
    out_stream = std::move(next);  // closes, and so completes, an earlier output block file
    filesize = static_cast<std::int32_t>(total);
    block_size = static_cast<std::int32_t>(length);
    block_count = filesize / block_size;
    last_block_size = filesize - block_count * block_size;
    return 0;
  } catch (...) {
    return -1;
  }
}

int FileIO::read_block(char* dest, int n) {
  const std::int32_t length = blockLength(n, block_size, block_count, last_block_size);
  if (length == 0 || dest == nullptr) return -1;
  if (!in_stream.seekg(std::streamoff{n} * block_size, std::ios::beg) ||
      !in_stream.read(dest, length)) {
    in_stream.clear();
    return -1;
  }
  return length;
}

int FileIO::write_block(const char* src, long n) {
  const std::int32_t length = blockLength(n, block_size, block_count, last_block_size);
  if (length == 0 || src == nullptr) return -1;
  if (!out_stream.seekp(std::streamoff{n} * block_size, std::ios::beg) ||
      !out_stream.write(src, length)) {
    out_stream.clear();
    return -1;
  }
  return length;
}

int FileIO::file_stat(std::string name) noexcept {
  try {
    const auto found = platform::fileModificationTime(platform::utf8FromNarrowName(name));
    if (!found) {
      // as perror("stat") writes it
      std::fprintf(stderr, "stat: %s\n", found.error().text.c_str());
      return -1;
    }
    const std::time_t modified = *found;
    date_text = utc_text(modified);
    mtime = modified;
    return get_filesize(std::move(name));
  } catch (...) {
    return -1;
  }
}

int FileIO::delete_file(std::string name) {
  return platform::removeFile(platform::utf8FromNarrowName(name)) ? 0 : -1;
}

int FileIO::close() {
  int result = 0;
  if (out_stream.is_open()) {
    out_stream.clear();
    out_stream.close();
    if (out_stream.fail()) result = -1;
  }
  if (in_stream.is_open()) in_stream.close();
  return result;
}

std::string FileIO::dir_list(std::string path) noexcept {
  try {
    std::error_code ec;
    std::filesystem::directory_iterator it(path, ec);
    std::vector<std::string> names;
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
      names.push_back(it->path().filename().string());
    }
    if (ec) return {};
    std::sort(names.begin(), names.end());  // std::string compares bytes as unsigned char
    std::string list;
    for (const std::string& entry : names) {
      list += entry;
      list += '\n';
    }
    return list;
  } catch (...) {
    return {};
  }
}
