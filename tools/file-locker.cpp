// file-locker FILE: holds FILE as a spreadsheet showing it does (read, shared for reading
// only), so that writers find it in use. Prints "holding FILE" once it holds it and lets
// it go at the first line or the end of standard input, then prints "released FILE".
#include <iostream>
#include <string>

#include "platform/file_lock.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: file-locker FILE\n";
    return 2;
  }
  const std::string path = argv[1];
  platform::File file;
  platform::Error err;
  if (!platform::HoldForReading(path, &file, &err)) {
    std::cerr << err.text << "\n";
    return 1;
  }
  std::cout << "holding " << path << "\n" << std::flush;
  std::string line;
  std::getline(std::cin, line);
  platform::Release(file);
  std::cout << "released " << path << "\n" << std::flush;
  return 0;
}
