// The command line of setlist, shared by every command: exit statuses, the usage texts
// and the reports of a wrong command line or a failure.
#pragma once

#include <string>
#include <string_view>

#include "platform/error.h"

// Exit statuses.
constexpr int kStatusOk = 0;
constexpr int kStatusFailed = 1;     // a file could not be read, converted or written
constexpr int kStatusUsage = 2;      // a wrong command line
constexpr int kStatusStopped = 130;  // interrupted (Ctrl-C) before the output was complete

// The usage of every command, generated from the option table, then what each does, on
// standard output.
void printHelp();
// The usage of one command (or of each of a kind, "login") and its options' help lines,
// on standard output.
void printCommandHelp(std::string_view command);

// A wrong command line: what is wrong with it, told by usageError.
platform::Error wrongCommandLine(std::string message);
// "unknown option '<option>' for <subcommand>".
platform::Error unknownOption(std::string_view subcommand, std::string_view option);

// Tells a wrong command line on stderr: "setlist: <message>", then the usage of `command`
// only, a few lines (without a command, a word on every command); returns kStatusUsage.
int usageError(const platform::Error& error, std::string_view command = {});

// Tells a failure ("setlist: <file>: <reason>" on stderr); returns kStatusFailed.
int failed(const platform::Error& error);
