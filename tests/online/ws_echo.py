"""A WebSocket echo server on 127.0.0.1 for the web client's tests, with Debian's
python3-websockets (run by /usr/bin/python3). Each text message comes back as
"echo: <text>"; the message "close" makes the server close the connection, and "quiet"
gets no answer.

    ws_echo.py PORT [CERT KEY]   serves ws:// (wss:// with the certificate); prints
                                 "ready" once it listens
"""

import asyncio
import ssl
import sys

import websockets


async def echo(socket, path=None):
    async for message in socket:
        if message == "close":
            await socket.close(code=1000, reason="asked to")
            return
        if message != "quiet":
            await socket.send("echo: " + message)


async def main():
    port = int(sys.argv[1])
    context = None
    if len(sys.argv) == 4:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[2], sys.argv[3])
    async with websockets.serve(echo, "127.0.0.1", port, ssl=context):
        print("ready", flush=True)
        await asyncio.Future()


asyncio.run(main())
