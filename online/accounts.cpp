// The accounts file as JSON:
//   {"accounts": [{"name": "...", "service": "...", "url": "...", "user": "...",
//                  "values": {"token": "..."}}, ...]}
// written whole and readable by its owner only.
#include "online/accounts.h"

#include <cstdio>
#include <set>
#include <string>
#include <utility>

#include "online/json.h"
#include "platform/file_identity.h"
#include "platform/file_system.h"
#include "platform/output_file.h"
#include "platform/report.h"
#include "platform/user_folders.h"
#include "setfile/json_writer.h"
#include "setfile/text.h"

namespace {

platform::Error damaged(const std::string& path, std::string why) {
  return platform::makeError(path, "damaged accounts file: " + std::move(why));
}

// A failure of the system on the accounts file, naming it.
platform::Error failed(const std::string& path, std::string_view doing,
                       const platform::Error& err) {
  return platform::Error{
      err.code, path,
      std::string(doing) + ": " + (err.code != 0 ? platform::systemMessage(err.code) : err.text)};
}

// One account of the file; false when a field is missing or not a string.
bool readAccount(const JsonValue& json, Account* account) {
  const auto text = [&](std::string_view key, std::string* out) {
    const JsonValue& value = json[key];
    *out = value.string();
    return value.kind() == JsonValue::Kind::kString || value.isNull();
  };
  if (json.kind() != JsonValue::Kind::kObject || !text("name", &account->name) ||
      !text("service", &account->service) || !text("url", &account->url) ||
      !text("user", &account->user) || account->name.empty() || account->service.empty())
    return false;
  const JsonValue& values = json["values"];
  if (!values.isNull() && values.kind() != JsonValue::Kind::kObject) return false;
  for (const auto& [key, value] : values.members()) {
    if (value.kind() != JsonValue::Kind::kString) return false;
    account->values[key] = value.string();
  }
  return true;
}

void appendMember(std::string_view key, std::string_view value, JsonWriter& json) {
  json.name(key);
  json.string(value);
}

void appendAccount(const Account& account, JsonWriter& json) {
  json.beginObject();
  appendMember("name", account.name, json);
  appendMember("service", account.service, json);
  appendMember("url", account.url, json);
  appendMember("user", account.user, json);
  json.lineBreak("     ");
  json.name("values");
  json.beginObject();
  for (const auto& [key, value] : account.values) appendMember(key, value, json);
  json.endObject();
  json.endObject();
}

// Why a Twitch account's login or tokens cannot be taken, or nothing: a login or token of
// another form could carry a line of its own into the chat.
std::string twitchFault(const Account& account) {
  if (account.service != "twitch") return {};
  if (!isTwitchLogin(account.user)) return "its user is not a Twitch login (letters, digits, _)";
  for (const char* key : {"access_token", "refresh_token", "client_id"}) {
    const auto value = account.values.find(key);
    if (value != account.values.end() && !isTokenText(value->second))
      return std::string("its ") + key + " holds a space or a control character";
  }
  return {};
}

// Warns, once per file and run, of an accounts file that others may read or change.
void warnIfShared(const std::string& path, const platform::FileStatus& status) {
  static std::set<std::string> warned;
  if ((status.permissions & 077) == 0 || !warned.insert(path).second) return;
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.permissions & 0777));
  platform::reportWarning(platform::makeError(
      path, std::string("other users may read the secrets in this file (permissions ") + mode +
                "); make it readable by its owner only (chmod 600)"));
}

platform::Error noPath() {
  return platform::makeError(
      "",
      "no settings folder for the accounts file (HOME is not set); name one with --accounts "
      "FILE");
}

}  // namespace

std::string defaultAccountsPath() {
  auto path = platform::userConfigFile("Zorvanthelix", "accounts.json");
  return path ? std::move(*path) : std::string();
}

std::string accountsFile(const std::string& given) {
  return given.empty() ? defaultAccountsPath() : given;
}

platform::Expected<std::vector<Account>> loadAccounts(const std::string& path) {
  if (path.empty()) return noPath();
  platform::FileStatus status;
  platform::Error err;
  switch (platform::statPath(path, &status, &err)) {
    case platform::StatResult::kMissing:
      return std::vector<Account>();
    case platform::StatResult::kFailed:
      return failed(path, "cannot read", err);
    case platform::StatResult::kFound:
      break;
  }
  platform::removeLeftoverTemporaries(platform::followLinks(path));
  warnIfShared(path, status);
  auto text = platform::readWholeFile(path);
  if (!text) return failed(path, "cannot read", text.error());
  auto json = parseJson(*text);
  if (!json) return damaged(path, json.error().text);
  const JsonValue& list = (*json)["accounts"];
  if (list.kind() != JsonValue::Kind::kArray) return damaged(path, "no list of accounts");
  std::vector<Account> accounts(list.array().size());
  for (std::size_t i = 0; i < accounts.size(); ++i) {
    if (!readAccount(list.array()[i], &accounts[i]))
      return damaged(path, "account " + std::to_string(i + 1) + " lacks a name or a service");
    if (const std::string fault = twitchFault(accounts[i]); !fault.empty())
      return damaged(path,
                     "account " + std::to_string(i + 1) + " (" + accounts[i].name + "): " + fault);
  }
  return accounts;
}

platform::Status saveAccounts(const std::string& path, const std::vector<Account>& accounts) {
  if (path.empty()) return noPath();
  std::string text;
  JsonWriter json(&text, JsonWriter::Style::kSpaced);
  json.beginObject();
  json.name("accounts");
  json.beginArray();
  for (const Account& account : accounts) {
    json.lineBreak("    ");
    appendAccount(account, json);
  }
  json.lineBreak("");
  json.endArray();
  json.endObject();
  text.push_back('\n');
  // A link is written through: replacing it would leave the old secrets in its target.
  const std::string target = platform::followLinks(path);
  if (platform::Status made = platform::createParentFolders(target); !made)
    return platform::Error{made.error().code, path, made.error().text};
  platform::removeLeftoverTemporaries(target);
  platform::OutputFile file;
  platform::Status written = file.open(target, platform::FileAccess::kOwnerOnly);
  if (written) written = file.write(text);
  if (written) written = file.commit();
  if (!written) return failed(path, "cannot write", written.error());
  return {};
}

platform::Status checkAccountsWritable(const std::string& path) {
  if (path.empty()) return noPath();
  const std::string target = platform::followLinks(path);
  if (platform::Status made = platform::createParentFolders(target); !made)
    return platform::Error{made.error().code, path, made.error().text};
  platform::OutputFile file;
  if (platform::Status opened = file.open(target, platform::FileAccess::kOwnerOnly); !opened)
    return failed(path, "cannot write", opened.error());
  file.discard();
  return {};
}

bool isTwitchLogin(std::string_view name) {
  if (name.empty() || name.size() > 25) return false;
  for (const char c : name) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!letter && !(c >= '0' && c <= '9') && c != '_') return false;
  }
  return true;
}

bool isTokenText(std::string_view token) {
  if (token.empty()) return false;
  for (const char c : token) {
    if (c <= ' ' || c > '~') return false;  // char may be signed: bytes beyond ASCII too
  }
  return true;
}

const Account* findAccount(const std::vector<Account>& accounts, std::string_view name) {
  for (const Account& account : accounts)
    if (account.name == name) return &account;
  return nullptr;
}
