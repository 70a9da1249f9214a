#!/usr/bin/env python3
"""What the converter costs a feed server: serves the demo feeds over a
loopback HTTP server that answers conditional requests as common servers do
(ETag and Last-Modified from the file, 304 when they match), runs the
converter over every feed twice, as two agent starts would, and prints the
requests and the bytes the server sent on each run.

    python3 companions/feedpull/measure_demo_traffic.py [FeedPull.exe] [feed folder]

(defaults: build/companions/feedpull/FeedPull.exe and demo/feeds).
"""

import email.utils
import http.server
import os
import shutil
import subprocess
import sys
import tempfile
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


class Counter:
    def __init__(self):
        self.requests = 0
        self.bytes = 0
        self.statuses = []


COUNT = Counter()
LOCK = threading.Lock()


class CountingWriter:
    def __init__(self, raw):
        self.raw = raw

    def write(self, data):
        with LOCK:
            COUNT.bytes += len(data)
        return self.raw.write(data)

    def flush(self):
        return self.raw.flush()

    def __getattr__(self, name):
        return getattr(self.raw, name)


def handler_for(folder):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def setup(self):
            super().setup()
            self.wfile = CountingWriter(self.wfile)

        def log_message(self, *args):
            pass

        def do_GET(self):
            with LOCK:
                COUNT.requests += 1
            path = os.path.join(folder, os.path.basename(self.path))
            if not os.path.isfile(path):
                self.answer(404, b"", [])
                return
            stat = os.stat(path)
            etag = '"%x-%x"' % (stat.st_mtime_ns, stat.st_size)
            modified = email.utils.formatdate(int(stat.st_mtime), usegmt=True)
            validators = [("ETag", etag), ("Last-Modified", modified)]
            match = self.headers.get("If-None-Match")
            since = self.headers.get("If-Modified-Since")
            if match == etag or (match is None and since == modified):
                self.answer(304, None, validators)
                return
            with open(path, "rb") as f:
                body = f.read()
            self.answer(200, body, validators + [("Content-Type", "application/rss+xml")])

        def answer(self, status, body, headers):
            COUNT.statuses.append(status)
            self.send_response(status)
            for name, value in headers:
                self.send_header(name, value)
            if body is not None:
                self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if body:
                self.wfile.write(body)

    return Handler


def main():
    converter = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                                os.path.join(ROOT, "build", "companions", "feedpull",
                                             "FeedPull.exe"))
    folder = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else
                             os.path.join(ROOT, "demo", "feeds"))
    feeds = sorted(name for name in os.listdir(folder) if name.endswith(".xml"))
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler_for(folder))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = "http://127.0.0.1:%d/" % server.server_address[1]
    scratch = tempfile.mkdtemp(prefix="feedpull-traffic-")
    try:
        install = os.path.join(scratch, "install")
        os.makedirs(os.path.join(install, "qLUX", "Dovel", "RSSLinks"))
        registry = os.path.join(scratch, "registry.reg")
        with open(registry, "w") as out:
            out.write("Windows Registry Editor Version 5.00\r\n\r\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KESTRA]\r\n"
                      '"InstallationPath"="%s"\r\n' % install)
        env = dict(os.environ, RSSNOTIFY_REGISTRY=registry, no_proxy="127.0.0.1",
                   NO_PROXY="127.0.0.1")
        env.pop("ALLUSERSPROFILE", None)
        print("converter %s, %d feeds in %s" % (converter, len(feeds), folder))
        for run in (1, 2):
            COUNT.requests, COUNT.bytes, COUNT.statuses = 0, 0, []
            for name in feeds:
                result = subprocess.run([converter, base + name], env=env, capture_output=True,
                                        timeout=60)
                if result.returncode != 0:
                    sys.exit("run %d, %s failed: %s" % (run, name, result.stderr.decode()))
            print("run %d: %d requests, %d bytes sent by the server (statuses %s)" %
                  (run, COUNT.requests, COUNT.bytes, " ".join(map(str, COUNT.statuses))))
    finally:
        server.shutdown()
        shutil.rmtree(scratch, True)


if __name__ == "__main__":
    main()
