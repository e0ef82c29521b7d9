// What the tracker prints on the console, and how it reads its command line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "setfile/track.h"
#include "tracker/tracking.h"

// The banner, every line of it ended by a line end.
extern const std::string_view kBanner;

// The usage text printed for a wrong command line.
extern const std::string_view kUsage;

// Decides on the command line: the settings, or nothing when it is wrong. Prints
// nothing; `parsed` is set when the line got as far as the "parsing" stage.
std::optional<RunSettings> parseCommandLine(int argc, const char* const* argv, bool* parsed);

// The settings of simple mode with the threshold given after -s or --simple: a whole
// number of seconds, at least 1; nothing for any other text.
std::optional<RunSettings> simpleModeSettings(std::string_view threshold);

// The mode announcement that follows "parsing" (simple mode) or the banner (automode).
std::string modeAnnouncement(const RunSettings& settings);

// The four-line console report of one played track, headed by its deck letter.
std::string trackReport(Deck deck, const Track& track);
