#!/usr/bin/env python3
"""Independent readers and reference computations for the statistics-image tests.

  png <file>                         width height and the grey of every pixel (R = G = B checked)
  fits <file>                        BITPIX NAXIS NAXIS1 NAXIS2 and every value, row after row
  blur <fits> <n> <across> <down>    the image blurred with the n x n Gaussian kernel,
                                     mirrored (border not repeated) inside each module cell
"""
import math
import struct
import sys
import zlib

import numpy as np
from astropy.io import fits


def read_png(path):
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "signature"
    pos, idat, hdr = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            hdr = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    w, h, depth, colour, _, _, interlace = hdr
    assert depth == 8 and colour == 2 and interlace == 0, hdr
    raw = zlib.decompress(idat)
    bpp, stride = 3, 3 * w
    rows, prev = [], bytearray(stride)
    for y in range(h):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        prev = line
    greys = []
    for line in rows:
        for x in range(w):
            r, g, b = line[3 * x:3 * x + 3]
            assert r == g == b, "not grey"
            greys.append(r)
    return w, h, greys


def kernel(n):
    s = ((n - 1) * 0.5 - 1) * 0.3 + 0.8
    h = (n - 1) // 2
    k = np.array([[math.exp(-((c - h) ** 2 + (r - h) ** 2) / (2 * s * s)) for c in range(n)] for r in range(n)])
    return k / k.sum()


def blur(img, n, across, down):
    k = kernel(n)
    H, W = img.shape
    ch, cw = H // down, W // across
    o = (n - 1) // 2
    out = np.zeros_like(img, dtype=float)
    for R in range(down):
        for K in range(across):
            cell = img[R * ch:(R + 1) * ch, K * cw:(K + 1) * cw].astype(float)
            p = np.pad(cell, ((o, n - 1 - o), (o, n - 1 - o)), mode="reflect")
            for i in range(ch):
                for j in range(cw):
                    out[R * ch + i, K * cw + j] = (p[i:i + n, j:j + n] * k).sum()
    return out


cmd = sys.argv[1]
if cmd == "png":
    w, h, greys = read_png(sys.argv[2])
    print(w, h, *greys)
elif cmd == "fits":
    with fits.open(sys.argv[2]) as f:
        hd = f[0].header
        print(hd["BITPIX"], hd["NAXIS"], hd["NAXIS1"], hd["NAXIS2"], *[repr(float(v)) for v in f[0].data.ravel()])
elif cmd == "blur":
    with fits.open(sys.argv[2]) as f:
        img = f[0].data
    print(*[repr(float(v)) for v in blur(img, int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])).ravel()])
