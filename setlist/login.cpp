// setlist login SERVICE: logs in to an online service and keeps what it gives in the
// accounts file. Each service's login takes its own arguments: argv[0] is its name.
#include <string>
#include <string_view>

#include "setlist/commands.h"
#include "setlist/mixcloud.h"

namespace {

struct Login {
  std::string_view service;
  int (*run)(int argc, char** argv);
};

constexpr Login kLogins[] = {
    {"mixcloud", loginMixcloud},
};

}  // namespace

int runLogin(int argc, char** argv) {
  if (argc < 2) return usageError("login needs a service: mixcloud");
  for (const Login& login : kLogins) {
    if (login.service == argv[1]) return login.run(argc - 1, argv + 1);
  }
  return usageError("login: unknown service '" + std::string(argv[1]) + "'");
}
