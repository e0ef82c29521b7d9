"""Kick's OAuth server and public API for tests, on 127.0.0.1, built from the published
rules: the authorization code flow with PKCE (S256 only) and state, the code exchanged once
with the client secret, the redirect URL and the verifier whose SHA-256 matches the
challenge; refresh tokens rotated at each refresh (the old one refused after it); GET
/public/v1/users and POST /public/v1/chat ({"type": "bot", "content"} of at most 500
characters) with a Bearer token.

`revoke()` makes every access token refused (an expired token); `refresh_works` False
refuses every refresh token. Breaches of the rules by the client are kept in `breaches`.
"""

import base64
import hashlib
import http.server
import itertools
import json
import os
import re
import subprocess
import threading
import time
import urllib.parse
import urllib.request

CLIENT_ID = "kick-client"
SECRET = "kick-secret-9"
USER = "djkick"


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self):
        super().__init__(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.server_address[1]}"
        self.codes = {}  # code -> (challenge, redirect_uri)
        self.access, self.refresh = set(), set()
        self.refresh_works = True
        self.refreshes = 0
        self.chat = []  # (time, content) of each message taken
        self.breaches = []
        self.numbers = itertools.count(1)
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def close(self):
        self.shutdown()
        self.server_close()

    def revoke(self):
        self.access.clear()

    def new_pair(self):
        n = next(self.numbers)
        pair = {"access_token": f"kacc-{n}-Q", "refresh_token": f"kref-{n}-W",
                "token_type": "Bearer", "expires_in": 7200, "scope": "user:read chat:write"}
        self.access.add(pair["access_token"])
        self.refresh.add(pair["refresh_token"])
        return pair


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, body, headers=()):
        data = json.dumps(body).encode() if body is not None else b""
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def authorized(self):
        bearer = self.headers.get("Authorization", "")
        if bearer.removeprefix("Bearer ") in self.server.access:
            return True
        self.reply(401, {"message": "Unauthorized"})
        return False

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query))
        if url.path == "/oauth/authorize":
            wanted = {"response_type": "code", "client_id": CLIENT_ID,
                      "scope": "user:read chat:write", "code_challenge_method": "S256"}
            wrong = [k for k, v in wanted.items() if query.get(k) != v]
            if wrong or not query.get("state") or len(query.get("code_challenge", "")) != 43:
                self.server.breaches.append(f"authorize: {wrong} {query}")
                answer = "error=invalid_request"
            else:
                code = f"code-{next(self.server.numbers)}"
                self.server.codes[code] = (query["code_challenge"], query["redirect_uri"])
                answer = "code=" + code
            answer += "&state=" + urllib.parse.quote(query.get("state", ""))
            self.reply(302, None, [("Location", query["redirect_uri"] + "?" + answer)])
        elif url.path == "/public/v1/users" and self.authorized():
            self.reply(200, {"data": [{"user_id": 42, "name": USER, "email": "dj@k"}],
                             "message": "OK"})

    def token(self, form):
        server = self.server
        if form.get("client_id") != CLIENT_ID or form.get("client_secret") != SECRET:
            return self.reply(401, {"error": "invalid_client"})
        if form.get("grant_type") == "authorization_code":
            challenge, redirect = server.codes.pop(form.get("code"), (None, None))
            verifier = form.get("code_verifier", "").encode()
            made = base64.urlsafe_b64encode(hashlib.sha256(verifier).digest()).rstrip(b"=")
            if challenge is None or redirect != form.get("redirect_uri") or made.decode() != challenge:
                server.breaches.append("a code exchange that does not match its authorize")
                return self.reply(400, {"error": "invalid_grant"})
            return self.reply(200, server.new_pair())
        if form.get("grant_type") == "refresh_token":
            server.refreshes += 1
            if not server.refresh_works or form.get("refresh_token") not in server.refresh:
                return self.reply(400, {"error": "invalid_grant",
                                        "error_description": "refresh token is invalid"})
            server.refresh.discard(form["refresh_token"])  # rotated: the old one is spent
            return self.reply(200, server.new_pair())
        self.reply(400, {"error": "unsupported_grant_type"})

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        path = urllib.parse.urlsplit(self.path).path
        if path == "/oauth/token":
            return self.token(dict(urllib.parse.parse_qsl(body.decode())))
        if path != "/public/v1/chat":
            return self.reply(404, {"message": "Not Found"})
        if not self.authorized():
            return
        message = json.loads(body)
        content = message.get("content", "")
        if message.get("type") != "bot" or not content or len(content) > 500 or \
                re.search(r"[\x00-\x1f\x7f]", content):
            self.server.breaches.append(f"a chat message of Kick's rules: {message!r}")
            return self.reply(400, {"message": "Bad Request"})
        self.server.chat.append((time.monotonic(), content))
        self.reply(200, {"data": {"is_sent": True, "message_id": "m%d" % len(self.server.chat)},
                         "message": "OK"})


def free_port():
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def log_in(server, setlist, folder, launcher=(), name=None, port=None, secret=SECRET):
    """Runs setlist login kick against the server, with this function as the browser:
    (status, stdout, stderr)."""
    port = port or free_port()
    args = list(launcher) + [setlist, "login", "kick", "--client-id", CLIENT_ID, "--auth-url",
                             server.url, "--url", server.url, "--port", str(port),
                             "--accounts", "accounts.json"] + (["--name", name] if name else [])
    process = subprocess.Popen(args, cwd=folder, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True, encoding="utf-8")
    process.stdin.write(secret + "\n")
    process.stdin.close()
    lines = []
    for line in process.stdout:
        lines.append(line)
        if line.strip().startswith(server.url + "/oauth/authorize?"):
            with urllib.request.urlopen(line.strip(), timeout=10) as page:
                page.read()
            break
    out, err = process.stdout.read(), process.stderr.read()
    process.wait(timeout=30)
    process.stdout.close()
    process.stderr.close()
    return process.returncode, "".join(lines) + out, err
