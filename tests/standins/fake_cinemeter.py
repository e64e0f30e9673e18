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
look at the wall of the stand-in processor on that port. Each reading is what
a meter would measure on that wall as the processor drives it: the wall shows
full white (its white test pattern, or a white input); each channel's signal
is that white times its output gain, turned into light by the processor's
transfer function (sRGB for eotfType "sdrPreserve", else the power of its
gamma) and by the LEDs' own response (--response: an exponent per channel,
so that low levels drift in colour as real LEDs do), and that light, times the display gain and the brightness (percent of
lumaMax), drives the panel up to its full drive; and the light is the
sum of three LED primaries, weighted so that equal drive gives white at
--white-cct K and --white-duv on a luminance of lumaMax x brightness / 100.
CCT and Duv come from the chromaticity of that light (CIE 1960 uv, nearest
point of the Planckian locus), so they depend on the channels' ratios, not on
the level; in the dark the meter gives a luminance and no colour.
--follow-file PATH looks at the program's simulated wall instead, whose state
(the same layout) the program writes to PATH; without brightness and lumaMax
its white is 100 cd/m2, or the luminance given by --white-luminance.
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
follow = {"port": 0, "file": "", "white": 100.0}


def gain(node, channel):
    try:
        value = float(node.get(channel, 1.0))
    except (AttributeError, TypeError, ValueError):
        return 1.0
    return value if value == value else 0.0


def planckian_uv(t):
    """CIE 1960 uv of a black body at t kelvin (Krystek's approximation)."""
    u = (0.860117757 + 1.54118254e-4 * t + 1.28641212e-7 * t * t) / (1 + 8.42420235e-4 * t + 7.08145163e-7 * t * t)
    v = (0.317398726 + 4.22806245e-5 * t + 4.20481691e-8 * t * t) / (1 - 2.89741816e-5 * t + 1.61456053e-7 * t * t)
    return u, v


def cct_duv(u, v):
    """The nearest point of the locus (1000 .. 15000 K): its temperature, and
    the signed distance to it (positive above the locus)."""
    def distance(t):
        pu, pv = planckian_uv(t)
        return (u - pu) ** 2 + (v - pv) ** 2
    # Coarse in reciprocal temperature, then golden-section search.
    mireds = [1e6 / 15000 + k * (1000 - 1e6 / 15000) / 400 for k in range(401)]
    best = min(range(len(mireds)), key=lambda k: distance(1e6 / mireds[k]))
    lo, hi = mireds[max(best - 1, 0)], mireds[min(best + 1, len(mireds) - 1)]
    ratio = (5 ** 0.5 - 1) / 2
    for _ in range(100):
        a, b = hi - ratio * (hi - lo), lo + ratio * (hi - lo)
        if distance(1e6 / a) < distance(1e6 / b):
            hi = b
        else:
            lo = a
    t = 1e6 / ((lo + hi) / 2)
    pu, pv = planckian_uv(t)
    d = distance(t) ** 0.5
    return t, d if v >= pv else -d


def eotf(signal, srgb, gamma):
    """Light of a signal (0 .. 1) through the processor's transfer function:
    sRGB, or the plain power of its gamma."""
    if srgb:
        return signal / 12.92 if signal <= 0.04045 else ((signal + 0.055) / 1.055) ** 2.4
    return signal ** gamma


def xyz_of(x, y, luminance=1.0):
    return (x / y * luminance, luminance, (1 - x - y) / y * luminance)


# Chromaticities (x, y) of the LED primaries.
PRIMARIES = ((0.690, 0.305), (0.165, 0.720), (0.135, 0.050))


