// The operating-system services the tracker needs, one implementation per system
// (platform-posix.cpp, platform-win32.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Bytes of the shared block that are mapped and read.
constexpr std::size_t kBlockSize = 4096;

// An opened named shared block: a file descriptor on POSIX, a HANDLE on Windows.
using BlockHandle = std::intptr_t;
constexpr BlockHandle kNoBlock = -1;

// Opens the named shared block for reading; kNoBlock on failure (see LastError).
BlockHandle OpenBlock(const char* name);

// Maps the first kBlockSize bytes of an opened block read-only; nullptr on failure
// (see LastError). A block smaller than kBlockSize does not map.
const char* MapBlock(BlockHandle block);

// Closes the handle of an opened block; a mapped view stays valid.
void CloseBlock(BlockHandle block);

// The system's error code of the last failed call (errno, GetLastError).
int LastError();

// Shows a text with a caption and a single OK button; returns once it is dismissed.
void ShowMessage(const char* text, const char* caption);

// Interrupts (Ctrl-C, termination requests) set a flag instead of killing the process,
// so a run can end between two polls. Also keeps a closed console pipe from killing it.
void InstallStopHandler();
bool StopRequested();

// Sleeps, returning early when a stop is requested.
void SleepMilliseconds(int ms);

// A file opened for writing: a file descriptor on POSIX, a HANDLE on Windows.
using File = std::intptr_t;

enum class CreateResult { kCreated, kExists, kFailed };

// Creates a new file for writing; never opens or empties an existing one.
CreateResult CreateNewFile(const std::string& path, File* file);

// Opens a file for appending, creating it when missing.
bool OpenForAppend(const std::string& path, File* file);

// Appends all of data at the end of the file, or nothing: a partial write is undone.
bool AppendAll(File file, std::string_view data);

// Brings the file's contents to stable storage, then closes it. False if either fails;
// the file is closed in every case.
bool SyncAndClose(File file);

}  // namespace platform
