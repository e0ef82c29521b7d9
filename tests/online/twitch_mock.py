"""Stand-ins for Twitch on 127.0.0.1, after Twitch's published rules: the chat server
(IRC over a WebSocket, with tags, PING, RECONNECT and the NOTICE of a refused login) and
the id server's OAuth endpoints (the device code flow, refresh and validate).

Needs the websockets package (Debian's python3-websockets for /usr/bin/python3).
"""

import asyncio
import itertools
import json
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import websockets

HOST = ":tmi.twitch.tv"


class ChatServer:
    """The chat server. Every line a client sends is kept in `lines` as (time, line)."""

    def __init__(self, valid_tokens, tls=None):
        """tls: an ssl.SSLContext to serve wss:// with, for the name localhost."""
        self.valid_tokens = valid_tokens  # a set shared with the id server
        self._tls = tls
        self.lines, self.logins = [], []
        self._clients = set()
        self._ids = itertools.count(1)
        self._changed = threading.Condition()
        self._loop = asyncio.new_event_loop()
        started = threading.Event()
        threading.Thread(target=self._run, args=(started,), daemon=True).start()
        started.wait(10)

    def _run(self, started):
        asyncio.set_event_loop(self._loop)
        server = self._loop.run_until_complete(
            websockets.serve(self._serve, "127.0.0.1", 0, max_size=2 ** 16, ssl=self._tls))
        self.port = server.sockets[0].getsockname()[1]
        self.url = f"wss://localhost:{self.port}" if self._tls else f"ws://127.0.0.1:{self.port}"
        started.set()
        self._loop.run_forever()

    async def _serve(self, socket):
        token = nick = None
        try:
            async for message in socket:
                for line in message.split("\r\n"):
                    if not line:
                        continue
                    with self._changed:
                        self.lines.append((time.monotonic(), line))
                        self._changed.notify_all()
                    command, _, rest = line.partition(" ")
                    if command == "PASS":
                        token = rest.removeprefix("oauth:")
                    elif command == "NICK":
                        nick = rest
                        if token not in self.valid_tokens:
                            await socket.send(f"{HOST} NOTICE * :Login authentication failed")
                            await socket.close()
                            return
                        self.logins.append(nick)
                        await socket.send(f"{HOST} 001 {nick} :Welcome, GLHF!\r\n"
                                          f"{HOST} 376 {nick} :>")
                    elif command == "JOIN" and nick:
                        channel = rest
                        await socket.send(
                            f":{nick}!{nick}@{nick}.tmi.twitch.tv JOIN {channel}\r\n"
                            f":{nick}.tmi.twitch.tv 353 {nick} = {channel} :{nick}\r\n"
                            f":{nick}.tmi.twitch.tv 366 {nick} {channel} :End of /NAMES list\r\n"
                            f"@emote-only=0;room-id=1 {HOST} ROOMSTATE {channel}")
                        self._clients.add(socket)
                        with self._changed:
                            self._changed.notify_all()
        except websockets.ConnectionClosed:
            pass
        finally:
            self._clients.discard(socket)

    def _broadcast(self, text):
        async def send():
            for client in list(self._clients):
                try:
                    await client.send(text)
                except websockets.ConnectionClosed:
                    pass
        asyncio.run_coroutine_threadsafe(send(), self._loop).result(10)

    def joined(self):
        return len(self._clients)

    def wait_joined(self, count=1, timeout=15):
        with self._changed:
            return self._changed.wait_for(lambda: len(self._clients) >= count, timeout)

    def say(self, user, text, channel="#dj"):
        """A viewer's message in the channel; its message id."""
        message_id = f"b34ccfc7-4977-403a-8a94-33c6bac3{next(self._ids):04d}"
        escaped = user.replace(" ", "\\s")
        self._broadcast(f"@badge-info=;badges=;color=#1E90FF;display-name={escaped};"
                        f"emotes=;first-msg=0;id={message_id};mod=0;tmi-sent-ts=1;user-type= "
                        f":{user}!{user}@{user}.tmi.twitch.tv PRIVMSG {channel} :{text}")
        return message_id

    def send_raw(self, text):
        self._broadcast(text)

    def drop(self):
        """Closes every connection without a word."""
        async def close():
            for client in list(self._clients):
                client.transport.abort()
        asyncio.run_coroutine_threadsafe(close(), self._loop).result(10)

    def sent(self, command="PRIVMSG"):
        with self._changed:
            return [(t, line) for t, line in self.lines
                    if line.split(" ")[1 if line.startswith("@") else 0] == command]

    def wait_lines(self, condition, timeout=15):
        """Waits until condition(lines) holds; whether it did."""
        with self._changed:
            return self._changed.wait_for(lambda: condition(self.lines), timeout)


