// The accounts file: the services setlist has logged in to, with their secrets. Only
// `setlist login` and `setlist logout` write it (and a chat that refreshes its token);
// it is replaced whole through the safe output path and readable by its owner only. A
// secret is never printed and never written anywhere else.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

struct Account {
  std::string name;     // what the user calls it: "listenbrainz", "lastfm", "twitch", ...
  std::string service;  // "listenbrainz", "lastfm", "twitch" or "mixcloud"
  std::string url;      // the API root it talks to
  std::string user;     // the user name the service gave
  // Everything else, secrets among it: "token", "api_key", "secret", "session_key",
  // "client_id", "access_token", "refresh_token", "auth_url".
  std::map<std::string, std::string> values;
};

// %APPDATA%\Zorvanthelix\accounts.json on Windows; $XDG_CONFIG_HOME/zorvanthelix/
// accounts.json, else ~/.config/zorvanthelix/accounts.json, elsewhere.
std::string defaultAccountsPath();
// The accounts file a command uses: the one --accounts names (`given`), else the default.
std::string accountsFile(const std::string& given);

// The accounts in the file at path; none when it does not exist. A file that cannot be
// read or is damaged (a Twitch account's login or token of another form among it) is an
// error naming it, never taken as empty. A file others may read is warned of; a temporary
// file left beside it by a write that was killed is removed.
platform::Expected<std::vector<Account>> loadAccounts(const std::string& path);

// Replaces the file at path whole with the accounts (its folder made when missing); a
// symbolic link is written through, so the file it points to gets the new contents.
platform::Status saveAccounts(const std::string& path, const std::vector<Account>& accounts);

// Checks, before a secret is asked for, that the file at path can be written: its folder
// made when missing and a new version started there, then dropped.
platform::Status checkAccountsWritable(const std::string& path);

// Whether a name has the form of a Twitch login: 1 to 25 letters, digits and '_'. A name
// of any other form could carry a line of its own into the chat.
bool isTwitchLogin(std::string_view name);
// Whether a token can stand in a request or chat line as it is: not empty, and no space,
// control character or byte beyond ASCII.
bool isTokenText(std::string_view token);

// The account of that name, or nullptr.
const Account* findAccount(const std::vector<Account>& accounts, std::string_view name);
