// The one place that tells the user about a failure: every message on stderr starts with
// the program's name, and a failure that concerns a file names it once:
// "setlist: nosuch.txt: No such file or directory".
#pragma once

#include <string_view>

#include "platform/error.h"

namespace platform {

// The prefix of every message: "setlist", "Zorvanthelix".
void setProgramName(std::string_view name);

// "<program>: <message>" and a line end, on stderr (as UTF-8 text on a Windows console).
void reportError(std::string_view message);
// "<program>: <subject>: <text>", or "<program>: <text>" when it concerns nothing named.
void reportError(const Error& error);
// "<program>: warning: <message>".
void reportWarning(std::string_view message);
void reportWarning(const Error& error);
// "<program>: note: <message>": something worth knowing that is no fault.
void reportNote(std::string_view message);
// "<program>: <message>" on standard output (through std::cout, in order with the rest of
// the output): what a long run is doing, such as waiting or connected.
void reportProgress(std::string_view message);

// A count that goes on ("lb: 1000 of 2500 tracks sent"), kept on one line of stderr when
// it is a terminal, which the last one ends; nothing when stderr is not a terminal.
void reportCount(std::string_view message, bool last);
// A request to the user on stderr, as it is, line end included or not (a prompt for a
// secret).
void reportPrompt(std::string_view message);

}  // namespace platform
