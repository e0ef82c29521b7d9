"""A Last.fm API server for tests, on 127.0.0.1, built from the published rules: every
write call a form-encoded POST signed with api_sig (MD5 of the parameters sorted by name,
each name then value, format and callback left out, then the shared secret), the desktop
login (auth.getToken, then auth.getSession answering error 14 until the user allowed the
token), and track.scrobble in batches of at most 50 with its JSON answer (one scrobble as
an object, several as an array, each with an ignoredMessage). Errors come as
{"error": N, "message": ...}: 4 authentication failed, 6 invalid parameters, 9 invalid
session key, 10 invalid API key, 11 service offline, 13 invalid signature, 14 token not
authorized, 16 temporary error, 26 suspended API key, 29 rate limit exceeded.

Faults: `fail` answers the next scrobble requests with these error codes (11 and 16 with
HTTP 503, 29 with 429, any other with 200, as some failures come; a tuple (status, raw body
bytes or a JSON object, headers) is answered as given); `unauthorized` is how
many auth.getSession calls answer 14 first; `ignore_artist` is an artist Last.fm ignores.
"""

import hashlib
import http.server
import json
import threading
import time
import urllib.parse

API_KEY = "lastfm-api-key"
SECRET = "lastfm-shared-secret"
SESSION_KEY = "lastfm-session-key-secret"
USER = "dj-lastfm"
MAX_SCROBBLES = 50


def signature(params, secret):
    text = "".join(k + v for k, v in sorted(params.items()) if k not in ("format", "callback", "api_sig"))
    return hashlib.md5((text + secret).encode("utf-8")).hexdigest()


class Server:
    def __init__(self):
        self.scrobbles = []  # dicts of artist, track, timestamp, album accepted
        self.requests = []   # method of each call
        self.fail = []
        self.unauthorized = 1
        self.ignore_artist = "Ignored Artist"
        self.token = "lastfm-request-token"
        self.session_key = SESSION_KEY
        self.lock = threading.Lock()
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def answer(self, status, body, headers=()):
                data = body if isinstance(body, bytes) else json.dumps(body).encode()
                self.send_response(status)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(data)))
                for name, value in headers:
                    self.send_header(name, value)
                self.end_headers()
                try:
                    self.wfile.write(data)
                except ConnectionError:
                    pass  # the client is gone (a test killed it)

            def do_POST(self):
                length = int(self.headers.get("Content-Length", "0"))
                body = self.rfile.read(length).decode("utf-8")
                params = dict(urllib.parse.parse_qsl(body, keep_blank_values=True))
                self.answer(*server.call(params))

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        self.url = "http://127.0.0.1:%d/2.0/" % self.httpd.server_address[1]

    def start(self):
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()
        return self

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()

    @staticmethod
    def error(code, message, status=200):
        return status, {"error": code, "message": message}

    def call(self, params):
        method = params.get("method", "")
        with self.lock:
            self.requests.append(method)
        if params.get("api_key") != API_KEY:
            return self.error(10, "Invalid API key - You must be granted a valid key by last.fm", 403)
        if params.get("api_sig") != signature(params, SECRET):
            return self.error(13, "Invalid method signature supplied", 403)
        if method == "auth.getToken":
            return 200, {"token": self.token}
        if method == "auth.getSession":
            if params.get("token") != self.token:
                return self.error(4, "Invalid authentication token supplied", 403)
            with self.lock:
                if self.unauthorized > 0:
                    self.unauthorized -= 1
                    return self.error(14, "This token has not been authorized", 403)
            return 200, {"session": {"name": USER, "key": self.session_key, "subscriber": 0}}
        if method == "track.scrobble":
            return self.scrobble(params)
        return self.error(3, "Invalid Method - No method with that name in this package", 400)

    def scrobble(self, params):
        with self.lock:
            fault = self.fail.pop(0) if self.fail else None
        if isinstance(fault, tuple):
            return fault
        if fault:
            status = {11: 503, 16: 503, 29: 429}.get(fault, 200)
            return self.error(fault, "Simulated error %d" % fault, status)
        if params.get("sk") != self.session_key:
            return self.error(9, "Invalid session key - Please re-authenticate", 403)
        count = 0
        while "artist[%d]" % count in params:
            count += 1
        if count == 0 or count > MAX_SCROBBLES:
            return self.error(6, "Invalid parameters - between 1 and 50 scrobbles", 400)
        items, accepted = [], 0
        now = time.time()
        for i in range(count):
            artist, track = params.get("artist[%d]" % i, ""), params.get("track[%d]" % i, "")
            stamp = params.get("timestamp[%d]" % i, "")
            if not artist or not track or not stamp.isdigit():
                return self.error(6, "Invalid parameters - artist, track and timestamp needed", 400)
            code, reason = "0", ""
            if artist == self.ignore_artist:
                code, reason = "1", "Artist was ignored"
            elif int(stamp) < now - 14 * 86400:
                code, reason = "3", "Timestamp was too old"
            elif int(stamp) > now + 86400:
                code, reason = "4", "Timestamp was too new"
            else:
                accepted += 1
                with self.lock:
                    self.scrobbles.append({"artist": artist, "track": track, "timestamp": int(stamp),
                                           "album": params.get("album[%d]" % i, "")})
            items.append({"artist": {"corrected": "0", "#text": artist},
                          "track": {"corrected": "0", "#text": track},
                          "album": {"corrected": "0", "#text": params.get("album[%d]" % i, "")},
                          "timestamp": stamp,
                          "ignoredMessage": {"code": code, "#text": reason}})
        return 200, {"scrobbles": {"@attr": {"accepted": accepted, "ignored": count - accepted},
                                   "scrobble": items[0] if count == 1 else items}}
