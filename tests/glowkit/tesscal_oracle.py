#!/usr/bin/env python3
"""Independent builder of TessCal streams for the reader and writer tests.

Written from the wire format alone (struct for the big-endian fields,
zlib.crc32 for the trailer). Usage: tesscal_oracle.py OUTDIR
Writes OUTDIR/<case>.klv for every case below and, where the expected
standard-error text is known from the bytes alone, OUTDIR/<case>.err.
"""

import os
import struct
import sys
import zlib

MAGIC = 0xCD57AB34

K = {
    "CalEmpty": 0x00000000, "CalBatchID": 0x00000001, "CalTileID": 0x00000004,
    "CalProcInfo": 0x00000005, "CalBrightness": 0x00000006, "DefaultGamut": 0x00010002,
    "DefaultWhite": 0x00010003, "IdealGamut": 0x00010004, "MeasTemp": 0x00010010,
    "DriverPar": 0x00010012, "LowGray16": 0x00020002, "PixelsXYZ": 0x00030001,
    "OLUTXYY": 0x00030004, "LowGray8": 0x00030005, "OLUTDat": 0x00030006,
    "OLUTRef": 0x00030007, "CalTemplate": 0x00030008, "OLUTIShaper": 0x00030009,
    "OLUTOShaper": 0x0003000A, "OLUTGamut": 0x0003000B, "OLUTWhite": 0x0003000C,
    "OLUTProcInfo": 0x0003000D, "OLUTID": 0x0003000E, "CalFactoryCorr": 0x00040001,
    "CalFactoryLow": 0x00050004, "BadPixels": 0x00060000, "CalMeshCorr": 0x00070001,
    "CalSet": 0xFFFF0001, "EndTag": 0xFFFFFFFF, "xPixelXYZCmd": 0x00030003,
}


def f32(*v):
    return struct.pack(">%df" % len(v), *v)


def u16(*v):
    return struct.pack(">%dH" % len(v), *v)


def u32(*v):
    return struct.pack(">%dI" % len(v), *v)


def s(text):
    b = text.encode()
    return u16(len(b)) + b


def rec(key, payload=b"", bank=0, length=None):
    if isinstance(key, str):
        key = K[key]
    n = len(payload) if length is None else length
    return struct.pack(">IIB", key, n, bank) + payload


def marker(n):
    return rec("CalSet", u16(n))


def procinfo(w1, w2, w3, w4, short=False):
    body = struct.pack(">QI", w2, w1)
    return body if short else body + u32(w3, w4)


def mesh(name, w, h, geom, val, reserved, planes):
    """planes: one entry per presence byte; None = absent, else a sample list."""
    body = s(name) + u32(w, h) + f32(*geom) + f32(*val) + u32(reserved)
    for p in planes:
        if p is None:
            body += b"\x00"
        else:
            body += b"\x01" + u16(*p)
    return body


def stream(records, pixfmt=3, w=0, h=0, word=1, extra=b"", hlen=None, filler=b"",
           blklen=None, crc_xor=0):
    block = b"".join(records)
    fields = struct.pack(">IBHH", word, pixfmt, w, h) + extra
    hl = 9 + len(extra) if hlen is None else hlen
    body = u16(hl) + fields + u32(len(block) if blklen is None else blklen) + block + filler
    head = u32(MAGIC, len(body)) + body
    return head + u32(zlib.crc32(head) ^ crc_xor)


# ---------------------------------------------------------------------------
# A stream that carries every known record kind (pixel format 3, 2 x 1 pixels).

TILE = bytes([1, 2, 3, 4, 5, 6]) + u32(7, 8) + f32(9.5) + b"\x0a"
FULL_PAYLOADS = {
    "CalBatchID": s("batch-7"),
    "CalTileID": TILE,
    "CalProcInfo": procinfo(11, 0x1122334455667788, 13, 14),
    "CalBrightness": f32(250.5),
    "DefaultGamut": f32(0.64, 0.33, 0.30, 0.60, 0.15, 0.06),
    "DefaultWhite": f32(0.3127, 0.329),
    "IdealGamut": f32(*range(1, 10)),
    "MeasTemp": b"\x02" + b"\x05" + u32(21, 22, 23) + b"\x06" + u32(24, 25, 26),
    "PixelsXYZ": f32(*[0.5 + i for i in range(18)]),
    "OLUTXYY": f32(*[100.0 + i for i in range(18)]),
    "CalTemplate": b"tmpl text",
    "LowGray16": u16(1, 2, 3, 0x8001, 0xFFFF, 6),
    "OLUTProcInfo": procinfo(31, 32, 0, 0, short=True),
    "OLUTID": s("olut"),
    "OLUTGamut": f32(0.68, 0.32, 0.265, 0.69, 0.15, 0.06),
    "OLUTWhite": f32(0.31, 0.32),
    "OLUTDat": u16(1, 2, 3, 4, 5, 6),
    "OLUTRef": f32(*[200.0 + i for i in range(9)]),
    "OLUTIShaper": u16(10, 20, 30),
    "OLUTOShaper": u16(40, 50),
    "CalFactoryCorr": f32(1.5, 0, 0, 0, 1.25, 0, 0, 0, 1.125),
    "CalFactoryLow": struct.pack(">3h", -1, 2, -3),
    "BadPixels": u16(1, 0) + b"\x07\x08" + u16(65535, 2) + b"\x09\x0a",
    "CalMeshCorr": mesh("mesh", 2, 1, (0.5, 0.5, 2, 1), (0.25, 0.75), 0,
                        [[0x8000, 0xFFFF], None, [1, 2]]),
}

