// The Discord status sender against a mock of the Discord app on a Unix socket in a
// temporary folder: the frames it sends, the spacing of its updates, and the app closing
// mid-set and coming back, on a clock the test moves by hand.
#include "online/discord_presence.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "online/json.h"
#include "platform/local_stream.h"
#include "tests/online/fake_clock.h"

namespace {

using namespace std::chrono_literals;

// One frame the mock received: its opcode and its payload read as JSON.
struct Received {
  std::uint32_t opcode;
  JsonValue json;
};

std::uint32_t littleEndian(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// Reads exactly `size` bytes; false at the end of the connection.
bool readAll(int socket, void* buffer, std::size_t size) {
  auto* at = static_cast<char*>(buffer);
  while (size > 0) {
    const ssize_t got = ::recv(socket, at, size, 0);
    if (got <= 0) return false;
    at += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

// The Discord app as far as a status setter meets it: one client at a time; READY after a
// handshake; an answer to each command, with the command's nonce.
class MockDiscord {
 public:
  // `running`: whether the app runs from the start.
  explicit MockDiscord(std::string path, bool running = true) : path_(std::move(path)) {
    if (running) open();
  }
  ~MockDiscord() { quit(); }

  // The app quits: the connection and the socket close, and the socket's file goes.
  void quit() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
  }
  // The app starts again.
  void open() {
    listener_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof(address.sun_path) - 1);
    ::unlink(path_.c_str());
    EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    EXPECT_EQ(::listen(listener_, 4), 0);
    stopping_ = false;
    thread_ = std::thread([this] { serve(); });
  }

  std::vector<Received> frames() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }
  int connections() const { return connections_; }

 private:
  void serve() {
    int client = -1;
    while (!stopping_) {
      pollfd watched[2] = {{listener_, POLLIN, 0}, {client, POLLIN, 0}};
      if (::poll(watched, client < 0 ? 1 : 2, 10) <= 0) continue;
      if ((watched[0].revents & POLLIN) != 0) {
        if (client >= 0) ::close(client);
        client = ::accept(listener_, nullptr, nullptr);
        ++connections_;
      } else if (client >= 0 && watched[1].revents != 0 && !hear(client)) {
        ::close(client);
        client = -1;
      }
    }
    if (client >= 0) ::close(client);
    ::close(listener_);
    ::unlink(path_.c_str());
  }

  // Reads a frame and answers it; false at the end of the connection.
  bool hear(int client) {
    unsigned char header[8];
    if (!readAll(client, header, sizeof(header))) return false;
    std::string payload(littleEndian(header + 4), '\0');
    if (!readAll(client, payload.data(), payload.size())) return false;
    const platform::Expected<JsonValue> json = parseJson(payload);
    EXPECT_TRUE(json.ok()) << payload;
    if (!json) return false;
    const std::uint32_t opcode = littleEndian(header);
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      frames_.push_back({opcode, *json});
    }
    if (opcode == 0) {
      return answer(client, R"({"cmd":"DISPATCH","evt":"READY","nonce":null,)"
                            R"("data":{"v":1,"user":{"id":"1","username":"djane"}}})");
    }
    return answer(client, R"({"cmd":")" + (*json)["cmd"].string() +
                              R"(","evt":null,"data":{},"nonce":")" + (*json)["nonce"].string() +
                              "\"}");
  }

  static bool answer(int client, const std::string& json) {
    std::string frame = {1, 0, 0, 0};
    for (int shift = 0; shift < 32; shift += 8)
      frame.push_back(static_cast<char>(json.size() >> shift));
    frame += json;
    return ::send(client, frame.data(), frame.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(frame.size());
  }

  std::string path_;
  int listener_ = -1;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::mutex mutex_;
  std::vector<Received> frames_;
};

class DiscordPresenceTest : public testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/zv-discord-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    folder_ = folder;
    // The first path: a socket file that nobody listens at any more (an app that crashed).
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, (folder_ + "/discord-ipc-0").c_str(),
                 sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(stale);
    settings_.clientId = "1234567890";
    settings_.paths = {folder_ + "/discord-ipc-0", folder_ + "/discord-ipc-1"};
    settings_.tell = [this](const std::string& line) { told_.push_back(line); };
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  // The songs of the SET_ACTIVITY frames received so far ("" for a cleared status).
  static std::vector<std::string> songs(const std::vector<Received>& frames) {
    std::vector<std::string> sent;
    for (const Received& frame : frames) {
      if (frame.json["cmd"].string() != "SET_ACTIVITY") continue;
      const JsonValue& activity = frame.json["args"]["activity"];
      sent.push_back(activity.isNull() ? "" : activity["details"].string());
    }
    return sent;
  }

  std::string folder_;
  PresenceSettings settings_;
  std::vector<std::string> told_;
};

const PresenceActivity kA{"Song A", "Artist A", 1765230000};
const PresenceActivity kB{"Song B", "Artist B", 1765230001};
const PresenceActivity kC{"Song C", "Artist C", 1765230014};

