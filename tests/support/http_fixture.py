#!/usr/bin/env python3
"""A loopback web server for the download tests. Prints its port, then serves until killed.

/pic.png      a small body with Content-Length
/chunked      a small body in chunks, without Content-Length
/missing      404 with a body
/redirect     302 to /pic.png
/to-file      302 to a file: address
/big          a Content-Length over any test limit
/big-chunked  chunks without end, no Content-Length
/stall        headers and a few bytes, then silence
"""
import http.server
import socketserver
import sys
import time

BODY = b"\x89PNG-fixture-" + bytes(range(256)) * 4


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send_body(self, code, body, headers=()):
        self.send_response(code)
        for k, v in headers:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def chunk(self, data):
        self.wfile.write(b"%x\r\n%s\r\n" % (len(data), data))

    def do_GET(self):
        path = self.path.split("?")[0]
        try:
            if path == "/pic.png":
                self.send_body(200, BODY, [("Content-Type", "image/png")])
            elif path == "/chunked":
                self.send_response(200)
                self.send_header("Transfer-Encoding", "chunked")
                self.end_headers()
                for i in range(0, len(BODY), 100):
                    self.chunk(BODY[i:i + 100])
                self.wfile.write(b"0\r\n\r\n")
            elif path == "/missing":
                self.send_body(404, b"<html>not here</html>")
            elif path == "/redirect":
                self.send_body(302, b"", [("Location", "/pic.png")])
            elif path == "/to-file":
                self.send_body(302, b"", [("Location", "file:///etc/hostname")])
            elif path == "/big":
                self.send_response(200)
                self.send_header("Content-Length", str(512 * 1024 * 1024))
                self.end_headers()
                for _ in range(64):
                    self.wfile.write(b"x" * 65536)
            elif path == "/big-chunked":
                self.send_response(200)
                self.send_header("Transfer-Encoding", "chunked")
                self.end_headers()
                for _ in range(4096):
                    self.chunk(b"y" * 65536)
                self.wfile.write(b"0\r\n\r\n")
            elif path == "/stall":
                self.send_response(200)
                self.send_header("Content-Length", "100000")
                self.end_headers()
                self.wfile.write(b"z" * 10)
                self.wfile.flush()
                time.sleep(30)
            else:
                self.send_body(404, b"")
        except (BrokenPipeError, ConnectionResetError):
            pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


if __name__ == "__main__":
    server = Server(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()
