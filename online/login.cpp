// setlist login, accounts and logout: the accounts file, written by these commands only.
// Each service's login is one row of the table below and one function.
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include "cli/options.h"
#include "online/accounts.h"
#include "online/commands.h"
#include "online/discord.h"
#include "online/kick.h"
#include "online/mixcloud.h"
#include "online/online.h"
#include "online/scrobbling.h"
#include "online/twitch_auth.h"
#include "online/twitch_login.h"
#include "platform/platform.h"
#include "platform/report.h"

namespace {

// A login's options are those of the command "login NAME" in the option table.
struct LoginService {
  std::string_view name;        // setlist login NAME
  std::string_view urlOption;   // the option that names the server
  std::string_view defaultUrl;  // the server when that option is not given
  platform::Expected<LoginResult> (*login)(const LoginRequest& request);
};

const LoginService kLoginServices[] = {
    {"listenbrainz", "--url", "https://api.listenbrainz.org", loginListenBrainz},
    {"lastfm", "--url", kLastfmApi, loginLastfm},
    {"mixcloud", "--url", kMixcloudApi, loginMixcloud},
    {"twitch", "--auth-url", kTwitchAuthUrl, loginTwitch},
    {"discord", "--url", kDiscordApi, loginDiscord},
    {"kick", "--url", kKickApi, loginKick},
};

const LoginService* findLoginService(std::string_view name) {
  for (const LoginService& service : kLoginServices) {
    if (service.name == name) return &service;
  }
  return nullptr;
}

std::string serviceNames() {
  std::string names;
  for (const LoginService& service : kLoginServices) {
    names += names.empty() ? "" : ", ";
    names += service.name;
  }
  return names;
}

// What the login of `service` is asked for: --name, the server and its own options' values.
LoginRequest loginRequest(const Arguments& arguments, const LoginService& service) {
  LoginRequest request;
  request.name = arguments.text("--name", service.name);
  request.url = arguments.text(service.urlOption, service.defaultUrl);
  for (const CommandOption& option : arguments.command().options) {
    const std::string_view name = option.decl->name;
    if (name != "--name" && name != service.urlOption && name != "--accounts" &&
        arguments.given(name)) {
      request.options[std::string(name)] = arguments.text(name);
    }
  }
  return request;
}

// Keeps the new account in the accounts file, in place of one of the same name. The file
// is read again: it may have changed while the user was at the browser.
platform::Status storeAccount(const std::string& accountsPath, const Account& account) {
  auto accounts = loadAccounts(accountsPath);
  if (!accounts) return accounts.error();
  std::erase_if(*accounts, [&](const Account& old) { return old.name == account.name; });
  accounts->push_back(account);
  return saveAccounts(accountsPath, *accounts);
}

// Runs the login and stores what it gives.
int logIn(const LoginService& service, const LoginRequest& request,
          const std::string& accountsPath) {
  // A damaged accounts file stops the login before any secret is asked for.
  if (const auto accounts = loadAccounts(accountsPath); !accounts) return failed(accounts.error());
  if (const platform::Status writable = checkAccountsWritable(accountsPath); !writable) {
    return failed(writable.error());
  }
  auto result = service.login(request);
  if (!result) return platform::stopRequested() ? kStatusStopped : failed(result.error());
  Account& account = result->account;
  account.name = request.name;
  account.service = service.name;
  if (account.url.empty()) account.url = request.url;  // a login may give it as it uses it
  if (const platform::Status saved = storeAccount(accountsPath, account); !saved) {
    return failed(saved.error());
  }
  if (!result->note.empty()) platform::reportWarning(result->note);
  std::cout << "logged in to " << account.name;
  if (!account.user.empty()) std::cout << " as " << account.user;
  std::cout << "\n";
  return kStatusOk;
}

}  // namespace

int runLogin(int argc, char** argv) {
  const std::string_view serviceName = argc < 2 ? "" : argv[1];
  if (serviceName == "--help" || serviceName == "-h") {
    printCommandHelp("login");
    return kStatusOk;
  }
  const LoginService* service = findLoginService(serviceName);
  if (!service) {
    const std::string why = serviceName.empty()
                                ? "login needs a service: "
                                : "unknown service '" + std::string(serviceName) + "' for login: ";
    return usageError(wrongCommandLine(why + serviceNames()), "login");
  }
  const std::string command = "login " + std::string(serviceName);
  const Arguments arguments = readCommandLine(command, argc - 1, argv + 1);
  if (!arguments.runs()) return arguments.report();
  const LoginRequest request = loginRequest(arguments, *service);
  if (!isAccountName(request.name)) return usageError(wrongValue("--name", request.name), command);
  return logIn(*service, request, accountsFile(arguments.text("--accounts")));
}

int runAccounts(int argc, char** argv) {
  const Arguments arguments = readCommandLine("accounts", argc, argv);
  if (!arguments.runs()) return arguments.report();
  const std::string path = accountsFile(arguments.text("--accounts"));
  const auto accounts = loadAccounts(path);
  if (!accounts) {
    return failed(accounts.error());
  }
  if (accounts->empty()) {
    std::cout << "no accounts in " << path << ": log in with setlist login " << serviceNames()
              << "\n";
  }
  for (const Account& account : *accounts) {
    // A webhook's URL is its secret: only its id is shown.
    const auto webhook = account.values.find("webhook_id");
    const bool discord = account.service == "discord" && webhook != account.values.end();
    std::cout << account.name << "\t" << account.service << "\t"
              << (discord ? webhookShown(webhook->second) : account.url) << "\t"
              << (account.user.empty() ? "-" : account.user) << "\n";
  }
  return kStatusOk;
}

int runLogout(int argc, char** argv) {
  const Arguments arguments = readCommandLine("logout", argc, argv);
  if (!arguments.runs()) return arguments.report();
  const std::string path = accountsFile(arguments.text("--accounts"));
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
