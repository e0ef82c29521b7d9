"""A ListenBrainz API server for tests, on 127.0.0.1, built from the published rules of
submit-listens and validate-token: Token authorization, listen types (single and
playing_now take one listen, import up to 1000), 10,240,000 bytes per request and
10,240 per listen, listened_at a whole number from 2002-10-01 on and not in the future,
artist_name and track_name required, and X-RateLimit-* headers with 429 past the limit.

Faults to test a client with: `fail` answers the next requests with these statuses
(e.g. [503, 429]) before serving, or with (status, raw body bytes, headers) as given; `stall` holds the answer to the request of that number
(1 = the first submit) until released; `missing_validate` answers validate-token 404.
"""

import http.server
import json
import math
import threading
import time

MAX_LISTENS = 1000
MAX_PAYLOAD = 10240000
MAX_LISTEN = 10240
MIN_TS = 1033430400  # 2002-10-01
USER = "dj-user"


class Server:
    def __init__(self, tokens=("lb-token-secret",), rate_limit=30, window=10):
        self.tokens = set(tokens)
        self.listens = []  # (token, listen) accepted, in order
        self.requests = []  # body sizes of each submit-listens received
        self.throttled = 0  # 429 answers given
        self.fail = []
        self.stall = 0
        self.stalled = threading.Event()  # set when the stalled request has arrived
        self.release = threading.Event()
        self.missing_validate = False
        self.rate_limit, self.window = rate_limit, window
        self.window_start, self.window_count = time.time(), 0
        self.lock = threading.Lock()
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def answer(self, status, body, headers=()):
                raw = isinstance(body, bytes)
                data = body if raw else json.dumps(body).encode()
                self.send_response(status)
                self.send_header("Content-Type", "text/html" if raw else "application/json")
                self.send_header("Content-Length", str(len(data)))
                for name, value in headers:
                    self.send_header(name, value)
                self.end_headers()
                try:
                    self.wfile.write(data)
                except ConnectionError:
                    pass  # the client is gone (a test killed it)

            def token(self):
                auth = self.headers.get("Authorization", "")
                return auth[len("Token "):] if auth.startswith("Token ") else None

            def do_GET(self):
                if self.path.rstrip("/").endswith("/1/validate-token") and not server.missing_validate:
                    if self.token() in server.tokens:
                        self.answer(200, {"code": 200, "message": "Token valid.", "valid": True,
                                          "user_name": USER})
                    else:
                        self.answer(200, {"code": 200, "message": "Token invalid.", "valid": False})
                else:
                    self.answer(404, {"code": 404, "error": "Not found"})

            def do_POST(self):
                length = int(self.headers.get("Content-Length", "0"))
                body = self.rfile.read(length)
                if not self.path.endswith("/1/submit-listens"):
                    return self.answer(404, {"code": 404, "error": "Not found"})
                status, reply, headers = server.submit(self.token(), body, self.headers)
                self.answer(status, reply, headers)

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        self.url = "http://127.0.0.1:%d" % self.httpd.server_address[1]

    def start(self):
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()
        return self

    def stop(self):
        self.release.set()
        self.httpd.shutdown()
        self.httpd.server_close()

    def rate_headers(self):
        now = time.time()
        if now - self.window_start >= self.window:
            self.window_start, self.window_count = now, 0
        self.window_count += 1
        reset_in = max(1, math.ceil(self.window - (now - self.window_start)))
        remaining = max(0, self.rate_limit - self.window_count)
        return self.window_count > self.rate_limit, [
            ("X-RateLimit-Limit", str(self.rate_limit)),
            ("X-RateLimit-Remaining", str(remaining)),
            ("X-RateLimit-Reset-In", str(reset_in)),
            ("X-RateLimit-Reset", str(int(now) + reset_in))]

    def submit(self, token, body, headers):
        with self.lock:
            self.requests.append(len(body))
            number = len(self.requests)
            over, rate = self.rate_headers()
            fault = self.fail.pop(0) if self.fail else None
        if isinstance(fault, tuple):
            return fault
        if number == self.stall:
            self.stalled.set()
            self.release.wait(60)
        if fault == 429 or over:
            self.throttled += int(over)  # past the limit the headers told of
            if not over:  # an injected one: come back in a second
                rate = [h if h[0] != "X-RateLimit-Reset-In" else (h[0], "1") for h in rate]
            return 429, {"code": 429, "error": "Too many requests"}, rate
        if fault:
            return fault, {"code": fault, "error": "Service unavailable"}, rate
        if token not in self.tokens:
            return 401, {"code": 401, "error": "Invalid authorization token."}, rate
        error = self.validate(body)
        if error:
            return 400, {"code": 400, "error": error}, rate
        with self.lock:
            for listen in json.loads(body)["payload"]:
                self.listens.append((token, listen))
        return 200, {"status": "ok"}, rate

    @staticmethod
    def validate(body):
        if len(body) > MAX_PAYLOAD:
            return "Payload too large."
        try:
            data = json.loads(body.decode("utf-8"))
        except (UnicodeDecodeError, ValueError):
            return "Cannot parse JSON document."
        if not isinstance(data, dict) or not isinstance(data.get("payload"), list):
            return "Invalid JSON document submitted."
        kind, payload = data.get("listen_type"), data["payload"]
        if kind not in ("single", "playing_now", "import"):
            return "JSON document requires a valid listen_type key."
        if not payload:
            return "JSON document does not contain any listens."
        if kind != "import" and len(payload) != 1:
            return "JSON document contains more than one listen for listen_type %s." % kind
        if len(payload) > MAX_LISTENS:
            return ("Too many listens. You have submitted %d listens with listen_type import and "
                    "the limit is %d." % (len(payload), MAX_LISTENS))
        for listen in payload:
            if len(json.dumps(listen).encode()) > MAX_LISTEN:
                return "JSON document is too large. In aggregate, listens may not exceed %d bytes." % MAX_LISTEN
            meta = listen.get("track_metadata") if isinstance(listen, dict) else None
            if not isinstance(meta, dict):
                return "JSON document does not contain track_metadata."
            for key in ("artist_name", "track_name"):
                if not isinstance(meta.get(key), str) or not meta[key]:
                    return "JSON document does not contain required track_metadata.%s." % key
            if kind == "playing_now":
                continue
            at = listen.get("listened_at")
            if not isinstance(at, int) or isinstance(at, bool):
                return "JSON document must contain listened_at as a whole number."
            if at < MIN_TS:
                return "Value for key listened_at is too low. listened_at timestamp should be greater than 1033430400."
            if at > time.time() + 600:
                return "Value for key listened_at is too high."
        return None
