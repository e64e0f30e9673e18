#!/usr/bin/env python3
"""Stand-in for the LED processor's REST interface, for the program's tests.

Listens on 127.0.0.1 on an ephemeral port (or --port) and prints the port
number alone on the first line of stdout. Stops on SIGTERM/SIGINT, or when its
standard input is closed (the test process is gone).

Processor resources (Digest-protected while authentication is on):
  GET   /api/v1/data?a.b&c.d         the named members of the state tree
  PATCH /api/v1/data                 JSON body deep-merged into the state
  POST  /api/v1/media/generate       a JSON object with a "draw" array is kept
                                     (see /__generated); 204, else 400
  POST  /api/v1/tile/T/K/cal?raw&continuation=true|false
                                     body kept (uploads); continuation=false
                                     arms the tile's busy/idle handshake
  GET   /api/v1/tile/T/calBusy       scripted replies per tile, else "busy"
                                     once after a finished upload, then "idle"
  POST  /api/v1/tile/T/calSave?type=user   kept in the log; 204
Anything else answers 404.

Standalone use (the demonstration): --request-log FILE appends one line per
processor request, "<method> <target> <status> <body>", for a person to follow.

Control resources (never authenticated, never logged), JSON in and out:
  GET  /__log            every processor request so far, in arrival order
  POST /__log/clear      forget them
  GET  /__state          the state tree;  PUT /__state replaces it
  GET  /__uploads        {tile: {ldm: base64 body}} of the cal POSTs
  GET  /__generated      the generate documents accepted so far, in order
  POST /__auth           change the Digest settings (keys as in AUTH_DEFAULTS,
                         plus "rotate": true for a fresh nonce that makes the
                         current one stale)
  POST /__script         {"rules": [rule, ...]} appended to the scripted answers
  POST /__script/clear   drop all rules
  POST /__calbusy        {"tile": [reply, ...]} queued calBusy replies; a reply
                         is a text body (status 200) or {"status", "body"}
  POST /__calbusy/clear  drop the queued calBusy replies and the pending
                         busy/idle handshakes
  POST /__release        let every hung request go (its connection is closed)

A rule answers the first requests that match it, before the normal handling:
  match:   "method" (exact), "path" (prefix of the target, query included),
           "authorized": true/false (whether the request passed Digest)
  "times": how many requests it answers (default 1, -1 for all)
  "delay": seconds to wait first; with no "action" and no "status" the
           request then goes on as usual
  "interim": [status, ...] interim (1xx) replies sent first, each a status
           line and a blank line (103 with a Link header); the request then
           goes on as with "delay"
  "action": "reply" (default when "status" is given): "status", "body",
           "contentType", "headers" [[name, value], ...], "challenge": true
           adds a fresh WWW-Authenticate challenge;
           "hang": never answer (until /__release or stop);
           "close": close the connection without an answer;
           "partial": send half a status line and close;
           "raw": send the bytes of "raw" (text) or "raw64" (base64) as the
           whole answer and close.

Each log record: seq, connection, method, target, path, query, version,
headers [[name, value]...] in arrival order, body (text), body64, raw64 (the
bytes of the request exactly as received), auth (the Authorization parameters
or null), authState ("off", "missing", "ok", "stale", "bad"), outcome (status
number, or "hang", "close", "partial", "raw"; null while unanswered), held
(true from the moment a "hang" rule holds the request).
"""

import argparse
import base64
import hashlib
import json
import os
import signal
import socket
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

AUTH_DEFAULTS = {
    "enabled": False,
    "user": "admin",
    "password": "secret",
    "realm": "Vantor",
    "qop": "auth",          # "auth" or "" (no qop)
    "opaque": None,         # sent and checked when a text
    "algorithm": "MD5",     # sent as algorithm=... when a text
    "nonce": None,          # fixed nonce; made up (holding "=") when None
    "challenge": None,      # exact WWW-Authenticate value to send instead
    "nonceLifetime": 0,     # seconds a nonce is valid; 0 = for ever
}

