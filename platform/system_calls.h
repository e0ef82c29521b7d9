// The system calls under the shared logic of output_file.cpp and console.cpp, one
// implementation per system (file_system-posix.cpp, file_system-win32.cpp,
// console-posix.cpp, console-win32.cpp). Not for callers outside platform/. `subject`
// names the file in an error text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/console.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/handle.h"

namespace platform {

// Writes all of data, in as many writes as the system needs (shared, output_file.cpp).
Status writeAll(Handle::Native file, std::string_view data, std::string_view subject);

namespace sys {

// Creates a new file for the new version of another, readable but not writable by others,
// or (ownerOnly) neither readable nor writable by others.
CreateResult createTemporary(const std::string& path, bool ownerOnly, Handle* file, Error* err);

// Opens an existing file that is not a regular one (a FIFO, a device, NUL) for writing.
Expected<Handle> openForWriting(const std::string& path);

// Opens an existing file for reading; others may go on writing it meanwhile.
Expected<Handle> openForReading(const std::string& path);

// One write of up to data.size() bytes: how many (at least one) were written.
Expected<std::size_t> writeSome(Handle::Native file, std::string_view data,
                                std::string_view subject);

// One read: the count read, 0 at the end.
Expected<std::size_t> readSome(Handle::Native file, char* data, std::size_t size,
                               std::string_view subject);

// Moves to the end of the file; where it is.
Expected<std::uint64_t> seekEnd(Handle::Native file, std::string_view subject);

// Cuts the file off at size bytes; the next write lands there.
Status truncate(Handle::Native file, std::uint64_t size, std::string_view subject);

// Brings the file's contents to stable storage.
Status sync(Handle::Native file, std::string_view subject);

// Closes the file, reporting a failure of the close.
Status close(Handle& file, std::string_view subject);

// Renames from over to, and brings the rename to stable storage.
Status replace(const std::string& from, const std::string& to);

// This process's id, for names no other process uses.
unsigned long processId();
// Whether a process of that id runs (a process of another user counts).
bool processRunning(unsigned long id);

// The standard stream's handle (not owned), and whether it is a console (a terminal):
// then writeConsole writes to it, showing the characters the bytes encode.
Handle::Native standardStream(StandardStream stream);
bool isConsole(StandardStream stream);
Status writeConsole(StandardStream stream, std::string_view bytes, TextEncoding encoding);

// Whether a console shows text of this encoding right from its bytes as they are, so
// that std::cout and std::cerr need not go through writeConsole.
bool consoleShowsAsIs(TextEncoding encoding);

}  // namespace sys

}  // namespace platform
