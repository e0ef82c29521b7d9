// Twitch's OAuth endpoints under {auth} (https://id.twitch.tv by default), shared by
// `setlist login twitch` and the chat, which refreshes its token there.
#pragma once

#include <string>
#include <vector>

#include "online/json.h"
#include "platform/error.h"
#include "platform/web_client.h"

constexpr const char* kTwitchAuthUrl = "https://id.twitch.tv";

// An answer of the OAuth server: its HTTP status and its JSON (null when not JSON).
struct OAuthAnswer {
  int status = 0;
  JsonValue json;
};

// POSTs the fields as a form to {auth}{path}. A failure is one of the connection.
platform::Expected<OAuthAnswer> postOAuthForm(const std::string& authUrl, const std::string& path,
                                              const std::vector<platform::Header>& fields);

// The server's reason in an error answer ("message", else "error"), or the status.
std::string oauthReason(const OAuthAnswer& answer);

// The accounts file's account of that name with the new token pair written in; the rest
// of the file as it is now.
platform::Status storeTwitchTokens(const std::string& accountsPath, const std::string& access,
                                   const std::string& refresh, const std::string& name = "twitch");
