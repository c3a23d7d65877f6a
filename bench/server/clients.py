#!/usr/bin/env python3
"""Hostile clients and a stalled upstream for bench/server/run.sh, each until killed.

  clients.py slow PORT N     N clients sending a request head one byte every 3 s
  clients.py idle PORT N     N keep-alive clients, each answered once, then quiet
  clients.py stall PORT      an upstream on PORT that answers each request after 10 s
"""
import socket
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def connect(port):
    return socket.create_connection(("127.0.0.1", port))


def slow(port, count):
    head = b"GET /check/ HTTP/1.1\r\nHost: x\r\nX-Slow: " + b"s" * 4096
    socks = []
    for _ in range(count):
        try:
            socks.append(connect(port))
        except OSError:
            break
    print(f"slow clients: {len(socks)} connected", flush=True)
    offset = 0
    while True:
        for s in list(socks):
            try:
                s.send(head[offset % len(head):offset % len(head) + 1])
            except OSError:
                socks.remove(s)  # cut by the server: come back, as an attacker would
                try:
                    socks.append(connect(port))
                except OSError:
                    pass
        offset += 1
        time.sleep(3)


def idle(port, count):
    socks = []
    for _ in range(count):
        s = connect(port)
        s.sendall(b"GET /check/ HTTP/1.1\r\nHost: x\r\n\r\n")
        socks.append(s)
    answered = sum(1 for s in socks if s.recv(4096).startswith(b"HTTP/1.1 200"))
    print(f"idle clients: {answered} of {count} answered", flush=True)
    while True:
        time.sleep(60)


class Stalled(BaseHTTPRequestHandler):
    def do_GET(self):
        time.sleep(10)
        body = (b'{"current_units":{"temperature_2m":"\xc2\xb0C","weather_code":"wmo code"},'
                b'"current":{"time":"2024-05-01T12:00","interval":900,"temperature_2m":17.2,"weather_code":61}}')
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def stall(port):
    ThreadingHTTPServer.daemon_threads = True
    ThreadingHTTPServer(("127.0.0.1", port), Stalled).serve_forever()


if __name__ == "__main__":
    mode, port = sys.argv[1], int(sys.argv[2])
    if mode == "slow":
        slow(port, int(sys.argv[3]))
    elif mode == "idle":
        idle(port, int(sys.argv[3]))
    elif mode == "stall":
        stall(port)
    else:
        sys.exit(__doc__)
