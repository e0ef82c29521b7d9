#include "publish/formats.h"

#include "setfile/clock.h"
#include "setfile/json_writer.h"
#include "setfile/text.h"
#include "util/calendar.h"

namespace {

// Days since 1970-01-01 of the date of a clock time.
std::int64_t daysOf(const std::tm& time) {
  return calendar::daysFromCivil(std::int64_t{time.tm_year} + 1900, time.tm_mon + 1, time.tm_mday);
}

// "Monday 7 December 2026"
void appendLongDate(const std::tm& time, std::string* out) {
  static constexpr const char* kWeekdays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                              "Thursday", "Friday", "Saturday"};
  static constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                            "May",       "June",     "July",     "August",
                                            "September", "October",  "November", "December"};
  out->append(kWeekdays[calendar::weekdayOf(daysOf(time))]);
  out->push_back(' ');
  appendNumber(time.tm_mday, 1, out);
  out->push_back(' ');
  out->append(kMonths[time.tm_mon]);
  out->push_back(' ');
  appendNumber(time.tm_year + 1900, 4, out);
}

// Text for reading, where a control character would break a line or show as nothing:
// each becomes a blank.
void appendVisible(std::string_view text, std::string* out) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t control = controlAt(text, i);
    if (control == 0) {
      out->push_back(text[i]);
    } else {
      out->push_back(' ');
      i += control - 1;
    }
  }
}

// Whether a spreadsheet would take a cell beginning with this text for a formula.
bool looksLikeFormula(std::string_view text) {
  return !text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@' ||
                           text[0] == '\t' || text[0] == '\r');
}

void appendCsvField(std::string_view text, bool formulaGuard, std::string* out) {
  const bool guarded = formulaGuard && looksLikeFormula(text);
  // A plain loop: find_first_of looks each character up in the set with a call of its own.
  bool quoted = false;
  for (const char c : text) quoted |= c == ',' || c == '"' || c == '\r' || c == '\n';
  if (!quoted) {
    if (guarded) out->push_back('\'');
    out->append(text);
    return;
  }
  out->push_back('"');
  if (guarded) out->push_back('\'');
  for (const char c : text) {
    if (c == '"') out->push_back('"');
    out->push_back(c);
  }
  out->push_back('"');
}

}  // namespace

void appendHtml(std::string_view text, std::string* out) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    switch (text[i]) {
      case '&':
        out->append("&amp;");
        break;
      case '<':
        out->append("&lt;");
        break;
      case '>':
        out->append("&gt;");
        break;
      case '"':
        out->append("&quot;");
        break;
      case '\'':
        out->append("&#39;");
        break;
      default:
        if (const std::size_t control = controlAt(text, i); control != 0) {
          out->push_back(' ');
          i += control - 1;
        } else {
          out->push_back(text[i]);
        }
    }
  }
}

namespace {

constexpr std::string_view kPageStart = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>)";

constexpr std::string_view kPageStyle = R"(</title>
<style>
body { margin: 2.5em auto; max-width: 62em; padding: 0 1.5em; color: #111; background: #fff;
  font: 11pt/1.4 "Segoe UI", "Helvetica Neue", Arial, "Noto Sans", sans-serif; }
