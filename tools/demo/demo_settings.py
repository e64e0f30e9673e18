#!/usr/bin/env python3
"""Writes what the demonstration needs (scripts/run-demo.sh).

  demo_settings.py settings CONF DEMO --meter ADDR --processor ADDR --user U --password P
      Sets the device keys of Veltrano's settings file CONF (Qt's INI format)
      for DEMO ("simulated", "camera" or "processor"); keys the user may
      change are only set where absent, every other key stays as it is.
  demo_settings.py wall STATE
      Writes the state tree of the stand-in processor's demonstration wall.
"""

import argparse
import base64
import configparser
import json
import os
import struct
import sys

# The key the program scrambles the stored processor password with.
PASSWORD_KEY = 0x0F3B71C5E29D4A68


def crc_x25(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8408 if crc & 1 else crc >> 1
    return crc ^ 0xFFFF


def scrambled(text, key=PASSWORD_KEY):
    """The stored form of a password: version 3, checksum flag, then the
    random byte, checksum and UTF-8 text, each byte XORed with the key byte
    and the previous scrambled byte; Base64."""
    payload = text.encode("utf-8")
    body = os.urandom(1) + struct.pack(">H", crc_x25(payload)) + payload
    out, last = bytearray(), 0
    for p, byte in enumerate(body):
        last = byte ^ ((key >> (8 * (p % 8))) & 0xFF) ^ last
        out.append(last)
    return base64.b64encode(bytes([3, 0x02]) + bytes(out)).decode("ascii")


def ini_text(value):
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, int):
        return str(value)
    # Quoted, so that Qt never splits a value at a comma into a list.
    return '"' + value.replace("\\", "\\\\").replace('"', '\\"') + '"'


def write_settings(args):
    simulated = args.demo in ("simulated", "camera")
    keys = {
        # Device choices: true picks the simulated display, the dummy camera
        # (false: the camera, here the simulated one); false picks the network
        # meter (true would be the serial one).
        ("General", "output"): simulated,
        ("General", "camera"): args.demo != "camera",
        ("General", "colorMeter"): False,
        ("General", "VantorU"): args.user,
        ("General", "VantorP"): scrambled(args.password),
        ("Cine%20Meter%20II", "address"): args.meter,
        ("VANTOR", "address"): args.processor,
    }
    conf = configparser.ConfigParser(interpolation=None, delimiters=("=",), comment_prefixes=(";",),
                                     strict=False)
    conf.optionxform = str
    if os.path.exists(args.conf):
        with open(args.conf, encoding="utf-8") as f:
            conf.read_file(f)
    # Starting values the user may change: the first run in linearity mode,
    # the meter read at the fast end of the program's limits (500 ms after
    # each change, once), as a meter on a bench allows; the simulated wall
    # corrected to its full 1000 cd/m2, so that its darkest step stays well
    # above the meter's low-light limit.
    starting = {("General", "mode"): 0, ("General", "readDelay"): 500, ("General", "readCount"): 1}
    if simulated:
        starting[("General", "bright")] = 1000
    for (section, key), value in starting.items():
        if not conf.has_option(section, key):
            keys[(section, key)] = value
    for (section, key), value in keys.items():
        if not conf.has_section(section):
            conf.add_section(section)
        conf.set(section, key, ini_text(value))
    os.makedirs(os.path.dirname(os.path.abspath(args.conf)), exist_ok=True)
    temporary = args.conf + ".new"
    with open(temporary, "w", encoding="utf-8") as f:
        conf.write(f, space_around_delimiters=False)
    os.replace(temporary, args.conf)


def wall_state():
    """Eight receivers of 160 x 90 pixels, each a 4 x 3 grid of LDMs, in a
    4 x 2 wall, with the display settings of a fresh processor: a white of
    1000 cd/m2, as walls of this kind give, at half the panels' drive."""
    receivers = {}
    for n in range(8):
        ldms = {str(k): {"gains": {"r": 0.0, "g": 0.0, "b": 0.0, "i": 0.0}} for k in range(1, 13)}
        receivers["02:00:5E:10:00:%02X" % (n + 1)] = {
            "x": 160 * (n % 4),
            "y": 90 * (n // 4),
            "info": {"type": "P2.6", "pixelsW": 160, "pixelsH": 90, "ldmsW": 4, "ldmsH": 3},
            "ldms": ldms,
        }
    return {
        "dev": {
            "display": {
                "brightness": 50.0, "cct": 6500, "cctDuv": 0.0, "gamma": 2.4,
                "eotfType": "sdrPreserve", "lumaMax": 2000.0, "tileBpc": 10,
                "gains": {"r": 1.0, "g": 1.0, "b": 1.0},
                "out": {"adjust": {"gain": {"r": 1.0, "g": 1.0, "b": 1.0}}, "curves": {"enabled": False}},
            },
            "ingest": {"testPattern": {"enabled": False, "mediaEnabled": False, "type": "white"},
                       "outputFreq": 60.0},
            "receivers": receivers,
        },
        "sys": {"fixtures": {"P2.6": {"cal": {"uniformity": {"mesh": True}}}}},
    }


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    settings = commands.add_parser("settings")
    settings.add_argument("conf")
    settings.add_argument("demo", choices=("simulated", "camera", "processor"))
    for name in ("--meter", "--processor", "--user", "--password"):
        settings.add_argument(name, required=True)
    wall = commands.add_parser("wall")
    wall.add_argument("state")
    args = parser.parse_args(argv)
    if args.command == "settings":
        write_settings(args)
    else:
        with open(args.state, "w", encoding="utf-8") as f:
            json.dump(wall_state(), f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
