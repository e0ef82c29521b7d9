// The sending side of `setlist scrobble`: the sent file beside the set, the services
// that take scrobbles (rows of one table), and the Scrobbler that sends each account what
// it lacks, one request at a time, through the request helper.
#pragma once

#include <cstddef>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "online/accounts.h"
#include "online/online.h"
#include "online/request.h"
#include "online/scrobbling.h"
#include "platform/error.h"

// The whole of a file; the failure names it.
bool fileExists(const std::string& path);

// The sent file of the set: what is known of it, and appending to it.
class SentFile {
 public:
  explicit SentFile(std::string path) : path_(std::move(path)) {}
  const SentListens& known() const { return known_; }

  platform::Status load();
  // Makes sure the file can be written before anything is sent: a record that cannot be
  // kept would have the next run send the same tracks again.
  platform::Status checkWritable();
  // Appends the listens an account accepted and brings them to stable storage.
  platform::Status record(const std::string& account, std::span<const Listen> listens);

 private:
  std::string path_;
  SentListens known_;
  bool isNew_ = true;
};

// The row of the service of that name; null when it takes no scrobbles.
const ScrobbleService* findScrobbleService(std::string_view name);

// One account to send to, and how far it got. Under --follow only its own sender
// touches it until the sender ends.
struct Target {
  Account account;
  const ScrobbleService* service = nullptr;
  std::size_t sent = 0;     // accepted in this run
  bool stopped = false;     // it refused, or gave up: nothing more goes to it
  TimePoint nextRequest{};  // the service's spacing, or as the server asked
  bool tooOldNoted = false;
};

class Scrobbler {
 public:
  // With `follow`, a fault is tried again for as long as the run lasts.
  Scrobbler(bool follow, std::vector<Target> targets, SentFile* sentFile, Clock& clock)
      : follow_(follow), targets_(std::move(targets)), sent_(sentFile), clock_(clock) {}

  std::vector<Target>& targets() { return targets_; }
  bool anyStopped() const;

  // The listens of the set that `target` has not accepted yet (*before: how many it
  // has). Listens the service would drop as too old are left out, with a note once.
  std::vector<Listen> pending(Target& target, const std::vector<Listen>& listens,
                              std::size_t* before = nullptr);
  // "lb: 3 tracks sent, 2 sent before; 1 still wait (...)" for each account.
  void summary(const std::vector<Listen>& listens);
  // Prints the requests a run would send to the target.
  void show(Target& target, const std::vector<Listen>& listens);
  // Sends what the target still lacks of the listens. False when it stopped: it refused,
  // gave up after its tries, or a stop came.
  bool send(Target& target, const std::vector<Listen>& listens, const StopSignal& stop);

 private:
  bool sendOne(Target& target, std::span<const Listen> batch, std::size_t* taken,
               const StopSignal& stop);
  bool accept(Target& target, std::span<const Listen> listens, const Verdict& verdict);

  bool follow_;
  std::vector<Target> targets_;
  SentFile* sent_;
  std::mutex sentMutex_;  // the sent file, which every account's sender writes
  Clock& clock_;
};
