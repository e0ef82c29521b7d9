// setlist login, accounts and logout: the accounts file, written by these commands only.
// Each service's login is one line of the table below and one function.
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include "online/accounts.h"
#include "online/commands.h"
#include "online/mixcloud.h"
#include "online/online.h"
#include "online/scrobbling.h"
#include "online/twitch_login.h"
#include "platform/report.h"

namespace {

struct LoginService {
  std::string_view name;                  // setlist login NAME
  std::string_view defaultUrl;            // the API root when --url is not given
  std::vector<std::string_view> options;  // options of its own, each taking a value
  std::vector<std::string_view> required;
  platform::Expected<LoginResult> (*login)(const LoginRequest& request);
};

const LoginService kLoginServices[] = {
    {"listenbrainz", "https://api.listenbrainz.org", {}, {}, loginListenBrainz},
    {"lastfm", "https://ws.audioscrobbler.com/2.0/", {"--api-key"}, {"--api-key"}, loginLastfm},
    {"mixcloud", kMixcloudApi, {"--client-id", "--port"}, {"--client-id"}, loginMixcloud},
};

std::string serviceNames() {
  std::string names;
  for (const LoginService& service : kLoginServices) {
    names += names.empty() ? "" : ", ";
    names += service.name;
  }
  return names + ", twitch";
}

}  // namespace

int runLogin(int argc, char** argv) {
  if (argc < 2) return usageError(wrongCommandLine("login needs a service: " + serviceNames()));
  const std::string_view serviceName = argv[1];
  // Twitch's device flow and the chat's one account: a login of its own.
  if (serviceName == "twitch") return loginTwitch(argc - 1, argv + 1);
  const LoginService* service = nullptr;
  for (const LoginService& candidate : kLoginServices) {
    if (candidate.name == serviceName) service = &candidate;
  }
  if (!service) {
    return usageError(wrongCommandLine("unknown service '" + std::string(serviceName) +
                                       "' for login: " + serviceNames()));
  }
  LoginRequest request;
  request.name = service->name;
  request.url = service->defaultUrl;
  std::string accountsPath;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      printHelp();
      return kStatusOk;
    }
    bool own = false;
    for (const std::string_view option : service->options) own = own || option == arg;
    if (arg != "--name" && arg != "--url" && arg != "--accounts" && !own) {
      return usageError(unknownOption("login " + std::string(service->name), arg));
    }
    if (i + 1 == argc || std::string_view(argv[i + 1]).empty()) {
      return usageError(wrongCommandLine(arg + " needs a value"));
    }
    const std::string value = argv[++i];
    if (arg == "--name") {
      request.name = value;
    } else if (arg == "--url") {
      request.url = value;
    } else if (arg == "--accounts") {
      accountsPath = value;
    } else {
      request.options[arg] = value;
    }
  }
  for (const std::string_view option : service->required) {
    if (!request.options.count(std::string(option))) {
      return usageError(wrongCommandLine("login " + std::string(service->name) + " needs " +
                                         std::string(option)));
    }
  }
  if (!isAccountName(request.name)) {
    return usageError(wrongCommandLine("--name takes letters, digits, '-', '_' and '.', not '" +
                                       request.name + "'"));
  }
  if (!request.url.starts_with("https://") && !request.url.starts_with("http://")) {
    return usageError(
        wrongCommandLine("--url takes an http:// or https:// address, not '" + request.url + "'"));
  }
  if (accountsPath.empty()) accountsPath = defaultAccountsPath();

  // A damaged accounts file stops the login before any secret is asked for.
  auto accounts = loadAccounts(accountsPath);
  if (!accounts) {
    return failed(accounts.error());
  }
  if (const platform::Status writable = checkAccountsWritable(accountsPath); !writable) {
    return failed(writable.error());
  }
  auto result = service->login(request);
  if (!result) {
    return failed(result.error());
  }
  Account& account = result->account;
  account.name = request.name;
  account.service = service->name;
  if (account.url.empty()) account.url = request.url;  // a login may give it as it uses it
  std::erase_if(*accounts, [&](const Account& old) { return old.name == account.name; });
  accounts->push_back(account);
  if (const platform::Status saved = saveAccounts(accountsPath, *accounts); !saved) {
    return failed(saved.error());
  }
  if (!result->note.empty()) platform::reportWarning(result->note);
  std::cout << "logged in to " << account.name;
  if (!account.user.empty()) std::cout << " as " << account.user;
  std::cout << "\n";
  return kStatusOk;
}

namespace {

// Reads `--accounts FILE` (the only option) and the arguments; nullopt when the command
// line is wrong, with the status in *status.
std::optional<std::vector<std::string>> accountsArguments(int argc, char** argv, std::string* path,
                                                          int* status) {
  std::vector<std::string> rest;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--accounts") {
      if (i + 1 == argc) {
        *status = usageError(wrongCommandLine("--accounts needs a value"));
        return std::nullopt;
      }
      *path = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      printHelp();
      *status = kStatusOk;
      return std::nullopt;
    } else if (arg.size() > 1 && arg[0] == '-') {
      *status = usageError(unknownOption(argv[0], arg));
      return std::nullopt;
    } else {
      rest.push_back(arg);
    }
  }
  if (path->empty()) *path = defaultAccountsPath();
  return rest;
}

}  // namespace

int runAccounts(int argc, char** argv) {
  std::string path;
  int status = kStatusOk;
  const auto rest = accountsArguments(argc, argv, &path, &status);
  if (!rest) return status;
  if (!rest->empty()) return usageError(wrongCommandLine("accounts takes no arguments"));
  const auto accounts = loadAccounts(path);
  if (!accounts) {
    return failed(accounts.error());
  }
  if (accounts->empty()) {
    std::cout << "no accounts in " << path << ": log in with setlist login " << serviceNames()
              << "\n";
  }
  for (const Account& account : *accounts) {
    std::cout << account.name << "\t" << account.service << "\t" << account.url << "\t"
              << (account.user.empty() ? "-" : account.user) << "\n";
  }
  return kStatusOk;
}

int runLogout(int argc, char** argv) {
  std::string path;
  int status = kStatusOk;
  const auto rest = accountsArguments(argc, argv, &path, &status);
  if (!rest) return status;
  if (rest->size() != 1) return usageError(wrongCommandLine("logout takes one account NAME"));
  auto accounts = loadAccounts(path);
  if (!accounts) {
    return failed(accounts.error());
  }
  const std::string& name = rest->front();
  if (!findAccount(*accounts, name)) {
    platform::reportError(platform::makeError(path, "no account named '" + name + "'"));
    return kStatusFailed;
  }
  std::erase_if(*accounts, [&](const Account& account) { return account.name == name; });
  if (const platform::Status saved = saveAccounts(path, *accounts); !saved) {
    return failed(saved.error());
  }
  std::cout << "logged out of " << name << "\n";
  return kStatusOk;
}
