// The writer side of the named shared block, as the DJ application keeps it, for the
// stand-in. One implementation per system (block_writer-posix.cpp, -win32.cpp).
#pragma once

#include <cstddef>

#include "platform/error.h"
#include "platform/handle.h"

namespace platform {

struct WritableBlock {
  Handle handle;
  char* view = nullptr;  // the whole block, mapped for writing
  std::size_t size = 0;
  const char* name = nullptr;
};

// Creates (or takes over) the named block with the given size, zero-filled, mapped
// writable.
Status CreateWritableBlock(const char* name, std::size_t size, WritableBlock* block);

// Unmaps, closes and removes the block's name so that readers can no longer open it.
void RemoveWritableBlock(WritableBlock* block);

// Makes an interrupt (Ctrl-C), a termination request or a closed console remove the
// block's name before the process ends as the signal would end it, so that no stale
// block outlives a killed writer. Call once, right after CreateWritableBlock.
void RemoveBlockOnSignal(const WritableBlock& block);

}  // namespace platform
