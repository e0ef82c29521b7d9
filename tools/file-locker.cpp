// file-locker FILE: holds FILE as a spreadsheet showing it does (read, shared for reading
// only), so that writers find it in use. Prints "holding FILE" once it holds it and lets
// it go at the first line or the end of standard input, then prints "released FILE".
// Windows only: POSIX has no locks that keep a writer out.
#include <windows.h>

#include <iostream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: file-locker FILE\n";
    return 2;
  }
  const std::string path = argv[1];
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::cerr << "CreateFileA(" << path << "): error " << GetLastError() << "\n";
    return 1;
  }
  std::cout << "holding " << path << "\n" << std::flush;
  std::string line;
  std::getline(std::cin, line);
  CloseHandle(file);
  std::cout << "released " << path << "\n" << std::flush;
  return 0;
}