class IdServer:
    """The id server: /oauth2/device, /oauth2/token and /oauth2/validate.

    The device code is allowed after `pending_polls` polls. A refresh succeeds while
    `refresh_works`, each time with a new token pair, whose access token the chat server
    takes from then on; `refresh_faults` answers the next refreshes with these (status,
    raw body) first."""

    def __init__(self, valid_tokens, login="djbot", pending_polls=1):
        self.valid_tokens, self.login, self.pending_polls = valid_tokens, login, pending_polls
        self.refresh_works, self.requests, self.refresh_faults = True, [], []
        self._pairs = itertools.count(1)
        self.refresh_token = None
        server = self
        handler = type("Handler", (_IdHandler,), {"id_server": server})
        self._httpd = ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.url = f"http://127.0.0.1:{self._httpd.server_address[1]}"
        threading.Thread(target=self._httpd.serve_forever, daemon=True).start()

    def new_pair(self):
        n = next(self._pairs)
        access, refresh = f"access-{n}-Zq9", f"refresh-{n}-Kx7"
        self.valid_tokens.add(access)
        self.refresh_token = refresh
        return {"access_token": access, "refresh_token": refresh, "expires_in": 14400,
                "scope": ["chat:edit", "chat:read"], "token_type": "bearer"}

    def close(self):
        self._httpd.shutdown()
        self._httpd.server_close()


class _IdHandler(BaseHTTPRequestHandler):
    id_server = None

    def log_message(self, *args):
        pass

    def _answer(self, status, document):
        body = json.dumps(document).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        server = self.id_server
        length = int(self.headers.get("Content-Length", 0))
        form = dict(urllib.parse.parse_qsl(self.rfile.read(length).decode()))
        server.requests.append((self.path, form))
        if self.path == "/oauth2/device":
            if form.get("client_id") != "client-1" or form.get("scopes") != "chat:read chat:edit":
                return self._answer(400, {"status": 400, "message": "invalid client"})
            return self._answer(200, {"device_code": "device-9", "expires_in": 1800,
                                      "interval": 1, "user_code": "ABCDEFGH",
                                      "verification_uri": "https://www.twitch.tv/activate?public=true&device-code=ABCDEFGH"})
        grant = form.get("grant_type")
        if grant == "urn:ietf:params:oauth:grant-type:device_code":
            if form.get("device_code") != "device-9":
                return self._answer(400, {"status": 400, "message": "invalid device code"})
            if server.pending_polls > 0:
                server.pending_polls -= 1
                return self._answer(400, {"status": 400, "message": "authorization_pending"})
            return self._answer(200, server.new_pair())
        if grant == "refresh_token" and server.refresh_faults:
            status, body = server.refresh_faults.pop(0)
            self.send_response(status)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            return self.wfile.write(body)
        if grant == "refresh_token":
            if (not server.refresh_works or form.get("client_id") != "client-1"
                    or form.get("refresh_token") != server.refresh_token):
                return self._answer(400, {"status": 400, "message": "Invalid refresh token"})
            return self._answer(200, server.new_pair())
        return self._answer(400, {"status": 400, "message": "unsupported grant type"})

    def do_GET(self):
        server = self.id_server
        token = self.headers.get("Authorization", "").removeprefix("OAuth ")
        if self.path != "/oauth2/validate" or token not in server.valid_tokens:
            return self._answer(401, {"status": 401, "message": "invalid access token"})
        return self._answer(200, {"client_id": "client-1", "login": server.login,
                                  "scopes": ["chat:edit", "chat:read"], "user_id": "141981764",
                                  "expires_in": 14400})
