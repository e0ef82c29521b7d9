// web-fetch: one request through the platform's web client, for the tests of that client.
//
//   web-fetch [--method M] [--header "Name: value"]... [--data TEXT]... [--file PATH]...
//             [--connect-timeout S] [--timeout S] URL
//     prints "status N", the answer's headers one a line, an empty line and the body; on
//     stderr, how often the progress was told while the body was sent, and the last.
//   web-fetch --websocket URL [MESSAGE]...
//     sends each message and prints each answer as "message: TEXT" (waiting up to three
//     seconds for each), then closes.
//   web-fetch --read-secret
//     reads one line from stdin as a secret (unseen on a terminal) and prints its MD5.
// A failure prints "web-fetch: <subject>: <reason>" and ends with status 1.
#include <iostream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/report.h"
#include "platform/secret_input.h"
#include "platform/web_client.h"

namespace {

int fail(const platform::Error& error) {
  platform::reportError(error);
  return 1;
}

int fetch(platform::HttpRequest request) {
  std::uint64_t calls = 0;
  std::uint64_t sent = 0;
  std::uint64_t total = 0;
  request.progress = [&](std::uint64_t now, std::uint64_t of) {
    ++calls;
    sent = now;
    total = of;
  };
  const auto response = platform::sendRequest(request);
  if (calls > 0)
    std::cerr << "progress: " << calls << " calls, last " << sent << "/" << total << "\n";
  if (!response) return fail(response.error());
  std::cout << "status " << response->status << "\n";
  for (const platform::Header& h : response->headers)
    std::cout << h.name << ": " << h.value << "\n";
  std::cout << "\n" << response->body << std::flush;
  return 0;
}

int echo(const std::string& url, const std::vector<std::string>& messages) {
  auto socket = platform::connectWebSocket(url, 10);
  if (!socket) return fail(socket.error());
  for (const std::string& message : messages) {
    if (platform::Status sent = (*socket)->send(message); !sent) return fail(sent.error());
    const auto answer = (*socket)->receive(3000);
    if (!answer) return fail(answer.error());
    std::cout << "message: " << answer->value_or("(none within 3 s)") << "\n" << std::flush;
  }
  (*socket)->close();
  return 0;
}

// Fills the request from the options; false with a usage message when one is wrong.
bool readOptions(const std::vector<std::string>& args, platform::HttpRequest* request,
                 bool* webSocket, std::vector<std::string>* messages) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool valued = i + 1 < args.size();
    if (arg == "--websocket") {
      *webSocket = true;
    } else if (arg == "--method" && valued) {
      request->method = args[++i];
    } else if (arg == "--header" && valued) {
      const std::string& h = args[++i];
      const std::size_t colon = h.find(": ");
      if (colon == std::string::npos) return false;
      request->headers.push_back({h.substr(0, colon), h.substr(colon + 2)});
    } else if (arg == "--data" && valued) {
      request->body.push_back({args[++i], ""});
    } else if (arg == "--file" && valued) {
      request->body.push_back({"", args[++i]});
    } else if (arg == "--connect-timeout" && valued) {
      request->connectTimeoutSeconds = std::stoi(args[++i]);
    } else if (arg == "--timeout" && valued) {
      request->readTimeoutSeconds = std::stoi(args[++i]);
    } else if (arg.rfind("--", 0) == 0) {
      return false;
    } else if (request->url.empty()) {
      request->url = arg;
    } else {
      messages->push_back(arg);
    }
  }
  return !request->url.empty() && (*webSocket || messages->empty());
}

}  // namespace

int readSecret() {
  const auto secret = platform::readSecretLine();
  if (!secret) return fail(secret.error());
  std::cout << "secret md5: " << platform::md5Hex(*secret) << "\n";
  return 0;
}

int main(int argc, char** argv) {
  platform::setProgramName("web-fetch");
  if (argc == 2 && std::string(argv[1]) == "--read-secret") return readSecret();
  platform::HttpRequest request;
  bool webSocket = false;
  std::vector<std::string> messages;
  if (!readOptions(platform::utf8Arguments(argc, argv), &request, &webSocket, &messages)) {
    std::cerr << "usage: web-fetch [--method M] [--header \"Name: value\"]... [--data TEXT]... "
                 "[--file PATH]... [--connect-timeout S] [--timeout S] URL\n"
                 "       web-fetch --websocket URL [MESSAGE]...\n";
    return 2;
  }
  return webSocket ? echo(request.url, messages) : fetch(request);
}
