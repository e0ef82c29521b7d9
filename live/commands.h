// The command that follows the decks while the set is played and shows it to a stream.
#pragma once

int runLive(int argc, char** argv);
// setlist theme export NAME DIR: a built-in theme copied to a new folder, to start from.
int runTheme(int argc, char** argv);
