// `setlist login twitch`: Twitch's device code flow for a public client, whose tokens the
// chat of `setlist live --twitch` uses. One row of the login table (see login.cpp).
#pragma once

#include "online/online.h"

// The client ID is the option --client-id; the request's URL is the login server
// (--auth-url). The account holds the token pair and the server to refresh it at.
platform::Expected<LoginResult> loginTwitch(const LoginRequest& login);