DEFAULT_STATE = {
    "dev": {
        "display": {
            "brightness": 10.0,
            "cct": 6500,
            "cctDuv": 0.0,
            "gamma": 2.4,
            "eotfType": "sdrPreserve",
            "lumaMax": 1000.0,
            "tileBpc": 10,
            "gains": {"r": 1.0, "g": 1.0, "b": 1.0},
            "out": {
                "adjust": {"gain": {"r": 1.0, "g": 1.0, "b": 1.0}},
                "curves": {"enabled": False},
            },
        },
        "ingest": {
            "testPattern": {"enabled": False, "mediaEnabled": False, "type": "white"},
            "outputFreq": 60.0,
        },
        "receivers": {},
    },
    "sys": {"fixtures": {}},
}


def deep_merge(target, patch):
    for key, value in patch.items():
        if isinstance(value, dict) and isinstance(target.get(key), dict):
            deep_merge(target[key], value)
        else:
            target[key] = json.loads(json.dumps(value))


def select_paths(state, paths):
    out = {}
    for path in paths:
        keys = [k for k in path.split(".")]
        node = state
        found = True
        for key in keys:
            if isinstance(node, dict) and key in node:
                node = node[key]
            else:
                found = False
                break
        if not found:
            continue
        place = out
        for key in keys[:-1]:
            place = place.setdefault(key, {})
        place[keys[-1]] = json.loads(json.dumps(node))
    return out


def parse_auth_params(text):
    """RFC 7235 auth-params: key=token or key="quoted string"."""
    params = {}
    i, n = 0, len(text)
    while i < n:
        while i < n and text[i] in ", \t":
            i += 1
        if i >= n:
            break
        eq = i
        while eq < n and text[eq] not in "=,":
            eq += 1
        if eq >= n or text[eq] == ",":
            i = eq
            continue
        key = text[i:eq].strip()
        i = eq + 1
        while i < n and text[i] in " \t":
            i += 1
        if i < n and text[i] == '"':
            i += 1
            value = []
            while i < n and text[i] != '"':
                if text[i] == "\\" and i + 1 < n:
                    i += 1
                value.append(text[i])
                i += 1
            i += 1
            while i < n and text[i] != ",":
                i += 1
            params[key] = "".join(value)
        else:
            end = text.find(",", i)
            end = n if end < 0 else end
            params[key] = text[i:end].strip()
            i = end
    return params


def md5(text):
    return hashlib.md5(text.encode("utf-8")).hexdigest()


def quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


class RecordingReader:
    """Wraps the connection's reader and keeps every byte read."""

    def __init__(self, inner):
        self.inner = inner
        self.data = bytearray()

    def readline(self, limit=-1):
        line = self.inner.readline(limit)
        self.data += line
        return line

    def read(self, size=-1):
        chunk = self.inner.read(size)
        self.data += chunk
        return chunk

    def close(self):
        self.inner.close()

    def __getattr__(self, name):
        return getattr(self.inner, name)


