// A web service's stand-in on 127.0.0.1 for tests in the process, on Boost.Beast: each
// request is answered by the test's handler, one connection at a time, and kept with its
// User-Agent so that the test can see what was asked. Built once (mock_http.cpp), so that
// the tests that use it do not each compile Beast's server templates.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class MockHttp {
 public:
  struct Reply {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
  };
  struct Seen {
    std::string target;
    std::string userAgent;
  };
  using Handler = std::function<Reply(const std::string& target)>;

  explicit MockHttp(Handler handler);
  ~MockHttp();
  MockHttp(const MockHttp&) = delete;
  MockHttp& operator=(const MockHttp&) = delete;

  std::string root() const;
  std::vector<Seen> seen() const;

 private:
  struct Server;
  std::unique_ptr<Server> server_;
};
