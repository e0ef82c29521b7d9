// The process's operating-system services that the tracker and setlist share: the DJ
// application's block, stopping and sleeping, a message for the user and the program's
// arguments. One
// implementation per system (platform-posix.cpp, platform-win32.cpp). A call that fails
// returns false (or an empty handle, nullptr) and, when err is given, says why in *err.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/handle.h"

namespace platform {

// Opens the named shared block, or says why it does not open. Closing the
// handle leaves a mapped view valid.
Expected<Handle> openBlock(const char* name);

// Maps the first size bytes of an opened block, to be read only: read-only on POSIX; on
// Windows with the all-access mask the block has always been opened with. A block smaller
// than size does not map; on POSIX, a block that shrinks later reads as zeros instead of
// faulting.
Expected<const char*> mapBlock(const Handle& block, std::size_t size);

// Whether the block's owner has removed it since it was opened, so that a block of the
// same name is now another one. POSIX removes the name while readers still map the old
// block; Windows keeps a block while anyone holds it, so there it is never removed.
bool blockRemoved(const Handle& block);

// Unmaps a view that mapBlock returned.
void unmapBlock(const char* view, std::size_t size);

// Shows a text with a caption and a single OK button; returns once it is dismissed.
void showMessage(const char* text, const char* caption);

// Interrupts (Ctrl-C, termination requests, a closed console) request a stop instead of
// killing the process, so a run can end between two polls. Also keeps a closed console
// pipe from killing it.
void installStopHandler();
bool stopRequested();
// What an interrupt does; any thread may call it.
void requestStop();

// Sleeps, returning early once a stop is requested (after installStopHandler).
void sleepMilliseconds(int ms);

// The program's arguments in UTF-8 (on Windows, argv holds them in the ANSI code page,
// which cannot hold every file name).
std::vector<std::string> utf8Arguments(int argc, char** argv);

}  // namespace platform