UNK_3F = rec(0x0003000F, b"\xde\xad\xbe\xef")
UNK_02 = rec(0x00000002, b"\x01\x02\x03")


def full_stream():
    recs = [marker(n) for n in range(8)]
    # Any order is accepted; this one differs from the writer's on purpose.
    order = sorted(FULL_PAYLOADS, key=lambda k: -K[k])
    recs += [rec(k, FULL_PAYLOADS[k]) for k in order]
    recs.insert(3, UNK_3F)
    recs.insert(12, rec("xPixelXYZCmd", b"\x00" * 5))
    recs.insert(14, UNK_02)
    recs.insert(15, rec("CalBatchID", s("banked"), bank=1))
    recs.insert(16, rec("CalEmpty", b"\x00\x00\x00"))
    recs.insert(17, rec("DriverPar", s("gain") + b"\x01" + f32(1.5)))
    return stream(recs, pixfmt=3, w=2, h=1)


def full_canonical():
    """What the writer must make of the full stream with sets 0..7 selected."""
    order = ["CalFactoryCorr", "CalFactoryLow",
             "CalTileID", "CalBatchID", "CalProcInfo", "CalBrightness", "DefaultGamut",
             "DefaultWhite", "IdealGamut", "MeasTemp", "PixelsXYZ", "OLUTXYY", "CalTemplate",
             "LowGray16",
             "OLUTProcInfo", "OLUTID", "OLUTGamut", "OLUTWhite", "OLUTDat", "OLUTRef",
             "OLUTIShaper", "OLUTOShaper",
             "BadPixels", "CalMeshCorr"]
    payloads = dict(FULL_PAYLOADS)
    payloads["OLUTProcInfo"] = procinfo(31, 32, 0, 0)  # always written with 20 bytes
    recs = [marker(n) for n in range(8)]
    recs += [rec(k, payloads[k]) for k in order]
    recs += [UNK_3F, UNK_02]  # kept unknown records, in reading order
    return stream(recs, pixfmt=3, w=2, h=1)


