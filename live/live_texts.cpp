// The texts of setlist live: the format line, the JSON documents and the two overlay pages.
#include "live/live_texts.h"

#include <array>
#include <utility>

#include "publish/formats.h"
#include "setfile/json_writer.h"
#include "setfile/text.h"

namespace {

constexpr std::array<std::string_view, 4> kPlaceholders = {"{artist}", "{song}", "{album}",
                                                           "{deck}"};

// The placeholder at the start of text, or an empty view.
std::string_view placeholderAt(std::string_view text) {
  for (const std::string_view name : kPlaceholders) {
    if (text.substr(0, name.size()) == name) return name;
  }
  return {};
}

// "deck":…,"artist":…,"song":…,"album":…,"time":… (without the braces)
void appendTrackFields(const ShownTrack& shown, JsonWriter& json) {
  const std::pair<std::string_view, std::string_view> fields[] = {{"deck", deckLetter(shown.deck)},
                                                                  {"artist", shown.track.artist},
                                                                  {"song", shown.track.song},
                                                                  {"album", shown.track.album},
                                                                  {"time", shown.time}};
  for (const auto& [name, value] : fields) {
    json.name(name);
    json.string(value);
  }
}

// "artwork":"/art/3.jpg" or null when the track's art is looked up; nothing otherwise.
void appendArtwork(const ShownTrack& shown, JsonWriter& json) {
  if (!shown.artLookedUp) return;
  json.name("artwork");
  if (shown.art) {
    json.string(shown.art->path);
  } else {
    json.null();
  }
}

// A track shown: its fields and the line made of them.
void appendShownTrack(const ShownTrack& shown, JsonWriter& json) {
  json.beginObject();
  appendTrackFields(shown, json);
  json.name("text");
  json.string(shown.text);
  appendArtwork(shown, json);
  json.endObject();
}

constexpr std::string_view kStyle =
    "html,body{background:transparent;margin:0}\n"
    "body{padding:16px;color:#fff;font-family:\"Segoe UI\",\"Noto Sans\",\"Noto Sans CJK JP\","
    "\"Noto Sans Arabic\",\"Noto Color Emoji\",sans-serif;"
    "text-shadow:0 0 3px #000,0 2px 8px #000}\n"
    ".label{font-size:14px;letter-spacing:.15em;text-transform:uppercase;opacity:.8}\n"
    ".now{font-size:36px;font-weight:700;margin-bottom:12px}\n"
    ".previous{font-size:22px;opacity:.85}\n";

// The served page shows what each event holds. A change fades the old lines out and the
// new ones in; the texts go in as text, never as markup.
constexpr std::string_view kServedBody = R"(#show{transition:opacity .3s}
#show.hidden{opacity:0}
</style></head>
<body>
<div id="show" class="hidden">
<div class="label">On air</div>
<div class="now" id="now"></div>
<div id="before"><div class="label">Before</div>
<div class="previous" id="previous"></div></div>
</div>
<script>
(function () {
  var show = document.getElementById("show");
  var shown = null, timer = null;
  function put(state) {
    var previous = state.previous ? state.previous.text : "";
    document.getElementById("now").textContent = state.text;
    document.getElementById("previous").textContent = previous;
    document.getElementById("before").style.display = previous ? "" : "none";
    show.className = state.text ? "" : "hidden";
  }
  function update(state) {
    var key = JSON.stringify(state);
    if (key === shown) return;
    var first = shown === null;
    shown = key;
    clearTimeout(timer);
    if (first) return put(state);
    show.className = "hidden";
    timer = setTimeout(function () { put(state); }, 300);
  }
  new EventSource("/events").onmessage = function (event) {
    update(JSON.parse(event.data));
  };
})();
</script>
</body></html>
)";

}  // namespace

