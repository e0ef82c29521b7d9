// The names of the files a set leaves behind, side by side: the playlist, the set log
// beside it, and the file that takes the records a held playlist kept out at the end.
#pragma once

#include <ctime>
#include <string>

// "Playlist_YYYY.MM.DD_hh_mm_ss.txt" for the given local time.
std::string playlistFileName(const std::tm& time);

// The set log beside a playlist named X.txt: X.jsonl. Empty for any other name: only a
// playlist of the tracker's form has a set log beside it.
std::string setLogFileName(const std::string& playlist);

// "Playlist_X.pending.txt" for "Playlist_X.txt"; with a number when attempt > 1:
// "Playlist_X.pending-2.txt". The extension stays: "Playlist_X.pending.jsonl" for
// "Playlist_X.jsonl".
std::string pendingFileName(const std::string& playlist, int attempt);
