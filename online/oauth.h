// OAuth 2.0 as the services use it, on the request helper: a form POST to a token
// endpoint, and one judge of its answers for the device flow, the code flow and the
// refresh of a token pair.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "online/request.h"
#include "platform/web_client.h"

// Bytes in base64url (RFC 4648, section 5) without padding, as PKCE writes its challenge.
std::string base64Url(std::string_view bytes);

// PKCE (RFC 7636): a random code verifier of 64 unreserved characters, and its S256
// challenge, the base64url of its SHA-256.
struct Pkce {
  std::string verifier;
  std::string challenge;
};
Pkce newPkce();
std::string pkceChallenge(std::string_view verifier);

// A form POST of the fields to the URL, asking for JSON.
platform::HttpRequest oauthForm(const std::string& url,
                                const std::vector<platform::Header>& fields);

// The server's words in an OAuth answer ("message", "error_description", "error"); empty
// when it has none.
std::string oauthWords(const JsonValue& json);

// An answer of a token endpoint: done when it holds an access_token. The device flow's
// "authorization_pending" and "slow_down" are tried again (the message says which); any
// other 400 or 401 refuses the code or the refresh token: log in again. Anything else (a
// 5xx, a page, no answer) is a server fault, tried again.
Verdict judgeToken(const Answer& answer);

// The device flow's wait: sends `poll` every `interval` (5 s more after each slow_down)
// until the user has allowed the device code, `expiresIn` has passed or a stop came.
// Done with the token answer's JSON; refused with the server's words or the expiry; or
// stopped. A failure to reach the server is told as a warning and tried again.
Verdict waitForDeviceToken(const platform::HttpRequest& poll, Seconds interval, Seconds expiresIn,
                           Clock& clock, const StopSignal& stop);