std::string formatFault(std::string_view format) {
  for (std::size_t i = 0; i < format.size(); ++i) {
    const std::string_view rest = format.substr(i);
    if (rest.substr(0, 2) == "{{" || rest.substr(0, 2) == "}}") {
      ++i;
    } else if (rest.front() == '}') {
      return "a lone } (write }} for a brace)";
    } else if (rest.front() == '{') {
      const std::size_t end = rest.find_first_of("{}", 1);
      if (end == std::string_view::npos || rest[end] == '{') {
        return "a lone { (write {{ for a brace)";
      }
      const std::string_view name = rest.substr(0, end + 1);
      if (placeholderAt(name).size() != name.size()) {
        return "unknown placeholder " + std::string(name) +
               " (the placeholders are {artist}, {song}, {album} and {deck})";
      }
      i += end;
    }
  }
  return {};
}

ShownTrack showTrack(Deck deck, const Track& played, std::string time, std::string_view format,
                     const TitleCleaning& cleaning) {
  ShownTrack shown{deck, cleaning.track(played), std::move(time), {}};
  shown.text = formatTrack(format, deck, shown.track);
  return shown;
}

std::string formatTrack(std::string_view format, Deck deck, const Track& track) {
  std::string text;
  while (!format.empty()) {
    const std::string_view name = placeholderAt(format);
    if (name == "{artist}") {
      text += track.artist;
    } else if (name == "{song}") {
      text += track.song;
    } else if (name == "{album}") {
      text += track.album;
    } else if (name == "{deck}") {
      text += deckLetter(deck);
    } else {
      text += format.front();
      const bool doubled =
          format.size() > 1 && (format[0] == '{' || format[0] == '}') && format[1] == format[0];
      format.remove_prefix(doubled ? 2 : 1);
      continue;
    }
    format.remove_prefix(name.size());
  }
  return text;
}

std::string nowPlayingJson(const ShownTrack* onAir, const ShownTrack* previous) {
  std::string text;
  JsonWriter json(&text, JsonWriter::Style::kCompact, JsonText::kForPage);
  json.beginObject();
  if (onAir != nullptr) {
    appendTrackFields(*onAir, json);
  } else {
    for (const char* name : {"deck", "artist", "song", "album", "time"}) {
      json.name(name);
      json.string("");
    }
  }
  json.name("text");
  json.string(onAir != nullptr ? onAir->text : "");
  if (onAir != nullptr) appendArtwork(*onAir, json);
  json.name("previous");
  if (previous != nullptr) {
    appendShownTrack(*previous, json);
  } else {
    json.null();
  }
  json.endObject();
  return text;
}

std::string trackJson(const ShownTrack& shown) {
  std::string text;
  JsonWriter json(&text, JsonWriter::Style::kCompact, JsonText::kForPage);
  appendShownTrack(shown, json);
  return text;
}

std::string setJson(const std::vector<ShownTrack>& set) {
  std::string text;
  JsonWriter json(&text, JsonWriter::Style::kCompact, JsonText::kForPage);
  json.beginArray();
  for (const ShownTrack& shown : set) {
    json.lineBreak("  ");
    json.beginObject();
    appendTrackFields(shown, json);
    json.endObject();
  }
  if (!set.empty()) json.lineBreak("");
  json.endArray();
  return text + "\n";
}

std::string overlayPage(std::string_view onAir, std::string_view previous) {
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"refresh\" content=\"2\">\n<title>On air</title>\n<style>\n";
  page += kStyle;
  page += "</style></head>\n<body>\n";
  if (!onAir.empty()) {
    page += "<div class=\"label\">On air</div>\n<div class=\"now\">";
    appendHtml(onAir, &page);
    page += "</div>\n";
  }
  if (!previous.empty()) {
    page += "<div class=\"label\">Before</div>\n<div class=\"previous\">";
    appendHtml(previous, &page);
    page += "</div>\n";
  }
  page += "</body></html>\n";
  return page;
}

std::string servedOverlayPage() {
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<title>On air</title>\n<style>\n";
  page += kStyle;
  page += kServedBody;
  return page;
}
