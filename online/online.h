// What the commands that talk to web services share: logging in to a service, the
// requests of each service, and the User-Agent they send.
#pragma once

#include <cstddef>
#include <map>
#include <string>
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

// Each service's login: reads its secret from standard input, checks it with the service
// and returns the account to store. Said on stderr as it goes; an error when it fails.
platform::Expected<LoginResult> loginListenBrainz(const LoginRequest& request);
platform::Expected<LoginResult> loginLastfm(const LoginRequest& request);

// "Zorvanthelix-setlist/<version>".
std::string userAgent();

// The first request for the listens from `first` on, for the account: *request to send
// and *shown, what --dry-run prints of it (no secret in it). Returns how many it holds.
std::size_t listenBrainzRequest(const Account& account, const std::vector<Listen>& listens,
                                std::size_t first, platform::HttpRequest* request,
                                std::string* shown);
std::size_t lastfmRequest(const Account& account, const std::vector<Listen>& listens,
                          std::size_t first, platform::HttpRequest* request, std::string* shown);

// The services' judges of their answers (see request.h).
Verdict judgeListenBrainz(const Answer& answer);
Verdict judgeLastfm(const Answer& answer);