h1 { font-size: 1.7em; margin: 0 0 0.15em; }
p.when { margin: 0 0 1.4em; color: #444; }
table { width: 100%; border-collapse: collapse; }
th, td { padding: 0.35em 0.6em; text-align: left; vertical-align: top;
  border-bottom: 1px solid #d4d4d4; overflow-wrap: anywhere; }
th { border-bottom: 2px solid #111; font-size: 0.85em; text-transform: uppercase;
  letter-spacing: 0.05em; white-space: nowrap; overflow-wrap: normal; }
td.number, td.time, td.deck { white-space: nowrap; font-variant-numeric: tabular-nums;
  overflow-wrap: normal; }
td.number { text-align: right; color: #666; }
td.deck { text-align: center; }
th.number { text-align: right; }
th.deck { text-align: center; }
tbody tr:nth-child(even) { background: #f3f3f3; }
@page { margin: 15mm 12mm; }
@media print {
  body { margin: 0; max-width: none; padding: 0; font-size: 10pt; }
  thead { display: table-header-group; }
  tr { break-inside: avoid; }
  tbody tr:nth-child(even) { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
}
</style>
</head>
<body>
<h1>)";

constexpr std::string_view kTableStart = R"(
<table>
<thead><tr><th class="number">#</th><th>Time</th><th class="deck">Deck</th><th>Artist</th><th>Song</th><th>Album</th></tr></thead>
<tbody>
)";

constexpr std::string_view kPageEnd = "</tbody>\n</table>\n</body>\n</html>\n";

}  // namespace

std::int64_t clockNear(int clock, std::int64_t near, bool laterOnTie) {
  constexpr std::int64_t kDay = 86400;
  constexpr std::int64_t kHalfDay = kDay / 2;
  const std::int64_t sameDay = near - (near % kDay + kDay) % kDay + clock;
  const std::int64_t ahead = sameDay - near;  // -kDay < ahead < kDay
  if (ahead > kHalfDay || (ahead == kHalfDay && !laterOnTie)) return sameDay - kDay;
  if (-ahead > kHalfDay || (-ahead == kHalfDay && laterOnTie)) return sameDay + kDay;
  return sameDay;
}

std::int64_t startOrigin(int start, const std::tm& first, bool* afterFirst) {
  const std::int64_t track = clockSeconds(first);
  const std::int64_t origin = clockNear(start, track, false);
  *afterFirst = origin > track;
  return origin;
}

void TracklistFormat::record(const Record& record, std::string* out) {
  if (!origin_) {
    origin_ =
        start_ ? startOrigin(*start_, record.time, &startAfterFirst_) : clockSeconds(record.time);
  }
  const std::int64_t offset = clockSeconds(record.time) - *origin_;
  appendDuration(offset, 2, out);
  out->push_back(' ');
  appendVisible(record.track.artist, out);
  if (!record.track.artist.empty() && !record.track.song.empty()) out->append(" - ");
  appendVisible(record.track.song, out);
  out->push_back('\n');
}

void CsvFormat::begin(std::string* out) {
  out->append("\xEF\xBB\xBFtime,deck,artist,song,album\r\n");
}

void CsvFormat::record(const Record& record, std::string* out) {
  appendIsoDateTime(record.time, out);
  out->push_back(',');
  out->append(deckLetter(record.deck));
  out->push_back(',');
  appendCsvField(record.track.artist, formulaGuard_, out);
  out->push_back(',');
  appendCsvField(record.track.song, formulaGuard_, out);
  out->push_back(',');
  appendCsvField(record.track.album, formulaGuard_, out);
  out->append("\r\n");
}

void JsonFormat::begin(std::string* out) { out->append("["); }

void JsonFormat::record(const Record& record, std::string* out) {
  out->append(first_ ? "\n  " : ",\n  ");
  first_ = false;
  JsonWriter json(out, JsonWriter::Style::kSpaced);
  json.beginObject();
  json.name("time");
  json.stringFrom([&](std::string* text) { appendIsoDateTime(record.time, text); });
  json.name("deck");
  json.string(deckLetter(record.deck));
  appendTrackMembers(record.track, json);
  json.endObject();
}

void JsonFormat::end(std::string* out) { out->append("\n]\n"); }

void HtmlFormat::begin(std::string* out) {
  out->append(kPageStart);
  out->append("Set of ");
  appendLongDate(first_, out);
  out->append(kPageStyle);
  appendLongDate(first_, out);
  out->append("</h1>\n<p class=\"when\">");
  appendTimeOfDay(first_, out);
  out->append(" to ");
  appendTimeOfDay(last_, out);
  if (daysOf(last_) != daysOf(first_)) {
    out->append(" on ");
    appendLongDate(last_, out);
  }
  out->append(" &middot; ");
  appendNumber(count_, 1, out);
  out->append(count_ == 1 ? " track</p>" : " tracks</p>");
  out->append(kTableStart);
}

void HtmlFormat::record(const Record& record, std::string* out) {
  out->append("<tr><td class=\"number\">");
  appendNumber(++number_, 1, out);
  out->append("</td><td class=\"time\">");
  appendTimeOfDay(record.time, out);
  out->append("</td><td class=\"deck\">");
  out->append(deckLetter(record.deck));
  out->append("</td><td>");
  appendHtml(record.track.artist, out);
  out->append("</td><td>");
  appendHtml(record.track.song, out);
  out->append("</td><td>");
  appendHtml(record.track.album, out);
  out->append("</td></tr>\n");
}

void HtmlFormat::end(std::string* out) { out->append(kPageEnd); }
