"""The mocks of the online tests behind TLS, as the real services answer: a certificate
authority made for the run, trusted beside the system's own through SSL_CERT_FILE (the
system's bundle and it, so that the client reads as many authorities as it does for real).
"""

import os
import shutil
import ssl
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "online"))
import test_web_client  # noqa: E402

SYSTEM_BUNDLE = "/etc/ssl/certs/ca-certificates.crt"


def serve_tls(folder, servers):
    """Puts the servers behind TLS for localhost, trusted through SSL_CERT_FILE."""
    test_web_client.make_certificates(folder)
    bundle = os.path.join(folder, "bundle.pem")
    with open(bundle, "wb") as out:
        for name in (SYSTEM_BUNDLE, os.path.join(folder, "ca.pem")):
            if os.path.exists(name):
                with open(name, "rb") as f:
                    shutil.copyfileobj(f, out)
    os.environ["SSL_CERT_FILE"] = bundle
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(folder, "localhost.pem"),
                            os.path.join(folder, "localhost.key"))
    for server in servers:  # the serving loop takes each connection from server.socket
        server.socket = context.wrap_socket(server.socket, server_side=True)
    return lambda url: url.replace("http://127.0.0.1:", "https://localhost:")