constexpr auto kNever = TimePoint::max();

TEST_F(DiscordPresenceTest, ShowsEachTrackAsListeningAtMostEvery15Seconds) {
  MockDiscord discord(folder_ + "/discord-ipc-1");
  FakeClock clock;
  const TimePoint start = clock.now();
  PresenceSender sender(settings_, clock);
  // Each step: the time moved before it, the status wanted, the songs sent by then (""
  // for a cleared status) and the time of the next step the sender asks for.
  struct Step {
    std::chrono::seconds move;
    std::optional<PresenceActivity> wanted;
    std::vector<std::string> songs;
    std::optional<std::chrono::seconds> next;  // none: no step needed
  };
  const Step steps[] = {
      {0s, std::nullopt, {}, std::nullopt},  // connects; nothing on air yet
      {1s, kA, {"Song A"}, std::nullopt},
      {1s, kB, {"Song A"}, 16s},   // waits for 15 s after A...
      {12s, kC, {"Song A"}, 16s},  // ...and C replaces B
      {2s, kC, {"Song A", "Song C"}, std::nullopt},
      {20s, std::nullopt, {"Song A", "Song C", ""}, std::nullopt},  // nothing on air
      {1s, kB, {"Song A", "Song C", ""}, 51s},
      {15s, kB, {"Song A", "Song C", "", "Song B"}, std::nullopt},
  };
  for (const Step& step : steps) {
    clock.move(step.move);
    const TimePoint next = sender.step(step.wanted);
    EXPECT_EQ(songs(discord.frames()), step.songs) << (clock.now() - start).count();
    EXPECT_EQ(next, step.next ? start + *step.next : kNever) << (clock.now() - start).count();
  }
  sender.finish();  // live ends: the status is cleared
  const std::vector<Received> frames = discord.frames();
  EXPECT_EQ(songs(frames).back(), "");
  ASSERT_EQ(frames.size(), 6u);  // the handshake, A, C, cleared, B, cleared
  EXPECT_EQ(frames[0].opcode, 0u);
  EXPECT_EQ(frames[0].json["v"].string(), "1");
  EXPECT_EQ(frames[0].json["client_id"].string(), "1234567890");
  const JsonValue& set = frames[1].json;
  EXPECT_EQ(frames[1].opcode, 1u);
  EXPECT_EQ(set["args"]["pid"].string(), std::to_string(platform::processId()));
  const JsonValue& activity = set["args"]["activity"];
  EXPECT_EQ(activity["type"].string(), "2");
  EXPECT_EQ(activity["state"].string(), "Artist A");
  EXPECT_EQ(activity["timestamps"]["start"].string(), "1765230000");
  EXPECT_NE(set["nonce"].string(), frames[2].json["nonce"].string());
  EXPECT_EQ(discord.connections(), 1);
  EXPECT_EQ(told_,
            std::vector<std::string>{"Discord status: connected to the Discord app of djane"});
}

// Not running at the start, then quitting mid-set and starting again: the sender tries
// every 30 s, says so once each time, and shows the track on air again.
TEST_F(DiscordPresenceTest, TriesAgainEvery30SecondsAndSaysSoOnce) {
  MockDiscord discord(folder_ + "/discord-ipc-1", false);
  FakeClock clock;
  PresenceSender sender(settings_, clock);
  struct Step {
    std::chrono::seconds move;
    void (MockDiscord::*app)();  // what the app does before the step, if anything
    int connections;
    std::vector<std::string> songs;
    std::size_t told;
  };
  const Step steps[] = {
      {0s, nullptr, 0, {}, 1},
      {20s, &MockDiscord::open, 0, {}, 1},
      {10s, nullptr, 1, {"Song A"}, 2},
      {1s, &MockDiscord::quit, 1, {"Song A"}, 3},
      {29s, &MockDiscord::open, 1, {"Song A"}, 3},
      {1s, nullptr, 2, {"Song A", "Song A"}, 4},
  };
  for (const Step& step : steps) {
    clock.move(step.move);
    if (step.app != nullptr) (discord.*step.app)();
    sender.step(kA);
    EXPECT_EQ(discord.connections(), step.connections);
    EXPECT_EQ(songs(discord.frames()), step.songs);
    EXPECT_EQ(told_.size(), step.told);
  }
  const char* starts[] = {"Discord status: the Discord app is not running or cannot be reached (",
                          "Discord status: connected to the Discord app of djane",
                          "Discord status: the connection to the Discord app ended (",
                          "Discord status: connected again to the Discord app of djane"};
  for (std::size_t i = 0; i < told_.size() && i < std::size(starts); ++i) {
    EXPECT_EQ(told_[i].rfind(starts[i], 0), 0u) << told_[i];
  }
  EXPECT_NE(told_[0].find("/discord-ipc-0 to " + folder_ + "/discord-ipc-1: Connection refused"),
            std::string::npos)
      << told_[0];
  EXPECT_NE(told_[2].find("trying again every 30 s"), std::string::npos) << told_[2];
}

}  // namespace
