#!/usr/bin/env python3
"""Serves a folder on 127.0.0.1 for the download tests, on a free port that it
prints as its first line. /redirect/N answers with a redirect to N-1, and
/redirect/0 to /file.bin; /chunked/N sends N bytes without a length."""
import http.server
import os
import sys


class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.path.startswith("/redirect/"):
            n = int(self.path.rsplit("/", 1)[1])
            self.send_response(302)
            self.send_header("Location", "/file.bin" if n == 0 else "/redirect/%d" % (n - 1))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if self.path.startswith("/chunked/"):
            n = int(self.path.rsplit("/", 1)[1])
            self.protocol_version = "HTTP/1.0"
            self.send_response(200)
            self.end_headers()
            self.wfile.write(b"c" * n)
            return
        super().do_GET()


def main():
    os.chdir(sys.argv[1])
    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
