"""A Discord webhook server for tests, on 127.0.0.1, built from the published rules of
Get Webhook with Token and Execute Webhook: content of at most 2,000 characters (counted as
characters), `wait=true` answers 200 with the message (else 204), X-RateLimit-* headers
with 5 requests per 2 s for each webhook and a 429 with a JSON `retry_after` past them,
401 for a wrong token and 404 for a deleted webhook.

Faults to test a client with: `down` answers every post 503 while set; `faults` answers the next posts with these (status, body
JSON or bytes, headers) before serving. Every post is kept with its time in `posts`; every
breach of the rules by the client (a 429 it earned, a body without allowed_mentions.parse
empty, content too long) is counted in `breaches`.
"""

import http.server
import json
import math
import re
import threading
import time

LIMIT = 5
WINDOW = 2.0
MOST = 2000
# Discord's markdown reads a backslash before any ASCII punctuation as an escape.
ESCAPE = re.compile(r"\\([!-/:-@\[-`{-~])")


def rendered(content):
    """The text as a Discord client shows it: each backslash escape reduced to its character."""
    return ESCAPE.sub(r"\1", content)


def unescaped_markup(content):
    """The characters of markdown, mentions and links in content that no backslash escapes."""
    bare = ESCAPE.sub("", content)
    return [c for c in bare if c in "@*_~`|<>#[]()"]


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, tls=None):
        """tls: an ssl.SSLContext with a certificate for localhost, to answer over https."""
        super().__init__(("127.0.0.1", 0), Handler)
        if tls:
            self.socket = tls.wrap_socket(self.socket, server_side=True)
        scheme, host = ("https", "localhost") if tls else ("http", "127.0.0.1")
        self.root = f"{scheme}://{host}:{self.server_address[1]}/api"
        self.webhooks = {}  # id -> {"token", "name", "deleted"}
        self.posts = []  # (time, webhook id, JSON body) of each message taken
        self.requests = []  # (time, method, webhook id) of every request
        self.breaches = []
        self.faults = []
        self.down = False  # every post answered 503 while set
        self.windows = {}  # webhook id -> (start, count)
        self.lock = threading.Lock()
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def add(self, webhook_id, token, name):
        """The webhook's URL as Discord shows it for copying. setlist takes only the id and
        the token from it and sends to the root that --url names: this mock's, never
        discord.com."""
        self.webhooks[webhook_id] = {"token": token, "name": name, "deleted": False}
        return f"https://discord.com/api/webhooks/{webhook_id}/{token}"

    def close(self):
        self.shutdown()
        self.server_close()

    def contents(self, webhook_id=None):
        return [body["content"] for _, hook, body in self.posts if webhook_id in (None, hook)]

    def take_slot(self, webhook_id):
        """Counts a post in the webhook's window: (remaining, reset after) or None past it."""
        now = time.monotonic()
        start, count = self.windows.get(webhook_id, (now, 0))
        if now - start >= WINDOW:
            start, count = now, 0
        if count >= LIMIT:
            return None, start + WINDOW - now
        self.windows[webhook_id] = (start, count + 1)
        return LIMIT - count - 1, start + WINDOW - now


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, body, headers=()):
        data = body if isinstance(body, bytes) else json.dumps(body).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(data)

    def webhook(self):
        """The webhook the path names, or None once answered with its refusal."""
        path = self.path.split("?", 1)[0]
        match = re.fullmatch(r"/api/webhooks/(\d+)/([\w.-]+)", path)
        hook = self.server.webhooks.get(match.group(1)) if match else None
        with self.server.lock:
            self.server.requests.append((time.monotonic(), self.command, match and match.group(1)))
        if hook is None or hook["deleted"]:
            self.reply(404, {"message": "Unknown Webhook", "code": 10015})
        elif hook["token"] != match.group(2):
            self.reply(401, {"message": "Invalid Webhook Token", "code": 50027})
        else:
            return match.group(1), hook
        return None

    def do_GET(self):
        found = self.webhook()
        if found:
            webhook_id, hook = found
            self.reply(200, {"type": 1, "id": webhook_id, "name": hook["name"],
                             "channel_id": "99", "guild_id": "98", "token": hook["token"]})

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        found = self.webhook()
        if not found:
            return
        webhook_id, _ = found
        server = self.server
        if server.down:
            return self.reply(503, b"<html>upstream connect error</html>")
        with server.lock:
            fault = server.faults.pop(0) if server.faults else None
            remaining, reset = server.take_slot(webhook_id)
        if fault:
            return self.reply(*fault)
        limits = [("X-RateLimit-Limit", str(LIMIT)), ("X-RateLimit-Bucket", "abc"),
                  ("X-RateLimit-Reset-After", f"{max(reset, 0):.3f}")]
        if remaining is None:
            server.breaches.append("a request past the rate limit")
            return self.reply(429, {"message": "You are being rate limited.",
                                    "retry_after": round(reset, 3), "global": False},
                              limits + [("X-RateLimit-Remaining", "0"),
                                        ("Retry-After", str(math.ceil(reset)))])
        limits.append(("X-RateLimit-Remaining", str(remaining)))
        message = json.loads(body)
        content = message.get("content", "")
        if message.get("allowed_mentions") != {"parse": []}:
            server.breaches.append("mentions allowed: %r" % message.get("allowed_mentions"))
        if not content or len(content) > MOST:
            server.breaches.append("content of %d characters" % len(content))
            return self.reply(400, {"message": "Invalid Form Body", "code": 50035,
                                    "errors": {"content": {"_errors": [
                                        {"code": "BASE_TYPE_MAX_LENGTH",
                                         "message": "Must be 2000 or fewer in length."}]}}},
                              limits)
        with server.lock:
            server.posts.append((time.monotonic(), webhook_id, message))
            number = len(server.posts)
        if "wait=true" not in self.path:
            return self.reply(204, b"", limits)
        self.reply(200, {"id": str(1000 + number), "type": 0, "content": content,
                         "channel_id": "99", "webhook_id": webhook_id}, limits)
