"""Serves the files of a folder as a distant feed server would: every answer,
a 304 to a conditional request included, comes after a fixed wait.

    python3 bench/slow_server.py FOLDER WAIT_MS PORT_FILE

Listens on every loopback address (127.0.0.1, 127.0.0.2, ...), so that the
feeds can name several servers; writes its port to PORT_FILE once it
listens, and runs until it is killed."""

import email.utils
import hashlib
import http.server
import os
import sys
import time

folder, wait, port_file = sys.argv[1], int(sys.argv[2]) / 1000, sys.argv[3]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        time.sleep(wait)
        path = os.path.join(folder, os.path.basename(self.path))
        if not os.path.isfile(path):
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        with open(path, "rb") as f:
            body = f.read()
        etag = '"%s"' % hashlib.sha1(body).hexdigest()
        modified = email.utils.formatdate(os.path.getmtime(path), usegmt=True)
        if self.headers.get("If-None-Match") == etag or (
                self.headers.get("If-None-Match") is None
                and self.headers.get("If-Modified-Since") == modified):
            self.send_response(304)
            self.send_header("ETag", etag)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/xml")
        self.send_header("ETag", etag)
        self.send_header("Last-Modified", modified)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


class Server(http.server.ThreadingHTTPServer):
    # socketserver's backlog of 5 drops the connections of a client that
    # opens ten at once, which then wait a second for their SYN's
    # retransmission: no server on the internet is that narrow.
    request_queue_size = 128


server = Server(("", 0), Handler)
server.daemon_threads = True
with open(port_file + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(port_file + ".tmp", port_file)
server.serve_forever()
