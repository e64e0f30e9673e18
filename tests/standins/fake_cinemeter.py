#!/usr/bin/env python3
"""Stand-in for the network light meter: a loopback HTTP server.

Prints its port on the first stdout line, then "GET <path>" per request.
Every reply is text/plain; charset=utf-8 and starts with a fresh timestamp
line, then the configured body lines.

Control lines on stdin (JSON objects; each is answered by "ok"):
  {"body": "brightness_SI 12.5 cd/m2\\nCCT 5600", "status": 200,
   "delay": 0.0, "timestamp": true}
Keys left out keep their values.

Standalone use (the demonstration): --follow-processor PORT makes the meter
look at the wall of the stand-in processor on that port. Each reading then
comes from the processor's state, through a linear plant of the effective
channel gains (display gains times output gains): luminance 30r + 60g + 10b
scaled by lumaMax x brightness / 10000, CCT 6500 - 3000r + 500g + 2500b,
Duv -0.01r + 0.02g - 0.01b. Equal gains keep 6500 K and Duv 0 at any level.
"""
import argparse
import datetime
import http.server
import json
import urllib.request
import socketserver
import sys
import threading

state = {"body": "brightness_SI 100 cd/m2\nCCT 6500\n\u2206uv 0.0010\ncie1931_x 0.3127\ncie1931_y 0.3290",
         "status": 200, "delay": 0.0, "timestamp": True}
lock = threading.Lock()
stop = threading.Event()
follow = {"port": 0}


def gain(node, channel):
    try:
        value = float(node.get(channel, 1.0))
    except (AttributeError, TypeError, ValueError):
        return 1.0
    return value if value == value else 0.0


def plant_body(port):
    """A reading of the stand-in processor's wall, as the meter's body lines."""
    with urllib.request.urlopen("http://127.0.0.1:%d/__state" % port, timeout=5) as reply:
        state = json.load(reply)
    display = state.get("dev", {}).get("display", {})
    shown = display.get("gains", {})
    out = display.get("out", {}).get("adjust", {}).get("gain", {})
    r, g, b = (max(0.0, gain(shown, c) * gain(out, c)) for c in "rgb")
    scale = float(display.get("lumaMax", 1000.0)) * float(display.get("brightness", 10.0)) / 10000.0
    luminance = (30 * r + 60 * g + 10 * b) * scale
    cct = 6500 - 3000 * r + 500 * g + 2500 * b
    duv = -0.01 * r + 0.02 * g - 0.01 * b
    return "brightness_SI %.6f cd/m2\nCCT %.3f\n\u2206uv %.6f" % (luminance, cct, duv)


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
        body = s["body"]
        if follow["port"] and s["status"] == 200:
            try:
                body = plant_body(follow["port"])
            except (OSError, ValueError) as error:
                print("processor state unreadable: %s" % error, flush=True)
        text += body
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
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--follow-processor", type=int, default=0, metavar="PORT")
    follow["port"] = parser.parse_args().follow_processor
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
