#include "setfile/playlist_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

const std::string kTail = ";2026;12;07;23;08;31";

// A record line of the tracker's form with the given texts part (between the first and
// the last quote) and line end.
std::string line(const std::string& texts, const std::string& end = "\r\n") {
  return "2026.12.07 23:08:31;L;\"" + texts + "\"" + kTail + end;
}

TEST(ParseLine, ReadsRecordsAndRefusesOtherLines) {
  const std::string e100(100, '\xE9');
  std::string e100utf8;
  for (int i = 0; i < 100; ++i) e100utf8 += "\xC3\xA9";
  struct Case {
    std::string line;
    LineKind kind;
    std::string artist, song, album;
    bool ambiguous;
  };
  const Case cases[] = {
      {line("Marlow Tide\";\"Paper Harbour\";\"Night Ferries"), LineKind::kRecord, "Marlow Tide",
       "Paper Harbour", "Night Ferries", false},
      {line("A\";\"B\";\"C", "\n"), LineKind::kRecord, "A", "B", "C", false},
      {line("A\";\"B\";\"C", ""), LineKind::kRecord, "A", "B", "C", false},
      {line("\";\"\";\""), LineKind::kRecord, "", "", "", false},
      // Quotes and semicolons inside texts that are not separators.
      {line("12\" Crew\";\"\"Quoted\";\"a;b; c\""), LineKind::kRecord, "12\" Crew", "\"Quoted",
       "a;b; c\"", false},
      // More separators than three texts: artist to the first, album from the last.
      {line("A\";\"B\";\"C\";\"D"), LineKind::kRecord, "A", "B\";\"C", "D", true},
      {line("A\";\"\";\"\";\"\";\"E"), LineKind::kRecord, "A", "\";\"\";\"", "E", true},
      {line(e100 + "\";\"" + e100 + "\";\"" + e100), LineKind::kRecord, e100utf8, e100utf8,
       e100utf8, false},
      {line("\xFC\xFF\xA0?\";\"\x80\";\"x"), LineKind::kRecord, "\xC3\xBC\xC3\xBF\xC2\xA0?",
       "\xC2\x80", "x", false},
      {"Date Time;Deck;\"Artist\";\"Song\";\"Album\";Year;Month;Day;Hour;Minute;Second\r\n",
       LineKind::kHeader, "", "", "", false},
      {"", LineKind::kOther, "", "", "", false},
      {"\r", LineKind::kOther, "", "", "", false},
      {"garbage; \"with\";\"quotes\";\"", LineKind::kOther, "", "", "", false},
      {line("A\";\"B\";\"C").substr(0, 40), LineKind::kOther, "", "", "", false},
      {line("only\";\"two"), LineKind::kOther, "", "", "", false},
      {line("A\";\";\"C"), LineKind::kOther, "", "", "", false},
      {"2026.12.07 23:08:31;X;\"A\";\"B\";\"C\"" + kTail, LineKind::kOther, "", "", "", false},
      {"2026.13.07 23:08:31;L;\"A\";\"B\";\"C\";2026;13;07;23;08;31", LineKind::kOther, "", "", "",
       false},
      {"2026.12.07 23:08:31;L;\"A\";\"B\";\"C\";2026;12;07;23;08;32", LineKind::kOther, "", "", "",
       false},
      {"2026.12.07 23:08:31;L;\"A\";\"B\";\"C\";2026;12;07;23;08", LineKind::kOther, "", "", "",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::string text = c.line;
    if (text.size() >= 1 && text.back() == '\n') text.pop_back();
    Record record;
    ASSERT_EQ(parseLine(text, &record), c.kind);
    if (c.kind != LineKind::kRecord) continue;
    EXPECT_EQ(record.track, (Track{c.artist, c.song, c.album}));
    EXPECT_EQ(record.ambiguous, c.ambiguous);
    EXPECT_EQ(record.deck, Deck::kLeft);
    const std::tm& t = record.time;
    EXPECT_EQ(std::vector<int>({t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec}),
              std::vector<int>({126, 11, 7, 23, 8, 31}));
  }
  Record right;
  ASSERT_EQ(parseLine("2026.01.02 03:04:05;R;\"a\";\"b\";\"c\";2026;01;02;03;04;05", &right),
            LineKind::kRecord);
  EXPECT_EQ(right.deck, Deck::kRight);
}

class ReaderTest : public testing::Test {
 protected:
  void TearDown() override { std::filesystem::remove(path_); }

  // Writes the bytes to a file, reads it back and gives what each call of next() returned:
  // "R<line>:<artist>" for a record, "S<line>" for a skipped line ("U<line>" for a last line
  // without line end), then "end". The same bytes read from memory must read the same.
  std::vector<std::string> read(const std::string& bytes, std::uint64_t limit = UINT64_MAX) {
    std::ofstream(path_, std::ios::binary) << bytes;
    PlaylistReader reader;
    const platform::Status opened = reader.open(path_.string());
    EXPECT_TRUE(opened) << (opened ? "" : opened.error().text);
    reader.limit(limit);
    const std::vector<std::string> results = readAll(reader);
    PlaylistReader again;
    const std::string kept = bytes.substr(0, limit < bytes.size() ? limit : bytes.size());
    again.openBytes(kept);
    EXPECT_EQ(readAll(again), results);
    return results;
  }

  static std::vector<std::string> readAll(PlaylistReader& reader) {
    std::vector<std::string> results;
    Record record;
    platform::Error err;
    for (;;) {
      switch (reader.next(&record, &err)) {
        case PlaylistReader::Result::kRecord:
          results.push_back(std::string("R").append(std::to_string(reader.line())) + ":" +
                            record.track.artist);
          break;
        case PlaylistReader::Result::kSkipped:
          results.push_back(std::string(reader.lineUnended() ? "U" : "S") +
                            std::to_string(reader.line()));
          break;
        case PlaylistReader::Result::kEnd:
          results.push_back("end");
          return results;
        case PlaylistReader::Result::kFailed:
          ADD_FAILURE() << err.text;
          return results;
      }
    }
  }

  std::filesystem::path path_ =
      std::filesystem::temp_directory_path() /
      ("zv_reader_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
};

TEST_F(ReaderTest, SkipsWhatIsNotARecordAndGoesOn) {
  const std::string header =
      "Date Time;Deck;\"Artist\";\"Song\";\"Album\";Year;Month;Day;Hour;Minute;Second\r\n";
  const std::string a = line("A\";\"s\";\"x");
  const std::string b = line("B\";\"s\";\"x", "\n");
  const std::string overlong(PlaylistReader::kBufferSize + 10, 'x');
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"empty", "", {"end"}},
      {"header only", header, {"end"}},
      {"no header, LF and CRLF", a + b, {"R1:A", "R2:B", "end"}},
      {"blank and garbage lines",
       header + a + "\r\n" + "junk\n" + b,
       {"R2:A", "S3", "S4", "R5:B", "end"}},
      {"partial last line", header + a + a.substr(0, 30), {"R2:A", "U3", "end"}},
      {"last record without line end", a + b.substr(0, b.size() - 1), {"R1:A", "R2:B", "end"}},
      {"a line longer than the buffer", a + overlong + "\n" + b, {"R1:A", "S2", "R3:B", "end"}},
      {"overlong last line", a + overlong, {"R1:A", "U2", "end"}},
      {"byte-order mark, set log lines",
       "\xEF\xBB\xBF{\"time\":\"2026-12-07T23:08:31Z\",\"deck\":\"L\",\"artist\":\"\u00c9\","
       "\"song\":\"\",\"album\":\"\"}\n{\"time\":1}\n" +
           a,
       {"R1:\u00c9", "S2", "R3:A", "end"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read(c.bytes), c.expected);
  }
  // Many records through the fixed buffer, and a limit that cuts the file.
  std::string many;
  for (int i = 0; i < 2000; ++i) many += line(std::to_string(i) + "\";\"s\";\"x");
  const std::vector<std::string> all = read(many);
  ASSERT_EQ(all.size(), 2001u);
  EXPECT_EQ(all[1999], "R2000:1999");
  EXPECT_EQ(read(many, a.size() * 2), (std::vector<std::string>{"R1:0", "R2:1", "end"}));
}

TEST(Reader, NamesTheFileItCannotOpen) {
  PlaylistReader reader;
  const platform::Status opened = reader.open("no/such/Playlist.txt");
  ASSERT_FALSE(opened);
  const platform::Error& err = opened.error();
  EXPECT_EQ(err.subject, "no/such/Playlist.txt");
  EXPECT_NE(err.text, "");
}

}  // namespace
