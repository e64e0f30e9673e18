#!/usr/bin/env python3
"""Reference scrambler for the stored-password format, written from the format
description alone (standard library only), used by tst_simplecrypt as an oracle.

Format: [0x03][flags][body scrambled]
  flags 0x01 payload compressed (Qt qCompress: 4-byte big-endian size + zlib level 9)
        0x02 16-bit CRC (ISO 3309 / X-25) of the payload, big-endian
        0x04 SHA-1 of the payload (20 bytes)
  body before scrambling: [random byte][integrity value][payload]
  scrambled[p] = plain[p] ^ key[p % 8] ^ scrambled[p - 1]  (scrambled[-1] = 0)
  key bytes: least significant byte of the 64-bit key first.
Text form: standard Base64 with padding.

Commands (arguments are one per word; byte strings in hex, "-" for empty):
  encrypt KEY RANDOM COMPRESSION INTEGRITY PLAINHEX   -> Base64 text
      COMPRESSION 0 auto (keep only if strictly shorter), 1 always, 2 never
      INTEGRITY 0 none, 1 checksum, 2 SHA-1
  raw KEY RANDOM FLAGS PAYLOADHEX                      -> Base64 text
      scrambles the payload exactly as given under FLAGS (no compression is
      applied; the integrity value follows FLAGS, checksum before hash)
  decrypt KEY BASE64                                   -> "ok PLAINHEX" or "error N"
  crc HEX                                              -> checksum in hex
"""

import base64
import hashlib
import struct
import sys
import zlib

VERSION = 3
F_COMPRESSED = 0x01
F_CHECKSUM = 0x02
F_HASH = 0x04


def key_bytes(key):
    return [(key >> (8 * i)) & 0xFF for i in range(8)]


def crc_x25(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            if crc & 1:
                crc = (crc >> 1) ^ 0x8408
            else:
                crc >>= 1
    return crc ^ 0xFFFF


def q_compress(data):
    if not data:
        return b"\0\0\0\0"
    return struct.pack(">I", len(data)) + zlib.compress(data, 9)


def q_uncompress(data):
    if len(data) < 4:
        raise ValueError("too short")
    (size,) = struct.unpack(">I", data[:4])
    if size == 0 and len(data) == 4:
        return b""
    out = zlib.decompress(data[4:])
    if len(out) != size:
        raise ValueError("size mismatch")
    return out


def scramble(body, key):
    kb = key_bytes(key)
    out = bytearray()
    last = 0
    for p, byte in enumerate(body):
        s = byte ^ kb[p % 8] ^ last
        out.append(s)
        last = s
    return bytes(out)


def unscramble(body, key):
    kb = key_bytes(key)
    out = bytearray()
    last = 0
    for p, s in enumerate(body):
        out.append(s ^ kb[p % 8] ^ last)
        last = s
    return bytes(out)


def integrity_for(flags, payload):
    if flags & F_CHECKSUM:
        return struct.pack(">H", crc_x25(payload))
    if flags & F_HASH:
        return hashlib.sha1(payload).digest()
    return b""


def build(key, random_byte, flags, payload):
    body = bytes([random_byte & 0xFF]) + integrity_for(flags, payload) + payload
    return bytes([VERSION, flags & 0xFF]) + scramble(body, key)


def encrypt(key, random_byte, compression, integrity, plain):
    flags = 0
    payload = plain
    if compression == 1:
        payload = q_compress(plain)
        flags |= F_COMPRESSED
    elif compression == 0:
        packed = q_compress(plain)
        if len(packed) < len(plain):
            payload = packed
            flags |= F_COMPRESSED
    if integrity == 1:
        flags |= F_CHECKSUM
    elif integrity == 2:
        flags |= F_HASH
    return build(key, random_byte, flags, payload)


def decrypt(key, cypher):
    """Returns (error, plain)."""
    if len(cypher) < 3 or cypher[0] != VERSION:
        return 2, b""
    flags = cypher[1]
    body = unscramble(cypher[2:], key)[1:]
    if flags & F_CHECKSUM:
        if len(body) < 2:
            return 3, b""
        (stored,) = struct.unpack(">H", body[:2])
        body = body[2:]
        if crc_x25(body) != stored:
            return 3, b""
    elif flags & F_HASH:
        if len(body) < 20:
            return 3, b""
        stored = body[:20]
        body = body[20:]
        if hashlib.sha1(body).digest() != stored:
            return 3, b""
    if flags & F_COMPRESSED:
        try:
            body = q_uncompress(body)
        except (ValueError, zlib.error):
            return 3, b""
    return 0, body


def unhex(text):
    return b"" if text == "-" else bytes.fromhex(text)


def main(argv):
    cmd = argv[1]
    if cmd == "encrypt":
        key, rnd, comp, integ = int(argv[2], 0), int(argv[3], 0), int(argv[4]), int(argv[5])
        out = encrypt(key, rnd, comp, integ, unhex(argv[6]))
        print(base64.b64encode(out).decode("ascii"))
    elif cmd == "raw":
        key, rnd, flags = int(argv[2], 0), int(argv[3], 0), int(argv[4], 0)
        print(base64.b64encode(build(key, rnd, flags, unhex(argv[5]))).decode("ascii"))
    elif cmd == "decrypt":
        key = int(argv[2], 0)
        cypher = base64.b64decode(argv[3]) if len(argv) > 3 else b""
        err, plain = decrypt(key, cypher)
        print("ok " + (plain.hex() or "-") if err == 0 else "error %d" % err)
    elif cmd == "crc":
        print("%04x" % crc_x25(unhex(argv[2])))
    else:
        print("unknown command", file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
