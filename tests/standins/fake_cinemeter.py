#!/usr/bin/env python3
"""Stand-in for the network light meter: a loopback HTTP server.

Prints its port on the first stdout line, then "GET <path>" per request.
Every reply is text/plain; charset=utf-8 and starts with a fresh timestamp
line, then the configured body lines.

Control lines on stdin (JSON objects; each is answered by "ok"):
  {"body": "brightness_SI 12.5 cd/m2\\nCCT 5600", "status": 200,
   "delay": 0.0, "timestamp": true}
Keys left out keep their values.
"""
import datetime
import http.server
import json
import socketserver
import sys
import threading

state = {"body": "brightness_SI 100 cd/m2\nCCT 6500\n\u2206uv 0.0010\ncie1931_x 0.3127\ncie1931_y 0.3290",
         "status": 200, "delay": 0.0, "timestamp": True}
lock = threading.Lock()
stop = threading.Event()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        with lock:
            s = dict(state)
        print("GET " + self.path, flush=True)
        if s["delay"] > 0:
            stop.wait(s["delay"])
        text = ""
        if s["timestamp"]:
            text = datetime.datetime.now().astimezone().isoformat(timespec="microseconds") + "\n"
        text += s["body"]
        if not s["timestamp"] and not s["body"]:
            text = ""
        data = text.encode("utf-8")
        try:
            self.send_response(s["status"])
            self.send_header("Content-Type", "text/plain; charset=utf-8")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)
        except OSError:
            pass

    def log_message(self, *args):
        pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def main():
    server = Server(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    for line in sys.stdin:
        line = line.strip()
        if line == "quit":
            break
        if line:
            with lock:
                state.update(json.loads(line))
            print("ok", flush=True)
    stop.set()
    server.shutdown()


if __name__ == "__main__":
    main()
