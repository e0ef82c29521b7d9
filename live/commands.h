// The command that follows the decks while the set is played and shows it to a stream.
#pragma once

int runLive(int argc, char** argv);
