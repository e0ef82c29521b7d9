// The Discord status sender against a mock of the Discord app on a named pipe, as on
// Windows: the handshake, READY, a status, and the app closing its pipe mid-set.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "online/discord_presence.h"
#include "online/json.h"
#include "tests/online/fake_clock.h"

namespace {

using namespace std::chrono_literals;

// One client's connection to the app: READY after the handshake, an answer to each
// command; after `frames` frames the app closes the pipe, once the client has read all.
class PipeDiscord {
 public:
  PipeDiscord(const std::wstring& name, std::size_t frames) : frames_(frames) {
    pipe_ = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096,
                             4096, 0, nullptr);
    EXPECT_NE(pipe_, INVALID_HANDLE_VALUE);
    thread_ = std::thread([this] { serve(); });
  }
  ~PipeDiscord() { waitClosed(); }

  void waitClosed() {
    if (thread_.joinable()) thread_.join();
  }
  // The payloads received, read as JSON, with their opcodes.
  std::vector<std::pair<std::uint32_t, JsonValue>> received;

 private:
  bool read(void* buffer, DWORD size) {
    DWORD got = 0;
    return size == 0 || (ReadFile(pipe_, buffer, size, &got, nullptr) && got == size);
  }

  void answer(const std::string& json) {
    std::string frame = {1, 0, 0, 0};
    for (int shift = 0; shift < 32; shift += 8) {
      frame.push_back(static_cast<char>(json.size() >> shift));
    }
    frame += json;
    DWORD wrote = 0;
    WriteFile(pipe_, frame.data(), static_cast<DWORD>(frame.size()), &wrote, nullptr);
  }

  void serve() {
    ConnectNamedPipe(pipe_, nullptr);
    while (received.size() < frames_) {
      std::uint32_t header[2] = {};
      if (!read(header, sizeof(header))) break;
      std::string payload(header[1], '\0');
      if (!read(payload.data(), header[1])) break;
      const platform::Expected<JsonValue> json = parseJson(payload);
      EXPECT_TRUE(json.ok()) << payload;
      if (!json) break;
      received.emplace_back(header[0], *json);
      answer(header[0] == 0
                 ? R"({"cmd":"DISPATCH","evt":"READY","data":{"user":{"username":"dj"}}})"
                 : R"({"cmd":"SET_ACTIVITY","evt":null,"nonce":")" + (*json)["nonce"].string() +
                       "\"}");
    }
    FlushFileBuffers(pipe_);  // the client reads the last answer before the pipe closes
    DisconnectNamedPipe(pipe_);
    CloseHandle(pipe_);
  }

  HANDLE pipe_;
  std::size_t frames_;
  std::thread thread_;
};

TEST(DiscordPipe, ShowsTheTrackAndNoticesTheAppClosing) {
  const std::string name = "zv-discord-test-" + std::to_string(GetCurrentProcessId());
  PipeDiscord discord(L"\\\\.\\pipe\\" + std::wstring(name.begin(), name.end()), 2);
  std::vector<std::string> told;
  PresenceSettings settings;
  settings.clientId = "42";
  settings.paths = {platform::localStreamPath(name)};
  settings.tell = [&](const std::string& line) { told.push_back(line); };
  FakeClock clock;
  PresenceSender sender(settings, clock);
  EXPECT_EQ(sender.step(PresenceActivity{"Song A", "Artist A", 1765230000}), TimePoint::max());
  discord.waitClosed();
  clock.move(1s);
  EXPECT_EQ(sender.step(std::nullopt), clock.now() + 30s);
  ASSERT_EQ(discord.received.size(), 2u);
  EXPECT_EQ(discord.received[0].first, 0u);
  EXPECT_EQ(discord.received[0].second["client_id"].string(), "42");
  EXPECT_EQ(discord.received[1].first, 1u);
  const JsonValue& activity = discord.received[1].second["args"]["activity"];
  EXPECT_EQ(activity["details"].string(), "Song A");
  EXPECT_EQ(activity["type"].string(), "2");
  ASSERT_EQ(told.size(), 2u);
  EXPECT_EQ(told[0], "Discord status: connected to the Discord app of dj");
  EXPECT_EQ(told[1].rfind("Discord status: the connection to the Discord app ended (", 0), 0u)
      << told[1];
}

}  // namespace
