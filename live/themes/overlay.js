// The overlay script of setlist live, served at /overlay.js. A theme loads it with
// <script src="/overlay.js"></script> and needs no script of its own:
//   - elements with data-now="FIELD" show the track on air, data-previous="FIELD" the one
//     before it (FIELD: text, artist, song, album, deck, time); an <img data-now="artwork">
//     shows the cover art when there is one (it comes in an event after its track's text,
//     and appears without a fade), and stays hidden when it cannot be loaded;
//   - an element with data-history holds a <template>; each of the last tracks, newest
//     first, gets a copy in which data-field="FIELD" elements show that track's texts
//     (FIELD as above, or clock: the time as HH:MM), as many as fit the list's height;
//   - the <html> element has the class "empty" while nothing is on air, "no-previous"
//     without a track before, "no-artwork" without cover art, "changing" for 300 ms while
//     a change fades (a theme may style it) and "hidden" once ?hide=SECONDS has passed;
//   - a page may define onTrack(now, previous, history) to draw the tracks itself.
// URL options: ?hide=SECONDS fades the overlay out that long after each change, back on the
// next one; ?n=N is the history's length, 1 to 50 (10 when not given).
(function () {
  "use strict";
  var options = new URLSearchParams(location.search);
  var hide = parseFloat(options.get("hide"));
  var count = Math.min(50, Math.max(1, parseInt(options.get("n"), 10) || 10));
  var root = document.documentElement;
  var shown = null, drawn = null, fadeTimer = null, hideTimer = null;

  var style = document.createElement("style");
  style.textContent = "body{transition:opacity .5s}html.hidden body{opacity:0}";
  document.head.insertBefore(style, document.head.firstChild);

  function fill(scope, attribute, track) {
    scope.querySelectorAll("[" + attribute + "]").forEach(function (element) {
      var field = element.getAttribute(attribute);
      var value = track ? track[field] : "";
      if (element.tagName === "IMG") {
        if (value) element.src = value; else element.removeAttribute("src");
        element.hidden = !value;
        // An image that does not load or decode shows the placeholder, never a broken image.
        element.onload = element.onerror = function () {
          if (!element.getAttribute("src") || element.naturalWidth) return;
          element.hidden = true;
          if (attribute === "data-now") root.classList.add("no-artwork");
        };
      } else {
        element.textContent = value || "";
        element.dir = "auto";  // Arabic or Hebrew runs right to left, its ellipsis on the left
      }
    });
  }

  function fillHistory(history) {
    document.querySelectorAll("[data-history]").forEach(function (list) {
      var template = list.querySelector("template");
      if (!template) return;
      Array.prototype.slice.call(list.children).forEach(function (child) {
        if (child !== template) list.removeChild(child);
      });
      history.forEach(function (track, index) {
        var copy = template.content.cloneNode(true);
        fill(copy, "data-field", track);
        Array.prototype.forEach.call(copy.children, function (child) {
          child.classList.add(index === 0 ? "first" : "earlier");
        });
        list.appendChild(copy);
      });
      // As many as fit: the oldest go while the list is taller than its box.
      while (list.scrollHeight > list.clientHeight + 1 && list.lastElementChild !== template) {
        list.removeChild(list.lastElementChild);
      }
    });
  }

  function draw(now, previous, history) {
    drawn = [now, previous, history];
    root.classList.toggle("empty", !now.text);
    root.classList.toggle("no-previous", !previous);
    root.classList.toggle("no-artwork", !now.artwork);
    fill(document, "data-now", now);
    fill(document, "data-previous", previous);
    fillHistory(history);
    if (typeof window.onTrack === "function") window.onTrack(now, previous, history);
  }

  function scheduleHide() {
    clearTimeout(hideTimer);
    root.classList.remove("hidden");
    if (hide > 0) hideTimer = setTimeout(function () { root.classList.add("hidden"); }, hide * 1000);
  }

  // Whether two states show the same tracks, their cover art aside.
  function sameTrack(a, b) {
    var bare = function (state) {
      var copy = Object.assign({}, state, { artwork: null });
      copy.previous = state.previous ? Object.assign({}, state.previous, { artwork: null }) : null;
      return JSON.stringify(copy);
    };
    return bare(a) === bare(b);
  }

  function change(state, history) {
    var previous = state.previous || null;
    var now = Object.assign({}, state, { artwork: state.artwork || null });
    delete now.previous;
    history = history.filter(function (track) { return track.text; });
    history.forEach(function (track) { track.clock = (track.time || "").slice(11, 16); });
    var first = shown === null;
    // The cover art follows its track in an event of its own: it appears without a fade.
    var artOnly = !first && sameTrack(JSON.parse(shown), state);
    shown = JSON.stringify(state);
    clearTimeout(fadeTimer);
    // During a fade, the fade draws the art (with its track) when it ends.
    if (artOnly && !root.classList.contains("changing")) return draw(now, previous, history);
    if (!artOnly) scheduleHide();
    if (first) return draw(now, previous, history);
    root.classList.add("changing");
    fadeTimer = setTimeout(function () {
      draw(now, previous, history);
      root.classList.remove("changing");
    }, 300);
  }

  function received(state) {
    if (JSON.stringify(state) === shown) return;  // the same state again after a reconnect
    fetch("/history.json?n=" + count, { cache: "no-store" })
      .then(function (answer) { return answer.ok ? answer.json() : []; })
      .catch(function () { return []; })
      .then(function (history) { change(state, history); });
  }

  function connect() {
    var source = new EventSource("/events");
    source.onmessage = function (event) { received(JSON.parse(event.data)); };
    // The browser retries on its own after a lost connection, but not after a refusal
    // (the server restarting, say): then a new source, a little later.
    source.onerror = function () {
      if (source.readyState !== EventSource.CLOSED) return;
      source.close();
      setTimeout(connect, 2000);
    };
  }
  // A new size of the browser source: as many of the last tracks as fit it now.
  window.addEventListener("resize", function () { if (drawn) draw.apply(null, drawn); });
  connect();
})();
