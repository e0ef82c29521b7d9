#include "platform/local_stream.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

namespace {

#ifdef _WIN32
TEST(LocalStream, APipeOfThatName) {
  EXPECT_EQ(platform::localStreamPath("discord-ipc-0"), "\\\\?\\pipe\\discord-ipc-0");
}
#else
// $XDG_RUNTIME_DIR, else $TMPDIR, else /tmp; a variable that names no absolute path is
// passed over.
TEST(LocalStream, ASocketInTheRuntimeFolder) {
  struct Case {
    const char* runtime;
    const char* temporary;
    std::string path;
  };
  const Case cases[] = {
      {"/run/user/1000", "/var/tmp", "/run/user/1000/x"},
      {"/run/user/1000/", nullptr, "/run/user/1000/x"},
      {nullptr, "/var/tmp/", "/var/tmp/x"},
      {"run/user", "/var/tmp", "/var/tmp/x"},
      {"", "", "/tmp/x"},
      {nullptr, nullptr, "/tmp/x"},
  };
  const auto kept = [](const char* name) -> std::optional<std::string> {
    const char* value = getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
  };
  const std::optional<std::string> runtime = kept("XDG_RUNTIME_DIR");
  const std::optional<std::string> temporary = kept("TMPDIR");
  const auto set = [](const char* name, const char* value) {
    value != nullptr ? setenv(name, value, 1) : unsetenv(name);
  };
  for (const Case& c : cases) {
    set("XDG_RUNTIME_DIR", c.runtime);
    set("TMPDIR", c.temporary);
    EXPECT_EQ(platform::localStreamPath("x"), c.path) << c.path;
  }
  set("XDG_RUNTIME_DIR", runtime ? runtime->c_str() : nullptr);
  set("TMPDIR", temporary ? temporary->c_str() : nullptr);
}
#endif

}  // namespace
