// Kick chat announcements: Kick's public API lets an app send to the chat of the account
// it logged in as (OAuth 2.1's code flow with PKCE, through the loopback listener), not
// read it. The rules as plain functions (the message text and body, the verdicts), the
// login, and the chat that posts one message, refreshing a refused token once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "online/accounts.h"
#include "online/online.h"
#include "online/request.h"

inline constexpr std::string_view kKickApi = "https://api.kick.com";
inline constexpr std::string_view kKickAuthUrl = "https://id.kick.com";
inline constexpr std::string_view kKickScopes = "user:read chat:write";
// The port of the redirect URL, http://localhost:8047/callback, when --port gives none:
// Kick takes only the redirect URL entered in the app's settings.
constexpr unsigned short kKickPort = 8047;
// The most characters a chat message holds.
constexpr std::size_t kKickMessageLength = 500;

// What the user is told once when the token stays refused.
constexpr const char* kKickLogInAgain = "log in again with `setlist login kick`";

// The text as one chat message: each control character a space, cut to
// kKickMessageLength characters on a character boundary with "…" as the last.
std::string kickText(std::string_view text);
// {"type":"bot","content":…}: a message of the app to the logged-in account's chat.
std::string kickChatBody(std::string_view content);

// Kick's answer to a chat message: done when it says the message was sent; 401 the token
// is refused; 429 and server faults try again; any other refusal in Kick's words.
Verdict judgeKickChat(const Answer& answer);
// Kick's answer to GET /public/v1/users: done when it names the user.
Verdict judgeKickUser(const Answer& answer);

// setlist login kick: the client secret from standard input, the authorize page shown,
// the browser taken back on http://localhost:PORT/callback, the code exchanged for a
// token pair with the PKCE verifier, and the account's name asked for.
platform::Expected<LoginResult> loginKick(const LoginRequest& request);

// The chat of a Kick account of the accounts file at `accountsPath`.
class KickChat {
 public:
  KickChat(Account account, std::string accountsPath, Clock& clock = systemClock());
  // Posts one message: a refused token is refreshed once (the new pair stored) and the
  // message posted again; refused again, or the refresh token refused: kLoginAgain.
  Verdict send(const std::string& text, const StopSignal& stop);

 private:
  Verdict post(const std::string& text, const StopSignal& stop);
  // A new token pair with the refresh token: done (stored), log in again, or try later.
  Verdict refresh(const StopSignal& stop);
  std::string value(const char* key) const;

  Account account_;
  std::string accountsPath_;
  Clock& clock_;
};
