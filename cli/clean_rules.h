// The user's rules for cleaning titles for show, as the settings file's [clean] table
// gives them (the cleaner itself is publish/title_clean.h): phrases taken off the end of a
// title, patterns cut out of it, and patterns that hide a track. A pattern is compiled as
// the file is read, so that a bad one is a mistake of the file like any other.
#pragma once

#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "cli/options.h"
#include "platform/error.h"

struct CleanPhrase {
  std::string text;
  ValueOrigin origin;  // "FILE:LINE" and "[clean] phrases"
};

struct CleanPattern {
  std::string text;
  std::regex regex;
  ValueOrigin origin;  // "FILE:LINE" and "[clean] patterns"
};

struct CleanRules {
  std::vector<CleanPhrase> phrases;    // beside the built-in ones
  std::vector<CleanPattern> patterns;  // what matches is taken out of the title
  std::vector<CleanPattern> hide;      // a track that matches shows as "ID - ID"
};

// A pattern as the cleaner matches it: an ECMAScript regular expression, without regard
// to case; the reason it is not one otherwise.
platform::Expected<std::regex> compileCleanPattern(const std::string& text);

// The [clean] part of the starter settings file: each key commented out, its help line
// above it.
std::string starterCleanRules();
