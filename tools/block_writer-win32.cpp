// Win32 implementation of the writer side of the shared block: a named file mapping
// backed by the paging file, as the DJ application creates it.
#include <windows.h>

#include <cstring>

#include "tools/block_writer.h"

namespace platform {

Status CreateWritableBlock(const char* name, std::size_t size, WritableBlock* block) {
  const auto high = static_cast<DWORD>(static_cast<unsigned long long>(size) >> 32);
  const auto low = static_cast<DWORD>(size & 0xFFFFFFFFu);
  HANDLE mapping =
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, high, low, name);
  if (mapping == nullptr) {
    return systemError(static_cast<int>(GetLastError()), "CreateFileMappingA", name);
  }
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
  if (view == nullptr) {
    Error err = systemError(static_cast<int>(GetLastError()), "MapViewOfFile", name);
    CloseHandle(mapping);
    return err;
  }
  if (existed) std::memset(view, 0, size);  // a new section is zero-filled already
  block->handle = Handle(mapping);
  block->view = static_cast<char*>(view);
  block->size = size;
  block->name = name;
  return {};
}

void RemoveWritableBlock(WritableBlock* block) {
  // The name goes away with the last handle to the section.
  if (block->view != nullptr) UnmapViewOfFile(block->view);
  block->handle.reset();
  block->view = nullptr;
}

void RemoveBlockOnSignal(const WritableBlock&) {
  // Nothing to do: Windows removes the name when the process ends and its handles close.
}

}  // namespace platform