def cases():
    c = {}
    errs = {}
    c["full"] = full_stream()
    c["full_canonical"] = full_canonical()

    bright = [rec("CalBrightness", f32(2.0))]
    c["hdr12"] = stream(bright, extra=b"\xaa\xbb\xcc")
    c["hdr8"] = stream(bright, hlen=8)
    errs["hdr8"] = "*** ERROR L209: Invalid header len: 8 < 9\n"
    bad = bytearray(stream(bright))
    bad[0:4] = b"\xcd\x57\xab\x35"
    c["badmagic"] = bytes(bad)
    errs["badmagic"] = "*** ERROR L187: Unknown magic: 0xcd57ab35\n"
    c["empty"] = b""
    errs["empty"] = "*** ERROR L1007: EOF\n*** ERROR L183: EOF on magic\n"
    c["pixfmt2"] = stream(bright, pixfmt=2)
    errs["pixfmt2"] = "*** ERROR L221: Invalid pixel format: 2\n"
    c["pixfmt6"] = stream(bright, pixfmt=6)
    errs["pixfmt6"] = "*** ERROR L221: Invalid pixel format: 6\n"

    good = stream(bright)
    c["crcbad"] = stream(bright, crc_xor=0x00000100)
    stored = zlib.crc32(good[:-4]) ^ 0x100
    errs["crcbad"] = "*** ERROR L254: CRC mismatch: 0x%08x != 0x%08x, pos: %d\n" % (
        stored, zlib.crc32(good[:-4]), len(good))

    # Filler after the record block counts in the total length and the CRC.
    c["filler"] = stream(bright, filler=b"\x11\x22")
    flipped = bytearray(c["filler"])
    flipped[-5] ^= 0xFF
    c["filler_flipped"] = bytes(flipped)
    errs["filler_flipped"] = "*** ERROR L254: CRC mismatch: 0x%08x != 0x%08x, pos: %d\n" % (
        zlib.crc32(c["filler"][:-4]), zlib.crc32(bytes(flipped[:-4])), len(flipped))

    # One byte left over inside the block after the last record.
    c["trailing"] = stream(bright + [b"\x99"])
    errs["trailing"] = "*** ERROR L159: Invalid KLV len: %d, %d\n" % (23 + 13 + 1, 23 + 13)

    # End tag inside the block: the set-0 marker's data is taken back.
    c["endtag"] = stream([rec("CalFactoryLow", struct.pack(">3h", 4, 5, 6)),
                          marker(0), rec("CalBatchID", s("gone")), marker(6),
                          rec("CalBrightness", f32(3.0)), rec("EndTag"),
                          rec("CalBatchID", s("after"))])
    errs["endtag"] = ""

    # Headerless block (records only) closed by an end tag.
    c["block_endtag"] = marker(3) + rec("OLUTID", s("x")) + rec("EndTag") + rec("OLUTID", s("y"))

    c["unknown_sizes"] = stream([rec(0x00031234, bytes(range(256)) * 256),
                                 rec(0x00031235, b"\x00" * 65537),
                                 rec(0x00800001, b"\x05")])
    errs["unknown_sizes"] = ("*** WARN L608: Unknown KLV ID: 0x00031234, len: 65536\n"
                             "*** WARN L608: Unknown KLV ID: 0x00031235, len: 65537\n"
                             "*** ERROR L611: Unknown key 0x00031235 length too big: 65537\n"
                             "*** WARN L608: Unknown KLV ID: 0x00800001, len: 1\n")

    c["procinfo"] = stream([rec("CalProcInfo", procinfo(1, 2, 3, 4) + b"\xff" * 4),
                            rec("OLUTProcInfo", procinfo(5, 6, 7, 8, short=True))])
    # Lengths 13..19: the first two words, the rest skipped.
    for n in range(13, 20):
        c["procinfo_%d" % n] = stream([rec("CalProcInfo", procinfo(1, 2, 3, 4)[:n]),
                                       rec("CalBrightness", f32(2.0))])

    # Streams that end early: the position moves on by every byte asked for.
    good = stream(bright)
    c["cut_header"] = good[:6]
    errs["cut_header"] = "*** ERROR L1007: EOF\n*** ERROR L195: EOF on header\n"
    c["cut_header_end"] = good[:21]
    errs["cut_header_end"] = "*** ERROR L1007: EOF\n*** ERROR L215: EOF on header end\n"
    c["cut_klv_header"] = good[:23 + 5]
    errs["cut_klv_header"] = "*** ERROR L1007: EOF\n*** ERROR L274: EOF on KLV header\n"
    c["cut_payload"] = good[:23 + 9 + 2]
    errs["cut_payload"] = ("*** ERROR L1007: EOF\n"
                           "*** ERROR L640: Invalid KLV 0x00000006 length: 4, 4, eof: 1\n")
    c["cut_skipped"] = stream([rec("xPixelXYZCmd", b"\x00" * 5)])[:23 + 9 + 2]
    errs["cut_skipped"] = ("*** INFO L588: Dropping deleted KLV ID: 0x00030003, xPixelXYZCmd\n"
                           "*** ERROR L1007: EOF\n*** ERROR L246: EOF on CRC\n")
    # A total length that ends inside the record block.
    short = bytearray(good)
    short[4:8] = u32(15 + 13 - 1)
    c["totlen_short"] = bytes(short)
    errs["totlen_short"] = "*** ERROR L236: Invalid total length: 27, 36\n"

    # Markers: two before any set-0 record are both first; one after is not.
    # A record of bank 1 is skipped and does not count as data of its set.
    c["markers"] = stream([rec("BadPixels", u16(1, 1) + b"\x00\x00", bank=1), marker(6),
                           marker(0), marker(0), rec("CalBatchID", s("new")), marker(0),
                           rec("CalBrightness", f32(1.0), bank=1), marker(11)])

    # Repeated list records.
    c["repeats"] = stream([
        rec("PixelsXYZ", f32(*[1.0] * 18)), rec("PixelsXYZ", f32(*[2.0] * 9)),
        rec("MeasTemp", b"\x01\x01" + u32(1, 2, 3)), rec("MeasTemp", b"\x01\x02" + u32(4, 5, 6)),
        rec("LowGray16", u16(1, 2, 3, 4, 5, 6)), rec("LowGray8", bytes([7, 8, 9])),
        rec("BadPixels", u16(1, 1) + b"\x00\x00"), rec("BadPixels", u16(2, 2) + b"\x00\x00"),
    ], w=2, h=1)
    errs["repeats"] = "*** ERROR L758: Not supported\n"

    # No pixels: LowGray8 gives length / S3 entries, PixelsXYZ none.
    c["nopixels"] = stream([rec("LowGray8", bytes(range(7))), rec("PixelsXYZ", f32(*[1.0] * 9)),
                            rec("OLUTXYY", f32(*[1.0] * 9))])
    # More low-grey entries than the 2 x 1 pixels: the count stops at the pixels.
    c["lowgray_over"] = stream([rec("LowGray16", u16(*range(1, 13)))], w=2, h=1)

    m1 = mesh("m1", 2, 2, (1, 2, 3, 4), (5, 6), 7, [[0, 1, 0x8000, 0xFFFF]])
    c["mesh_fmt1"] = stream([marker(7), rec("CalMeshCorr", m1)], pixfmt=1)
    # The same mesh cut off by the end of the stream (CRC and all) inside its
    # third sample: the position still moves on by every byte asked for.
    c["mesh_cut"] = c["mesh_fmt1"][:-4 - 3]
    errs["mesh_cut"] = ("*** ERROR L1007: EOF\n"
                        "*** ERROR L640: Invalid KLV 0x00070001 length: %d, %d, eof: 1\n" % (len(m1), len(m1)))
    c["mesh_fmt5"] = stream([rec("CalMeshCorr", mesh("", 1, 1, (0, 0, 0, 0), (0, 0), 0,
                                                     [[1], None, [3], None, [5]]))], pixfmt=5)

    # Worked example: set-7 marker and an empty mesh, 88 bytes.
    c["worked"] = stream([marker(7), rec("CalMeshCorr", mesh("", 0, 0, (0, 0, 0, 0), (0, 0), 0,
                                                             [None, None, None]))])

    # Mesh sizes that cannot fit in the record.
    head = s("") + u32(0xFFFFFFFF, 0xFFFFFFFF) + f32(0, 0, 0, 0, 0, 0) + u32(0)
    c["mesh_huge"] = stream([marker(7), rec("CalMeshCorr", head + b"\x01" + b"\x00" * 16)])
    errs["mesh_huge"] = ("*** ERROR L640: Invalid KLV 0x00070001 length: 4294967295, %d, eof: 0\n"
                         % (len(head) + 17))
    head = s("") + u32(100, 100) + f32(0, 0, 0, 0, 0, 0) + u32(0)
    c["mesh_short"] = stream([rec("CalMeshCorr", head + b"\x01" + b"\x00" * 19998)])
    errs["mesh_short"] = ("*** ERROR L640: Invalid KLV 0x00070001 length: %d, %d, eof: 0\n"
                          % (len(head) + 1 + 20000, len(head) + 1 + 19998))

    # Key 0 and deleted keys.
    c["zero_deleted"] = stream([rec("CalEmpty", b"\x01\x02"), rec(0x00010001, b"abc"),
                                rec("DriverPar", s("p") + b"\x07")])
    errs["zero_deleted"] = ("*** ERROR L267: Zero KLV ID @ 27, GFE: 1/0/0\n"
                            "*** INFO L588: Dropping deleted KLV ID: 0x00010001, xBlueContrib\n"
                            "*** WARN L569: Unknown DriverPar type: 7, name: p\n")

    # Writer expectations.
    c["w_empty_set0"] = stream([marker(0)])
    c["w_empty_set7"] = stream([marker(7)])
    c["w_lowgray8"] = stream([marker(2), rec("LowGray8", bytes([0x34, 0x78, 0xBC]))], pixfmt=1)
    mesh_cases(c)
    cube_cases(c)
    return c, errs


