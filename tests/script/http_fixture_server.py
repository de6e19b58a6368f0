#!/usr/bin/env python3
"""Web servers for the HTTP tests, on 127.0.0.1 only.

Starts an ordinary http.server and a scripted hostile socket server, prints
"PORTS <http port> <hostile port>" and serves until its standard input closes.

http.server paths:
  GET  /hello          200 text/plain "hello world"
  GET  /html           200 text/html "<p>hi</p>"
  GET  /octet          200 application/octet-stream "abc"
  GET  /missing        404 text/plain "not here"
  GET  /sized/N        200 text/plain, N bytes "x"
  POST /echo           200 text/plain, the posted body
  HEAD /hello          200 with the length of /hello and no body
  GET  /slow/MS        200 text/plain "late" after MS milliseconds

Hostile server paths (raw bytes on the socket):
  /silent              reads the request, never answers, holds the connection
  /drip                a header promising 1000 bytes, then one byte every 300 ms
  /endless-headers     a status line, then header lines without end
  /huge-length         Content-Length: 2000000, then a few bytes
  /over-cap            no Content-Length, 1048577 body bytes, then close
  /bad-status          a first line that is not HTTP
  /empty               closes at once
  /reset               half of a promised body, then a connection reset
  /length-then-open    Content-Length: 10, ten bytes, connection left open
  /no-length           a body without Content-Length, ended by closing
  /echo-request        answers with the exact bytes of the request it received

A query after the path ("?a=1") does not change the route.
"""

import http.server
import socket
import socketserver
import struct
import sys
import threading
import time


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def reply(self, status, ctype, body, send_body=True):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if send_body:
            self.wfile.write(body)

    def route(self, send_body):
        path = self.path
        if path == "/hello":
            self.reply(200, "text/plain", b"hello world", send_body)
        elif path == "/html":
            self.reply(200, "text/html; charset=utf-8", b"<p>hi</p>", send_body)
        elif path == "/octet":
            self.reply(200, "application/octet-stream", b"abc", send_body)
        elif path.startswith("/sized/"):
            self.reply(200, "text/plain", b"x" * int(path[7:]), send_body)
        elif path.startswith("/slow/"):
            time.sleep(int(path[6:]) / 1000.0)
            self.reply(200, "text/plain", b"late", send_body)
        else:
            self.reply(404, "text/plain", b"not here", send_body)

    def do_GET(self):
        self.route(True)

    def do_HEAD(self):
        self.route(False)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        if self.path == "/echo":
            self.reply(200, "text/plain", body)
        else:
            self.reply(404, "text/plain", b"not here")


class QuietHTTPServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 512


def read_request(conn):
    data = b""
    conn.settimeout(10)
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(4096)
        if not chunk:
            return data
        data += chunk
    head, _, rest = data.partition(b"\r\n\r\n")
    for line in head.split(b"\r\n"):
        if line.lower().startswith(b"content-length:"):
            want = int(line.split(b":", 1)[1])
            while len(rest) < want:
                chunk = conn.recv(4096)
                if not chunk:
                    break
                rest += chunk
    return head + b"\r\n\r\n" + rest


def hold(conn):
    try:
        conn.settimeout(None)
        while conn.recv(4096):
            pass
    except OSError:
        pass


def hostile(conn):
    try:
        request = read_request(conn)
        parts = request.split(b" ")
        path = parts[1].decode().split("?")[0] if len(parts) > 1 else ""
        if path == "/silent":
            hold(conn)
        elif path == "/drip":
            conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n")
            while True:
                conn.sendall(b"x")
                time.sleep(0.3)
        elif path == "/endless-headers":
            conn.sendall(b"HTTP/1.0 200 OK\r\n")
            line = b"X-Filler: " + b"a" * 1000 + b"\r\n"
            while True:
                conn.sendall(line * 16)
        elif path == "/huge-length":
            conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 2000000\r\n\r\nabc")
            hold(conn)
        elif path == "/over-cap":
            conn.sendall(b"HTTP/1.0 200 OK\r\n\r\n" + b"y" * 1048577)
        elif path == "/bad-status":
            conn.sendall(b"FOO/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbody")
        elif path == "/empty":
            pass
        elif path == "/reset":
            conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n" + b"z" * 50)
            time.sleep(0.1)
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        elif path == "/length-then-open":
            conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n0123456789")
            hold(conn)
        elif path == "/no-length":
            conn.sendall(b"HTTP/1.0 200 OK\r\n\r\nabc")
        elif path == "/echo-request":
            conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + request)
    except OSError:
        pass
    finally:
        conn.close()


def serve_hostile(listener):
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=hostile, args=(conn,), daemon=True).start()


def main():
    web = QuietHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=web.serve_forever, daemon=True).start()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(512)
    threading.Thread(target=serve_hostile, args=(listener,), daemon=True).start()
    print("PORTS %d %d" % (web.server_address[1], listener.getsockname()[1]), flush=True)
    sys.stdin.read()


if __name__ == "__main__":
    main()
