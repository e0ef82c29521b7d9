// The subcommands of setlist. Each runs with its own arguments: argv[0] is its name.
#pragma once

#include <string>
#include <string_view>

#include "platform/error.h"

int runTracklist(int argc, char** argv);
int runCsv(int argc, char** argv);
int runJson(int argc, char** argv);
int runHtml(int argc, char** argv);
int runLive(int argc, char** argv);
int runCue(int argc, char** argv);
int runChapters(int argc, char** argv);
int runLogin(int argc, char** argv);
int runAccounts(int argc, char** argv);
int runLogout(int argc, char** argv);
int runScrobble(int argc, char** argv);

// Exit statuses.
constexpr int kStatusOk = 0;
constexpr int kStatusFailed = 1;     // a file could not be read, converted or written
constexpr int kStatusUsage = 2;      // a wrong command line
constexpr int kStatusStopped = 130;  // interrupted (Ctrl-C) before the output was complete

// The usage text, then a line for each subcommand, on standard output.
void printHelp();

// A wrong command line: what is wrong with it, told by usageError.
platform::Error wrongCommandLine(std::string message);
// "unknown option '<option>' for <subcommand>".
platform::Error unknownOption(std::string_view subcommand, std::string_view option);

// Tells a wrong command line ("setlist: <message>" and the usage text on stderr); returns
// kStatusUsage.
int usageError(const platform::Error& error);

// Tells a failure ("setlist: <file>: <reason>" on stderr); returns kStatusFailed.
int failed(const platform::Error& error);
