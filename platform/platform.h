// The operating-system services the tracker needs, one implementation per system
// (platform-posix.cpp, platform-win32.cpp). A call that fails returns false (or kNoBlock,
// nullptr, kFailed) and, when err is given, says why in *err.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace platform {

// An opened named shared block: a file descriptor on POSIX, a HANDLE on Windows.
using BlockHandle = std::intptr_t;
constexpr BlockHandle kNoBlock = -1;

// Opens the named shared block for reading.
BlockHandle OpenBlock(const char* name, Error* err);

// Maps the first size bytes of an opened block read-only. A block smaller than size
// does not map; on POSIX, a block that shrinks later reads as zeros instead of faulting.
const char* MapBlock(BlockHandle block, std::size_t size, Error* err);

// Closes the handle of an opened block; a mapped view stays valid.
void CloseBlock(BlockHandle block);

// Whether the block's owner has removed it since it was opened, so that a block of the
// same name is now another one. POSIX removes the name while readers still map the old
// block; Windows keeps a block while anyone holds it, so there it is never removed.
bool BlockRemoved(BlockHandle block);

// Unmaps a view that MapBlock returned.
void UnmapBlock(const char* view, std::size_t size);

// Shows a text with a caption and a single OK button; returns once it is dismissed.
void ShowMessage(const char* text, const char* caption);

// Interrupts (Ctrl-C, termination requests, a closed console) request a stop instead of
// killing the process, so a run can end between two polls. Also keeps a closed console
// pipe from killing it.
void InstallStopHandler();
bool StopRequested();
// What an interrupt does; any thread may call it.
void RequestStop();

// Sleeps, returning early once a stop is requested (after InstallStopHandler).
void SleepMilliseconds(int ms);

// A file opened for writing: a file descriptor on POSIX, a HANDLE on Windows.
using File = std::intptr_t;

enum class CreateResult { kCreated, kExists, kFailed };

// Creates a new file for writing; never opens or empties an existing one.
CreateResult CreateNewFile(const std::string& path, File* file, Error* err);

enum class OpenResult { kOpened, kInUse, kFailed };

// Opens a file for appending, creating it when missing. kInUse: another program holds the
// file open in a way that forbids writing (on Windows, a sharing or lock violation), so a
// later attempt may succeed; POSIX has no such locks and never answers kInUse.
OpenResult OpenForAppend(const std::string& path, File* file, Error* err);

// Appends all of data at the end of the file, or nothing: a partial write is undone.
bool AppendAll(File file, std::string_view data, Error* err);

// Brings the file's contents to stable storage, then closes it. The file is closed in
// every case.
bool SyncAndClose(File file, Error* err);

}  // namespace platform
