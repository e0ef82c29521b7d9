// The commands that publish a set that was played. Each runs with its own arguments:
// argv[0] is its name.
#pragma once

int runTracklist(int argc, char** argv);
int runCsv(int argc, char** argv);
int runJson(int argc, char** argv);
int runHtml(int argc, char** argv);
int runCue(int argc, char** argv);
int runChapters(int argc, char** argv);
int runCheck(int argc, char** argv);