# ---------------------------------------------------------------------------
# Correction meshes as the file handler writes them: pixel format from the
# plane count, header width and height 0, the set-7 marker, one mesh record.

MESH_ONE = [[[1.0, 1.0, 1.0], [1.0, 1.0, 1.0]]]
MESH_TWO = [[[0.5, 1.5]], [[1.0, 0.25]]]
MESH_THREE = [
    [[0.0, 0.5, 1.0, 1.999], [0.25, 0.75, 1.25, 1.75], [0.125, 0.375, 0.625, 0.875]],
    [[2.5, -0.25, 1.5, 1.0], [1.0, 1.0, 1.0, 1.0], [0.0001, 1.99999, 0.9999, 1.0001]],
    [[1.0] * 4, [0.5] * 4, [1.5] * 4],
]


def as_f32(v):
    return struct.unpack(">f", struct.pack(">f", v))[0]


def sample(g):
    """Unsigned 1.15 fixed point of a float gain, clamped to 0..0xFFFF."""
    return min(max(int(as_f32(g) * 32768), 0), 0xFFFF)


def mesh_stream(name, planes, geom, value):
    fmt = {1: 1, 2: 3, 3: 3, 4: 4, 5: 5}.get(len(planes), 3)
    s5 = {1: 1, 3: 3, 4: 4, 5: 5}[fmt]
    h = len(planes[0]) if planes else 0
    w = len(planes[0][0]) if h else 0
    present = [[sample(g) for row in p for g in row] for p in planes]
    present += [None] * (s5 - len(planes))
    body = mesh(name, w, h, geom, (value, value), 0, present)
    return stream([marker(7), rec("CalMeshCorr", body)], pixfmt=fmt)


