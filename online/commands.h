// The commands that take a set online. Each runs with its own arguments: argv[0] is its
// name.
#pragma once

int runLogin(int argc, char** argv);
int runAccounts(int argc, char** argv);
int runLogout(int argc, char** argv);
int runScrobble(int argc, char** argv);
int runMixcloud(int argc, char** argv);
int runDiscord(int argc, char** argv);