def primary_weights(cct, duv):
    """Luminance shares of red, green and blue whose equal drive is white at
    cct and duv (offset from the locus along its normal)."""
    u, v = planckian_uv(cct)
    u2, v2 = planckian_uv(cct + 1)
    du, dv = u2 - u, v2 - v
    norm = (du * du + dv * dv) ** 0.5
    # The normal that points above the locus (towards green).
    nu, nv = (dv / norm, -du / norm) if -du > 0 else (-dv / norm, du / norm)
    u, v = u + duv * nu, v + duv * nv
    x, y = 3 * u / (2 * u - 8 * v + 4), 2 * v / (2 * u - 8 * v + 4)
    white = xyz_of(x, y)
    columns = [xyz_of(px, py) for px, py in PRIMARIES]
    # Cramer's rule for columns . w = white.
    def det(m):
        return (m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0])
                + m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]))
    matrix = [[columns[c][row] for c in range(3)] for row in range(3)]
    whole = det(matrix)
    weights = []
    for c in range(3):
        m = [row[:] for row in matrix]
        for row in range(3):
            m[row][c] = white[row]
        weights.append(det(m) / whole)
    return weights


def number(node, key, default):
    try:
        value = float(node.get(key, default))
    except (AttributeError, TypeError, ValueError):
        return default
    return value if value == value else default


def wall_state():
    """The state of the wall looked at: the processor's, or the simulated
    wall's file (absent before the program first writes it: a white wall)."""
    if follow["port"]:
        with urllib.request.urlopen("http://127.0.0.1:%d/__state" % follow["port"], timeout=5) as reply:
            return json.load(reply)
    try:
        with open(follow["file"], encoding="utf-8") as f:
            return json.load(f)
    except FileNotFoundError:
        return {}


def plant_body(state):
    """A reading of the wall in state, as the meter's body lines."""
    if not isinstance(state, dict):
        raise ValueError("the wall state is not an object")
    display = state.get("dev", {}).get("display", {})
    shown = display.get("gains", {})
    out = display.get("out", {}).get("adjust", {}).get("gain", {})
    # Without them, the white is follow["white"] with the panels at no more
    # than half their drive.
    lumaMax = number(display, "lumaMax", max(1000.0, 2 * follow["white"]))
    level = number(display, "brightness", 100.0 * follow["white"] / lumaMax) / 100.0
    gamma = number(display, "gamma", 2.4)
    srgb = display.get("eotfType", "sdrPreserve") == "sdrPreserve"
    x = y = z = 0.0
    for c, weight, (px, py) in zip("rgb", follow["weights"], PRIMARIES):
        # The output gain scales the white signal; the transfer function
        # turns it into light, which the display gain and the brightness scale.
        signal = min(1.0, max(0.0, gain(out, c)))
        light = eotf(signal, srgb, gamma) ** follow["response"][c]
        drive = min(1.0, max(0.0, light * gain(shown, c) * level))
        light = xyz_of(px, py, weight * drive * lumaMax)
        x, y, z = x + light[0], y + light[1], z + light[2]
    body = "brightness_SI %.6f cd/m2" % y
    if y > 1e-6:
        total = x + 15 * y + 3 * z
        cct, duv = cct_duv(4 * x / total, 6 * y / total)
        body += "\nCCT %.3f\n\u2206uv %.6f" % (cct, duv)
    return body


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
        if (follow["port"] or follow["file"]) and s["status"] == 200:
            try:
                body = plant_body(wall_state())
            except (OSError, ValueError, AttributeError, TypeError) as error:
                print("wall state unreadable: %s" % error, flush=True)
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
    parser.add_argument("--follow-file", default="", metavar="PATH",
                        help="the simulated wall's state file (VELTRANO_SIMULATED_WALL_STATE)")
    parser.add_argument("--white-cct", type=float, default=6500.0)
    parser.add_argument("--white-duv", type=float, default=0.0)
    parser.add_argument("--response", default="1,1,1", metavar="R,G,B",
                        help="exponents of the LEDs' light (1: exactly the transfer function)")
    parser.add_argument("--white-luminance", type=float, default=100.0, metavar="CD",
                        help="full white of a wall state without brightness and lumaMax, in cd/m2")
    args = parser.parse_args()
    follow["port"] = args.follow_processor
    follow["file"] = args.follow_file
    follow["weights"] = primary_weights(args.white_cct, args.white_duv)
    follow["response"] = dict(zip("rgb", (float(v) for v in args.response.split(","))))
    follow["white"] = args.white_luminance
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