def mesh_cases(c):
    c["mesh_one"] = mesh_stream("m", MESH_ONE, (0.5, 0.5, 3, 2), 0.25)
    c["mesh_two"] = mesh_stream("two", MESH_TWO, (1, 2, 3, 4), 0.05)
    c["mesh_three"] = mesh_stream("Veltrano continuous", MESH_THREE, (0.5, 0.5, 2, 1), 1.0)
    # Absent plane places before a present plane.
    for name, planes in (("mesh_gap_middle", [[0x4000], None, [0x8000]]),
                         ("mesh_gap_first", [None, [0x4000], None])):
        body = mesh("gap", 1, 1, (0, 0, 1, 1), (1, 1), 0, planes)
        c[name] = stream([marker(7), rec("CalMeshCorr", body)], pixfmt=3)


# ---------------------------------------------------------------------------
# Calibration cubes as the file handler writes them: set 0 with the process
# information (4, 0, 0, 0x10000) and one XYZ triple per pixel and channel.

CUBE_XY = [(0.64, 0.33), (0.30, 0.60), (0.15, 0.06), (0.3127, 0.329), (0.2, 0.7)]


def cube(w, h, readings):
    """Same construction as the tests: reading i of pixel k = row * w + col."""
    return [[[(CUBE_XY[i][0], CUBE_XY[i][1], 10.0 * (r * w + c + 1) * (i + 1))
              for i in range(readings)] for c in range(w)] for r in range(h)]


def xyy2xyz32(x, y, Y):
    """xyY to XYZ with single-precision results (the bracket in double)."""
    x, y, Y = as_f32(x), as_f32(y), as_f32(Y)
    if y == 0:
        return (0.0, 0.0, 0.0)
    q = as_f32(Y / y)
    return (as_f32(x * q), Y, as_f32(q * ((1.0 - x) - y)))


def cube_stream(pixels):
    h = len(pixels)
    w = len(pixels[0]) if h else 0
    r = len(pixels[0][0]) if w else 0
    fmt = r if r in (1, 4, 5) else 3
    s3 = min(fmt, 3)
    recs = [marker(0), rec("CalProcInfo", procinfo(4, 0, 0, 0x10000))]
    if w * h:
        body = b""
        for row in pixels:
            for px in row:
                for i in range(s3):
                    body += f32(*(xyy2xyz32(*px[i]) if i < min(r, 3) and i < len(px) else (0, 0, 0)))
        recs.append(rec("PixelsXYZ", body))
    return stream(recs, pixfmt=fmt, w=w, h=h)


def cube_cases(c):
    a = cube(3, 2, 3)
    a[1][1] = []                 # a pixel without readings
    a[1][2] = a[1][2][:1]        # one with a single reading
    a[0][1][2] = (0.15, 0.0, 5.0)  # y = 0 converts to black
    c["cube_a"] = cube_stream(a)
    c["cube_four"] = cube_stream(cube(2, 1, 4))
    c["cube_one"] = cube_stream(cube(1, 2, 1))
    c["cube_empty"] = cube_stream([])
    c["cube_unbacked"] = stream([marker(0)], w=65535, h=65535)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    c, errs = cases()
    for name, data in c.items():
        with open(os.path.join(out, name + ".klv"), "wb") as f:
            f.write(data)
    for name, text in errs.items():
        with open(os.path.join(out, name + ".err"), "w") as f:
            f.write(text)


if __name__ == "__main__":
    main()
