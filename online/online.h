// What the commands that talk to web services share: logging in to a service, and the
// requests and judges of the services that take scrobbles.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "online/accounts.h"
#include "online/request.h"
#include "online/scrobbling.h"
#include "platform/error.h"
#include "platform/web_client.h"

// What `setlist login SERVICE` was given: the account's name, the API root (the service's
// default when --url is not given) and the service's own options ("--api-key" -> KEY).
struct LoginRequest {
  std::string name;
  std::string url;
  std::map<std::string, std::string> options;
};

// A new account, and a note for the user (such as why the token could not be checked).
struct LoginResult {
  Account account;
  std::string note;
};

// Last.fm's API root, the default of its login's --url.
inline constexpr std::string_view kLastfmApi = "https://ws.audioscrobbler.com/2.0/";

// Each service's login: reads its secret from standard input, checks it with the service
// and returns the account to store; an error when it fails. Prompts and progress go
// through the reporter; the success is told by the one caller (login.cpp).
platform::Expected<LoginResult> loginListenBrainz(const LoginRequest& request);
platform::Expected<LoginResult> loginLastfm(const LoginRequest& request);

// The request for as many of the listens as one request takes, for the account: *request
// to send and *shown, what --dry-run prints of it (no secret in it). Returns how many it
// holds.
using ScrobbleRequest = std::size_t (*)(const Account& account, std::span<const Listen> listens,
                                        platform::HttpRequest* request, std::string* shown);
std::size_t listenBrainzRequest(const Account& account, std::span<const Listen> listens,
                                platform::HttpRequest* request, std::string* shown);
std::size_t lastfmRequest(const Account& account, std::span<const Listen> listens,
                          platform::HttpRequest* request, std::string* shown);

// The services' judges of their answers (see request.h).
Verdict judgeListenBrainz(const Answer& answer);
Verdict judgeLastfm(const Answer& answer);

// A service that takes scrobbles: one row of the table in scrobble_sender.cpp.
struct ScrobbleService {
  std::string_view name;              // its accounts' service in the accounts file
  std::string_view title;             // its name for people
  std::chrono::milliseconds spacing;  // the least time between two requests to an account
  std::size_t batch;                  // the most listens one request holds
  std::int64_t oldestSeconds;         // listens older than this are not sent; 0: any
  ScrobbleRequest request;
  Judge judge;
};
