"""The platform's web client end to end, through tools/web-fetch, against mock servers this
test starts on 127.0.0.1: requests with bodies from memory and streamed files, headers,
failures and timeouts, TLS with a certificate authority the test makes, and WebSockets.

    ZV_WEB_FETCH  the web-fetch executable
    ZV_LAUNCHER   optional command prefix (Wine for the Windows build): TLS, wss:// and the
                  memory check then stay out, as they test the Linux half's own parts
"""

import hashlib
import http.server
import json
import os
import shlex
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import unittest

WEB_FETCH = os.environ.get("ZV_WEB_FETCH", "")
LAUNCHER = shlex.split(os.environ.get("ZV_LAUNCHER", ""))
NATIVE = not LAUNCHER
SYSTEM_PYTHON = "/usr/bin/python3"  # the one that sees Debian's python3-websockets
HERE = os.path.dirname(os.path.abspath(__file__))
HELLO = "héllo 日本 🎵"


class Handler(http.server.BaseHTTPRequestHandler):
    """Records every request (its body only as length and SHA-256) and answers by path:
    /fail is a 500, /hang never answers, anything else a 200 with the record as JSON."""

    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        self.route()

    do_POST = do_PUT = do_GET

    def route(self):
        length, digest = int(self.headers.get("Content-Length", 0)), hashlib.sha256()
        received = 0
        while received < length:
            chunk = self.rfile.read(min(length - received, 1 << 20))
            if not chunk:
                break
            digest.update(chunk)
            received += len(chunk)
        seen = {"method": self.command, "path": self.path, "length": received,
                "sha256": digest.hexdigest(), "headers": dict(self.headers.items())}
        self.server.seen.append(seen)
        if self.path == "/hang":
            time.sleep(60)
            return
        status, body = (500, b"broken") if self.path == "/fail" else (200, HELLO.encode())
        if self.path.startswith("/echo"):
            body = json.dumps(seen).encode()
        self.send_response(status)
        self.send_header("X-Mock", "yes")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def serve(context=None):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads, server.seen = True, []
    if context:
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_certificates(folder):
    """A CA, and server certificates from it for localhost and for another name."""
    def openssl(*args):
        subprocess.run(["openssl", *args], cwd=folder, check=True, capture_output=True)
    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    openssl("req", "-x509", *key, "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
            "-subj", "/CN=Zorvanthelix test CA")
    for name, alt in (("localhost", "DNS:localhost,IP:127.0.0.1"), ("other", "DNS:other.example")):
        openssl("req", *key, "-keyout", name + ".key", "-out", name + ".csr", "-subj", "/CN=" + name)
        with open(os.path.join(folder, name + ".ext"), "w") as f:
            f.write("subjectAltName=" + alt + "\n")
        openssl("x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                "-CAcreateserial", "-days", "2", "-out", name + ".pem", "-extfile", name + ".ext")


def start_echo(port, *tls):
    server = subprocess.Popen([SYSTEM_PYTHON, "-B", os.path.join(HERE, "ws_echo.py"), str(port), *tls],
                              stdout=subprocess.PIPE, text=True)
    if server.stdout.readline().strip() != "ready":
        raise RuntimeError("the WebSocket echo server did not start")
    return server


def peak_memory(process):
    """The process's peak resident memory in bytes so far (VmHWM; 0 once it has ended).
    Its rusage would not do: a child that Python forks starts with Python's own peak."""
    try:
        with open("/proc/%d/status" % process.pid) as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return 0


def run(args, env=None):
    """Runs web-fetch: its status, stdout, stderr, seconds and peak memory in bytes."""
    started = time.monotonic()
    process = subprocess.Popen(LAUNCHER + [WEB_FETCH, *args], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, env=dict(os.environ, **(env or {})))
    peak = [0]

    def watch():
        while process.poll() is None:
            peak[0] = max(peak[0], peak_memory(process))
            time.sleep(0.01)
    watcher = threading.Thread(target=watch)
    watcher.start()
    try:
        out, err = process.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        process.kill()
        out, err = process.communicate()
        err += b"\n(killed after 60 s)"
    watcher.join()
    # A Windows program's text streams end lines with CR LF.
    out, err = (text.decode("utf-8").replace("\r\n", "\n") for text in (out, err))
    return (process.returncode, out, err,
            time.monotonic() - started, peak[0])


class WebClient(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="zv-web-client-")
        cls.http = serve()
        cls.big = os.path.join(cls.folder, "big.bin")
        with open(cls.big, "wb") as f:  # 64 MiB, mostly a hole, with bytes at both ends
            f.write(os.urandom(4096))
            f.seek(64 * 1024 * 1024 - 4096)
            f.write(os.urandom(4096))
        cls.servers, cls.echo = [], None
        if shutil.which("openssl") and NATIVE:
            make_certificates(cls.folder)
            for name in ("localhost", "other"):
                import ssl
                context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
                context.load_cert_chain(os.path.join(cls.folder, name + ".pem"),
                                        os.path.join(cls.folder, name + ".key"))
                cls.servers.append(serve(context))
        cls.ws_port, cls.wss_port = free_port(), free_port()
        cls.echo = [start_echo(cls.ws_port)]
        if cls.servers:
            tls = [os.path.join(cls.folder, n) for n in ("localhost.pem", "localhost.key")]
            cls.echo.append(start_echo(cls.wss_port, *tls))

    @classmethod
    def tearDownClass(cls):
        for server in [cls.http] + cls.servers:
            server.shutdown()
        for process in cls.echo:
            process.terminate()
            process.wait()
        shutil.rmtree(cls.folder, ignore_errors=True)

    def file_digest(self, prefix, suffix):
        digest = hashlib.sha256(prefix)
        with open(self.big, "rb") as f:
            for chunk in iter(lambda: f.read(1 << 20), b""):
                digest.update(chunk)
        digest.update(suffix)
        return digest.hexdigest()

    def test_requests(self):
        http_url = "http://127.0.0.1:%d" % self.http.server_address[1]
        refused = "http://127.0.0.1:%d/" % free_port()
        big_length = 5 + os.path.getsize(self.big) + 5
        # name, arguments, status, texts in stdout, texts in stderr, at most seconds
        cases = [
            ("GET", [http_url + "/hello?q=1"], 0, ["status 200", "X-Mock: yes", HELLO], [], 10),
            ("POST from memory", ["--method", "POST", "--header", "X-Custom: a b",
                                  "--data", "a=1&", "--data", "b=ü", http_url + "/echo"],
             0, ['"length": 8', '"X-Custom": "a b"', '"Host": "127.0.0.1:%d"'
                 % self.http.server_address[1], hashlib.sha256("a=1&b=ü".encode()).hexdigest()],
             ["last 8/8"], 10),
            ("POST with a streamed file", ["--method", "PUT", "--data", "head:", "--file", self.big,
                                           "--data", ":tail", http_url + "/echo"],
             0, ['"method": "PUT"', '"length": %d' % big_length,
                 self.file_digest(b"head:", b":tail")], ["last %d/%d" % (big_length, big_length)], 60),
            ("a missing file", ["--method", "POST", "--file", self.big + ".gone", http_url + "/"],
             1, [], [self.big + ".gone: "], 10),
            ("500", [http_url + "/fail"], 0, ["status 500", "broken"], [], 10),
            ("no answer", ["--timeout", "1", http_url + "/hang"], 1, [],
             [http_url + "/hang: no answer within 1 s"], 8),
            ("refused", [refused], 1, [], [refused + ": cannot connect"], 10),
            ("not a URL", ["ftp://127.0.0.1/"], 1, [], ["not an http, https, ws or wss URL"], 10),
            ("WebSocket", ["--websocket", "ws://127.0.0.1:%d/chat" % self.ws_port, "one", "日本 🎵"],
             0, ["message: echo: one\n", "message: echo: 日本 🎵\n"], [], 10),
            ("WebSocket, a receive that times out", ["--websocket", "ws://127.0.0.1:%d/" % self.ws_port,
                                                    "quiet", "after"],
             0, ["message: (none within 3 s)\nmessage: echo: after\n"], [], 15),
            ("WebSocket closed by the server", ["--websocket", "ws://127.0.0.1:%d/" % self.ws_port,
                                                "close"], 1, [], ["closed by the server"], 10),
            ("WebSocket refused", ["--websocket", "ws://127.0.0.1:%d/" % free_port(), "x"],
             1, [], ["cannot connect"], 10),
        ]
        if self.servers:
            ca = {"SSL_CERT_FILE": os.path.join(self.folder, "ca.pem")}
            https = "https://localhost:%d" % self.servers[0].server_address[1]
            other = "https://localhost:%d/" % self.servers[1].server_address[1]
            cases += [
                ("https", [https + "/hello"], 0, ["status 200", HELLO], [], 10, ca),
                ("https, a certificate for another name", [other], 1, [],
                 [other + ": certificate refused: hostname mismatch"], 10, ca),
                ("https, an authority not trusted", [https + "/"], 1, [],
                 ["certificate refused: unable to get local issuer certificate"], 10,
                 {"SSL_CERT_FILE": os.path.join(self.folder, "other.pem")}),
                ("wss", ["--websocket", "wss://localhost:%d/" % self.wss_port, "safe"], 0,
                 ["message: echo: safe\n"], [], 10, ca),
            ]
        for name, args, status, out_texts, err_texts, seconds, *env in cases:
            with self.subTest(name):
                code, out, err, took, _ = run(args, env[0] if env else None)
                self.assertEqual(code, status, err)
                for text in out_texts:
                    self.assertIn(text, out)
                for text in err_texts:
                    self.assertIn(text, err)
                # The bound shows that a time-out ends the request; under Wine, whose
                # process start alone takes seconds on a busy machine, it is wider.
                self.assertLess(took, seconds if NATIVE else 3 * seconds)
                self.assertNotIn("q=1", err)

    def test_secret_from_stdin(self):
        """A pipe gives the line as it is; a terminal does not show what is typed."""
        digest = "secret md5: " + hashlib.md5("tökén".encode()).hexdigest()
        piped = subprocess.run(LAUNCHER + [WEB_FETCH, "--read-secret"], input="tökén\r\n".encode(),
                               capture_output=True, timeout=60)
        self.assertIn(digest, piped.stdout.decode())
        empty = subprocess.run(LAUNCHER + [WEB_FETCH, "--read-secret"], input=b"",
                               capture_output=True, timeout=60)
        self.assertEqual(empty.returncode, 1)
        self.assertIn("stdin: no line to read", empty.stderr.decode())
        if not NATIVE:
            return
        import pty
        import termios
        pid, terminal = pty.fork()
        if pid == 0:
            os.execv(WEB_FETCH, [WEB_FETCH, "--read-secret"])
        # Typed once the program has switched echo off, as a person would.
        deadline = time.monotonic() + 10
        while termios.tcgetattr(terminal)[3] & termios.ECHO and time.monotonic() < deadline:
            time.sleep(0.01)
        os.write(terminal, "tökén\n".encode())
        shown = b""
        while True:
            try:
                chunk = os.read(terminal, 1024)
            except OSError:
                break
            if not chunk:
                break
            shown += chunk
        os.waitpid(pid, 0)
        self.assertIn(digest, shown.decode())
        self.assertNotIn("tökén", shown.decode())

    @unittest.skipUnless(NATIVE, "the peak memory of a program under Wine is Wine's")
    def test_streamed_file_stays_out_of_memory(self):
        url = "http://127.0.0.1:%d/echo" % self.http.server_address[1]
        code, out, err, _, peak = run(["--method", "POST", "--file", self.big, url])
        self.assertEqual(code, 0, err)
        self.assertIn('"length": %d' % os.path.getsize(self.big), out)
        self.assertGreater(peak, 0)
        if not os.environ.get("ZV_SANITIZED"):  # a sanitizer's shadow memory is not ours
            self.assertLess(peak, 16 * 1024 * 1024)


if __name__ == "__main__":
    unittest.main(verbosity=2)