class Processor:
    def __init__(self, state):
        self.lock = threading.Lock()
        self.state = state
        self.log = []
        self.seq = 0
        self.connections = 0
        self.rules = []
        self.calbusy = {}
        self.pending_idle = {}
        self.uploads = {}
        self.generated = []
        self.auth = dict(AUTH_DEFAULTS)
        self.nonce = None
        self.nonce_time = 0.0
        self.stale_nonces = set()
        self.hung = []
        self.stopping = threading.Event()
        self.request_log = None
        self.new_nonce()

    # ---- Digest --------------------------------------------------------
    def new_nonce(self):
        if self.nonce:
            self.stale_nonces.add(self.nonce)
        fixed = self.auth.get("nonce")
        if fixed:
            self.nonce = fixed
        else:
            # Eight random bytes in base64 always end in "=", like real servers' nonces.
            self.nonce = base64.b64encode(os.urandom(8)).decode() + os.urandom(6).hex()
        self.nonce_time = time.monotonic()

    def challenge(self, stale=False):
        a = self.auth
        if a.get("challenge"):
            return a["challenge"]
        items = ["realm=" + quote(a["realm"]), "nonce=" + quote(self.nonce)]
        if a.get("algorithm"):
            items.append("algorithm=" + a["algorithm"])
        if a.get("qop"):
            items.append("qop=" + quote(a["qop"]))
        if a.get("opaque") is not None:
            items.append("opaque=" + quote(a["opaque"]))
        if stale:
            items.append("stale=true")
        return "Digest " + ", ".join(items)

    def check_auth(self, method, target, header):
        """Returns (state, params) with state in off/missing/ok/stale/bad."""
        a = self.auth
        if not a["enabled"]:
            return "off", None
        lifetime = a.get("nonceLifetime") or 0
        if lifetime and time.monotonic() - self.nonce_time > lifetime:
            self.new_nonce()
        if not header:
            return "missing", None
        if not header.startswith("Digest "):
            return "bad", None
        p = parse_auth_params(header[7:])
        for key in ("username", "realm", "nonce", "uri", "response"):
            if key not in p:
                return "bad", p
        if p["username"] != a["user"] or p["realm"] != a["realm"] or p["uri"] != target:
            return "bad", p
        # Like Apache: an opaque must come back unchanged, and none may come
        # back when none was sent.
        if a.get("opaque") is None:
            if "opaque" in p:
                return "bad", p
        elif p.get("opaque") != a["opaque"]:
            return "bad", p
        ha1 = md5("%s:%s:%s" % (a["user"], a["realm"], a["password"]))
        ha2 = md5("%s:%s" % (method, target))
        if a.get("qop"):
            if p.get("qop") != "auth" or "nc" not in p or "cnonce" not in p:
                return "bad", p
            expected = md5(":".join([ha1, p["nonce"], p["nc"], p["cnonce"], "auth", ha2]))
        else:
            if "qop" in p or "nc" in p:
                return "bad", p
            expected = md5(":".join([ha1, p["nonce"], ha2]))
        if p["response"] != expected:
            return "bad", p
        if p["nonce"] != self.nonce:
            return ("stale" if p["nonce"] in self.stale_nonces else "bad"), p
        return "ok", p

    # ---- rules ---------------------------------------------------------
    def take_rule(self, method, target, auth_state):
        for rule in self.rules:
            if "method" in rule and rule["method"] != method:
                continue
            if "path" in rule and not target.startswith(rule["path"]):
                continue
            if "authorized" in rule and rule["authorized"] != (auth_state == "ok"):
                continue
            times = rule.get("times", 1)
            if times == 0:
                continue
            if times > 0:
                rule["times"] = times - 1
            return dict(rule)
        return None


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "FakeProcessor/1.0"

    def setup(self):
        super().setup()
        self.rfile = RecordingReader(self.rfile)
        with self.server.processor.lock:
            self.server.processor.connections += 1
            self.connection_id = self.server.processor.connections

    def log_message(self, fmt, *args):
        pass

    # Every method goes through one place.
    def do_GET(self):
        self.dispatch()

    do_POST = do_PATCH = do_PUT = do_DELETE = do_HEAD = do_GET

    def send(self, status, body=b"", content_type="application/json", headers=()):
        if isinstance(body, str):
            body = body.encode("utf-8")
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        if body:
            self.send_header("Content-Type", content_type)
        if status != 204:
            self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if body:
            self.wfile.write(body)
        self.wfile.flush()
        self.close_connection = True

    def send_interim(self, status):
        """An interim (1xx) reply ahead of the answer; 103 carries a Link hint."""
        reason = self.responses.get(status, ("Interim",))[0]
        hint = b"Link: </style.css>; rel=preload\r\n" if status == 103 else b""
        self.wfile.write(b"HTTP/1.1 %d %s\r\n%s\r\n" % (status, reason.encode("latin-1"), hint))
        self.wfile.flush()

    def send_json(self, status, value):
        self.send(status, json.dumps(value, separators=(",", ":"), sort_keys=True))

    def dispatch(self):
        self.close_connection = True
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        target = self.path
        if target.startswith("/__"):
            self.control(target, body)
            return
        proc = self.server.processor
        url = urllib.parse.urlsplit(target)
        with proc.lock:
            auth_state, params = proc.check_auth(self.command, target, self.headers.get("Authorization"))
            proc.seq += 1
            record = {
                "seq": proc.seq,
                "connection": self.connection_id,
                "method": self.command,
                "target": target,
                "path": url.path,
                "query": url.query,
                "version": self.request_version,
                "headers": [[k, v] for k, v in self.headers.items()],
                "body": body.decode("utf-8", "replace"),
                "body64": base64.b64encode(body).decode(),
                "raw64": base64.b64encode(bytes(self.rfile.data)).decode(),
                "auth": params,
                "authState": auth_state,
                "outcome": None,
            }
            proc.log.append(record)
            rule = proc.take_rule(self.command, target, auth_state)
        self.record = record
        outcome = self.answer(proc, rule, auth_state, url, body)
        with proc.lock:
            record["outcome"] = outcome
            if proc.request_log:
                proc.request_log.write("%s %s %s %s\n" % (self.command, target, outcome,
                                                          body.decode("utf-8", "replace")))
                proc.request_log.flush()

    def answer(self, proc, rule, auth_state, url, body):
        if rule:
            if rule.get("delay"):
                time.sleep(float(rule["delay"]))
            for code in rule.get("interim", []):
                self.send_interim(int(code))
            action = rule.get("action") or ("reply" if "status" in rule else None)
            if action == "hang":
                event = threading.Event()
                with proc.lock:
                    proc.hung.append(event)
                    self.record["held"] = True
                while not event.wait(0.2):
                    if proc.stopping.is_set():
                        break
                return "hang"
            if action == "close":
                return "close"
            if action == "partial":
                self.wfile.write(b"HTTP/1.1 2")
                self.wfile.flush()
                return "partial"
            if action == "raw":
                raw = rule["raw"].encode("latin-1") if "raw" in rule else base64.b64decode(rule.get("raw64", ""))
                self.wfile.write(raw)
                self.wfile.flush()
                return "raw"
            if action == "reply":
                headers = [tuple(h) for h in rule.get("headers", [])]
                if rule.get("challenge"):
                    with proc.lock:
                        headers.append(("WWW-Authenticate", proc.challenge()))
                status = int(rule.get("status", 200))
                self.send(status, rule.get("body", ""), rule.get("contentType", "text/plain"), headers)
                return status
        if auth_state not in ("off", "ok"):
            with proc.lock:
                challenge = proc.challenge(stale=(auth_state == "stale"))
            self.send(401, "Unauthorized", "text/plain", [("WWW-Authenticate", challenge)])
            return 401
        return self.resource(proc, url, body)

    def resource(self, proc, url, body):
        path = url.path
        method = self.command
        parts = path.split("/")
        if path == "/api/v1/data" and method == "GET":
            paths = [p for p in url.query.split("&") if p]
            with proc.lock:
                reply = select_paths(proc.state, paths)
            self.send_json(200, reply)
            return 200
        if path == "/api/v1/data" and method == "PATCH":
            try:
                patch = json.loads(body.decode("utf-8")) if body else {}
            except ValueError:
                self.send(400, "bad JSON", "text/plain")
                return 400
            if not isinstance(patch, dict):
                self.send(400, "not an object", "text/plain")
                return 400
            with proc.lock:
                deep_merge(proc.state, patch)
            self.send(204)
            return 204
        if path == "/api/v1/media/generate" and method == "POST":
            try:
                document = json.loads(body.decode("utf-8")) if body else None
            except ValueError:
                document = None
            if not isinstance(document, dict) or not isinstance(document.get("draw"), list):
                self.send(400, "not a generate document", "text/plain")
                return 400
            with proc.lock:
                proc.generated.append(document)
            self.send(204)
            return 204
        # /api/v1/tile/<tile>/<ldm>/cal, /api/v1/tile/<tile>/calBusy, /api/v1/tile/<tile>/calSave
        if len(parts) == 7 and parts[1:4] == ["api", "v1", "tile"] and parts[6] == "cal" and method == "POST":
            tile, ldm = parts[4], parts[5]
            query = url.query.split("&")
            with proc.lock:
                proc.uploads.setdefault(tile, {})[ldm] = base64.b64encode(body).decode()
                if "continuation=false" in query:
                    proc.pending_idle[tile] = True
            self.send(204)
            return 204
        if len(parts) == 6 and parts[1:4] == ["api", "v1", "tile"] and parts[5] == "calBusy" and method == "GET":
            tile = parts[4]
            with proc.lock:
                queue = proc.calbusy.get(tile)
                if queue:
                    reply = queue.pop(0)
                elif proc.pending_idle.pop(tile, False):
                    reply = "busy"
                else:
                    reply = "idle"
            if isinstance(reply, dict):
                status = int(reply.get("status", 200))
                self.send(status, reply.get("body", ""), "text/plain")
                return status
            self.send(200, reply, "text/plain")
            return 200
        if len(parts) == 6 and parts[1:4] == ["api", "v1", "tile"] and parts[5] == "calSave" and method == "POST":
            self.send(204)
            return 204
        self.send(404, "Not found", "text/plain")
        return 404

    # ---- control -----------------------------------------------------------
    def control(self, target, body):
        proc = self.server.processor
        try:
            data = json.loads(body.decode("utf-8")) if body else None
        except ValueError:
            self.send(400, "bad JSON", "text/plain")
            return
        method = self.command
        with proc.lock:
            if target == "/__log" and method == "GET":
                reply = proc.log
            elif target == "/__log/clear" and method == "POST":
                proc.log = []
                reply = {}
            elif target == "/__state" and method == "GET":
                reply = proc.state
            elif target == "/__state" and method == "PUT" and isinstance(data, dict):
                proc.state = data
                reply = {}
            elif target == "/__uploads" and method == "GET":
                reply = proc.uploads
            elif target == "/__generated" and method == "GET":
                reply = proc.generated
            elif target == "/__auth" and method == "POST" and isinstance(data, dict):
                rotate = data.pop("rotate", False)
                proc.auth.update(data)
                if rotate or "nonce" in data:
                    proc.new_nonce()
                reply = {"nonce": proc.nonce}
            elif target == "/__script" and method == "POST" and isinstance(data, dict):
                proc.rules.extend(data.get("rules", []))
                reply = {}
            elif target == "/__script/clear" and method == "POST":
                proc.rules = []
                reply = {}
            elif target == "/__calbusy" and method == "POST" and isinstance(data, dict):
                for tile, replies in data.items():
                    proc.calbusy.setdefault(tile, []).extend(replies)
                reply = {}
            elif target == "/__calbusy/clear" and method == "POST":
                proc.calbusy = {}
                proc.pending_idle = {}
                reply = {}
            elif target == "/__release" and method == "POST":
                for event in proc.hung:
                    event.set()
                reply = {"released": len(proc.hung)}
                proc.hung = []
            else:
                reply = None
            text = json.dumps(reply, separators=(",", ":")) if reply is not None else None
        if text is None:
            self.send(404, "unknown control request", "text/plain")
        else:
            self.send(200, text)


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = False
    request_queue_size = 64


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--state", help="JSON file with the initial state tree")
    parser.add_argument("--auth", help="JSON object of Digest settings (see AUTH_DEFAULTS)")
    parser.add_argument("--request-log", help="file that gets one line per processor request")
    args = parser.parse_args()

    state = json.loads(json.dumps(DEFAULT_STATE))
    if args.state:
        with open(args.state, encoding="utf-8") as f:
            state = json.load(f)
    processor = Processor(state)
    if args.auth:
        processor.auth.update(json.loads(args.auth))
        processor.new_nonce()
    if args.request_log:
        processor.request_log = open(args.request_log, "a", encoding="utf-8")

    server = Server(("127.0.0.1", args.port), Handler)
    server.processor = processor

    def stop(*_):
        processor.stopping.set()
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
    # A signal can stop the server while the input watcher still reads; the
    # interpreter's shutdown would then abort on the busy stdin lock.
    sys.stdout.flush()
    os._exit(0)


if __name__ == "__main__":
    main()
