#include "platform/report.h"

#include <iostream>
#include <string>

#include "platform/console.h"

namespace platform {

namespace {

std::string& programName() {
  static std::string name = "setlist";
  return name;
}

void emit(std::string_view kind, std::string_view subject, std::string_view text) {
  std::string line = programName() + ": ";
  line.append(kind);
  if (!subject.empty()) line.append(subject).append(": ");
  line.append(text).append("\n");
  static_cast<void>(writeStandard(StandardStream::kError, line, TextEncoding::kUtf8));
}

}  // namespace

void setProgramName(std::string_view name) { programName().assign(name); }

void reportError(std::string_view message) { emit("", "", message); }
void reportError(const Error& error) { emit("", error.subject, error.text); }
void reportWarning(std::string_view message) { emit("warning: ", "", message); }
void reportWarning(const Error& error) { emit("warning: ", error.subject, error.text); }
void reportNote(std::string_view message) { emit("note: ", "", message); }

void reportProgress(std::string_view message) {
  std::cout << programName() << ": " << message << "\n" << std::flush;
}

void reportCount(std::string_view message, bool last) {
  if (!isTerminal(StandardStream::kError)) return;
  std::string line = "\r" + programName() + ": ";
  line.append(message).append(last ? "\n" : "");
  (void)writeStandard(StandardStream::kError, line, TextEncoding::kUtf8);
}

void reportPrompt(std::string_view message) {
  (void)writeStandard(StandardStream::kError, message, TextEncoding::kUtf8);
}

}  // namespace platform
