#!/usr/bin/python3
"""A small HTTP proxy for the lab server's loopback.

Every answer it gives itself, and every answer it relays, carries "X-Lab-Proxy: NAME", so a
test can tell which of the lab's proxies a tunnel reached. It forwards absolute-URI requests
and CONNECT within the server namespace; a request for a plain path is answered by the proxy
itself ("lab proxy NAME on port PORT").
"""
import argparse
import http.client
import http.server
import select
import socket
import urllib.parse

MAX_BODY = 1 << 20
TIMEOUT = 10


def make_handler(name, port):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.0"
        timeout = TIMEOUT

        def log_message(self, fmt, *args):
            pass

        def _answer(self, code, body, headers=()):
            self.send_response(code)
            self.send_header("X-Lab-Proxy", name)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(body)))
            for key, value in headers:
                self.send_header(key, value)
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.write(body)

        def _forward(self):
            target = urllib.parse.urlsplit(self.path)
            if target.scheme != "http" or not target.hostname:
                self._answer(400, b"only http:// URLs are forwarded\n")
                return
            length = int(self.headers.get("Content-Length") or 0)
            if length < 0 or length > MAX_BODY:
                self._answer(413, b"request body too large\n")
                return
            body = self.rfile.read(length) if length else None
            path = target.path or "/"
            if target.query:
                path += "?" + target.query
            headers = {k: v for k, v in self.headers.items()
                       if k.lower() not in ("proxy-connection", "connection", "keep-alive")}
            try:
                upstream = http.client.HTTPConnection(target.hostname, target.port or 80,
                                                      timeout=TIMEOUT)
                upstream.request(self.command, path, body=body, headers=headers)
                reply = upstream.getresponse()
                data = reply.read(MAX_BODY + 1)[:MAX_BODY]
                upstream.close()
            except OSError as error:
                self._answer(502, ("upstream failed: %s\n" % error).encode())
                return
            self.send_response(reply.status, reply.reason)
            for key, value in reply.getheaders():
                if key.lower() not in ("connection", "content-length", "transfer-encoding"):
                    self.send_header(key, value)
            self.send_header("X-Lab-Proxy", name)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

        def do_GET(self):
            if self.path.startswith("/"):
                text = "lab proxy %s on port %d\n" % (name, port)
                self._answer(200, text.encode())
            else:
                self._forward()

        do_HEAD = do_GET
        do_POST = _forward

        def do_CONNECT(self):
            host, _, port_text = self.path.rpartition(":")
            try:
                upstream = socket.create_connection((host, int(port_text)), timeout=TIMEOUT)
            except (OSError, ValueError) as error:
                self._answer(502, ("connect failed: %s\n" % error).encode())
                return
            self.send_response(200, "Connection established")
            self.send_header("X-Lab-Proxy", name)
            self.end_headers()
            self.wfile.flush()
            sockets = [self.connection, upstream]
            try:
                while True:
                    ready, _, _ = select.select(sockets, [], [], TIMEOUT * 6)
                    if not ready:
                        break
                    for sock in ready:
                        data = sock.recv(65536)
                        if not data:
                            return
                        (upstream if sock is self.connection else self.connection).sendall(data)
            except OSError:
                pass
            finally:
                upstream.close()

    return Handler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--name", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--address", default="127.0.0.1")
    args = parser.parse_args()
    server = http.server.ThreadingHTTPServer((args.address, args.port),
                                             make_handler(args.name, args.port))
    server.daemon_threads = True
    server.serve_forever()


if __name__ == "__main__":
    main()
