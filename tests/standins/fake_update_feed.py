#!/usr/bin/env python3
"""Stand-in for the update service: the update feed and the installer files.

Listens on 127.0.0.1 on an ephemeral port and prints the port number alone on
the first line of stdout. Stops on SIGTERM/SIGINT or when stdin is closed.
"--feed BODY" starts with BODY as the feed (else an empty body).

Service resources (logged):
  GET /api/v1/updates/veltrano/release?...   the feed as configured by /__feed
  GET /installers/<name>                     installer bytes as configured by
                                             /__installer (byte i is i % 251)
Anything else answers 404.

Control resources (not logged), JSON in and out:
  GET  /__log        [{method, target, version, headers: [[name, value]...]}]
  POST /__feed       {"status": 200, "body": "text", "hang": false}
  POST /__installer  {"size": n, "length": true, "delay": s, "hold": k}:
                     with "length" false no Content-Length is sent (the end
                     is the close); "delay" seconds pass before each part of
                     the body; with "hold" the first k bytes go out, then
                     the answer waits for /__release
  POST /__release    let every held or hung answer go on
"""

import json
import signal
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

FEED_PATH = "/api/v1/updates/veltrano/release"


class Service:
    def __init__(self):
        self.lock = threading.Lock()
        self.log = []
        self.feed = {"status": 200, "body": "", "hang": False}
        self.installer = {"size": 4096, "length": True, "delay": 0, "hold": 0}
        self.release = threading.Event()
        self.stopping = threading.Event()

    def wait_release(self):
        with self.lock:
            event = self.release
        while not event.is_set() and not self.stopping.is_set():
            event.wait(0.1)

    def release_all(self):
        with self.lock:
            self.release.set()
            self.release = threading.Event()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *_):
        pass

    def reply(self, status, body, content_type="application/json", length=True):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        if length:
            self.send_header("Content-Length", str(len(body)))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        self.wfile.write(body)

    def control(self, method):
        service = self.server.service
        length = int(self.headers.get("Content-Length") or 0)
        data = json.loads(self.rfile.read(length) or b"{}")
        self.close_connection = True
        if method == "GET" and self.path == "/__log":
            with service.lock:
                answer = list(service.log)
        elif method == "POST" and self.path == "/__feed":
            with service.lock:
                service.feed.update(data)
            answer = {}
        elif method == "POST" and self.path == "/__installer":
            with service.lock:
                service.installer.update(data)
            answer = {}
        elif method == "POST" and self.path == "/__release":
            service.release_all()
            answer = {}
        else:
            return self.reply(404, b"{}")
        self.reply(200, json.dumps(answer).encode())

    def do_POST(self):
        self.control("POST")

    def do_GET(self):
        if self.path.startswith("/__"):
            return self.control("GET")
        service = self.server.service
        with service.lock:
            service.log.append({
                "method": self.command,
                "target": self.path,
                "version": self.request_version,
                "headers": [[k, v] for k, v in self.headers.items()],
            })
            feed = dict(service.feed)
            installer = dict(service.installer)
        if self.path.split("?")[0] == FEED_PATH:
            if feed["hang"]:
                service.wait_release()
                self.close_connection = True
                return
            return self.reply(feed["status"], feed["body"].encode())
        if self.path.startswith("/installers/"):
            return self.send_installer(installer)
        self.reply(404, b"not found", "text/plain")

    def send_installer(self, installer):
        size, hold = installer["size"], installer.get("hold", 0)
        body = bytes(i % 251 for i in range(size))
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if installer.get("length", True):
            self.send_header("Content-Length", str(size))
        else:
            self.send_header("Connection", "close")
        self.close_connection = True
        self.end_headers()
        try:
            self.wfile.flush()
            time.sleep(installer.get("delay", 0))
            if hold:
                self.wfile.write(body[:hold])
                self.wfile.flush()
                self.server.service.wait_release()
                time.sleep(installer.get("delay", 0))
                body = body[hold:]
            self.wfile.write(body)
        except OSError:
            pass  # the client went away (a stopped download)


class Server(ThreadingHTTPServer):
    daemon_threads = True


def main():
    server = Server(("127.0.0.1", 0), Handler)
    server.service = Service()
    if len(sys.argv) > 2 and sys.argv[1] == "--feed":
        server.service.feed["body"] = sys.argv[2]

    def stop(*_):
        server.service.stopping.set()
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    def watch_stdin():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        except (OSError, ValueError):
            pass
        stop()

    threading.Thread(target=watch_stdin, daemon=True).start()
    print(server.server_address[1], flush=True)
    server.serve_forever(poll_interval=0.1)
    server.server_close()


if __name__ == "__main__":
    main()
