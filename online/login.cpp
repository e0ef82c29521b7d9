// setlist login, accounts and logout: the accounts file, written by these commands only.
// Each service's login is one line of the table below and one function.
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include "cli/options.h"
#include "online/accounts.h"
#include "online/commands.h"
#include "online/mixcloud.h"
#include "online/online.h"
#include "online/scrobbling.h"
#include "online/twitch_login.h"
#include "platform/report.h"

namespace {

// A login's options are those of the command "login NAME" in the option table.
struct LoginService {
  std::string_view name;        // setlist login NAME
  std::string_view defaultUrl;  // the API root when --url is not given
  platform::Expected<LoginResult> (*login)(const LoginRequest& request);
};

const LoginService kLoginServices[] = {
    {"listenbrainz", "https://api.listenbrainz.org", loginListenBrainz},
    {"lastfm", "https://ws.audioscrobbler.com/2.0/", loginLastfm},
    {"mixcloud", kMixcloudApi, loginMixcloud},
};

std::string serviceNames() {
  std::string names;
  for (const LoginService& service : kLoginServices) {
    names += names.empty() ? "" : ", ";
    names += service.name;
  }
  return names + ", twitch";
}

// What the login of `service` is asked for: --name, --url and its own options' values.
LoginRequest loginRequest(const Arguments& arguments, const LoginService& service) {
  LoginRequest request;
  request.name = arguments.text("--name", service.name);
  request.url = arguments.text("--url", service.defaultUrl);
  for (const CommandOption& option : arguments.command().options) {
    const std::string_view name = option.spec->name;
    if (name != "--name" && name != "--url" && name != "--accounts" && arguments.given(name)) {
      request.options[std::string(name)] = arguments.text(name);
    }
  }
  return request;
}

}  // namespace

std::string accountsFile(const Arguments& arguments) {
  const std::string given = arguments.text("--accounts");
  return given.empty() ? defaultAccountsPath() : given;
}

int runLogin(int argc, char** argv) {
  const std::string_view serviceName = argc < 2 ? "" : argv[1];
  if (serviceName == "--help" || serviceName == "-h") {
    printCommandHelp("login");
    return kStatusOk;
  }
  const CommandSpec* command = findCommandSpec("login " + std::string(serviceName));
  if (!command) {
    const std::string why = serviceName.empty()
                                ? "login needs a service: "
                                : "unknown service '" + std::string(serviceName) + "' for login: ";
    return usageError(wrongCommandLine(why + serviceNames()), "login");
  }
  // Twitch's device flow and the chat's one account: a login of its own.
  if (serviceName == "twitch") return loginTwitch(argc - 1, argv + 1);
  const Arguments arguments = readCommandLine(command->name, argc - 1, argv + 1);
  if (!arguments.runs()) return arguments.report();
  const LoginService* service = nullptr;
  for (const LoginService& candidate : kLoginServices) {
    if (candidate.name == serviceName) service = &candidate;
  }
  const LoginRequest request = loginRequest(arguments, *service);
  if (!isAccountName(request.name)) {
    return usageError(wrongValue("--name", request.name), command->name);
  }
  const std::string accountsPath = accountsFile(arguments);

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

int runAccounts(int argc, char** argv) {
  const Arguments arguments = readCommandLine("accounts", argc, argv);
  if (!arguments.runs()) return arguments.report();
  const std::string path = accountsFile(arguments);
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
  const Arguments arguments = readCommandLine("logout", argc, argv);
  if (!arguments.runs()) return arguments.report();
  const std::string path = accountsFile(arguments);
  auto accounts = loadAccounts(path);
  if (!accounts) {
    return failed(accounts.error());
  }
  const std::string& name = arguments.operands().front();
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
