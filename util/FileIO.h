// Whole-file and fixed-size-block reading and writing, file sizes, file status and deletion.
// Results other than the status code (0 or -1) are left in the public data members.
#pragma once

#include <cstdint>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>

class FileIO {
 public:
  FileIO() noexcept = default;
  ~FileIO() = default;  // releases buffer, then closes out_stream, then in_stream
  FileIO(const FileIO&) = delete;
  FileIO& operator=(const FileIO&) = delete;

  // filesize = the size of the named file. -1 when it does not open, is a directory, or
  // holds 2 GiB or more.
  int get_filesize(std::string name) noexcept;

  // filesize and buffer = the whole named file (exactly filesize bytes, no terminating zero).
  int read_file(std::string name) noexcept;

  // Creates or empties the named file and writes length bytes from data to it. Any failure
  // writes "\nI/O error\n" to standard error and returns -1.
  int write_file(std::string name, const char* data, long length) noexcept;

  // Opens the named file as the input block file, replacing an earlier one, and lays it out
  // in blocks of length bytes. -1, with the layout unchanged, when the length is not
  // positive or the file cannot be measured. The pointer is not used.
  int read_block_init(std::string name, char* unused, long length) noexcept;

  // Reads block n into dest: the block's length, or -1 when the block does not exist or the
  // read falls short. A failed read leaves the stream ready for the next block.
  int read_block(char* dest, int n);

  // Creates or empties the named file as the output block file, replacing (and closing) an
  // earlier one, and lays out total bytes in blocks of length bytes. -1, with the layout
  // unchanged, when the length is not positive, the total does not fit or the file does not
  // open. The pointer is not used.
  int write_block_init(std::string name, char* unused, long length, long total) noexcept;

  // Writes block n from src at its place in the file: the block's length, or -1 when the
  // block does not exist or the write fails.
  int write_block(const char* src, long n);

  // date_text (the modification time as "%a, %d %b %Y %X GMT" in UTC), mtime and filesize of
  // the named file. A failed stat is reported on standard error as "stat: <reason>".
  int file_stat(std::string name) noexcept;

  // Removes the named file (not a directory).
  int delete_file(std::string name);

  // Closes both block files, flushing the output block file; -1 when that flush fails.
  int close();

  // The names of the directory's entries, each followed by "\n", sorted by byte value;
  // empty when the path is not a readable directory.
  std::string dir_list(std::string path) noexcept;

  std::ifstream in_stream;
  std::ofstream out_stream;
  std::int32_t filesize = 0;
  std::unique_ptr<char[]> buffer;
  std::int32_t block_count = 0;
  std::int32_t last_block_size = 0;
  std::int32_t block_size = 0;
  std::string date_text;
  std::time_t mtime = 0;
};
