#!/usr/bin/env python3
"""Writes single-plane FITS capture images with astropy for the capture tests.

  fits_fixture.py (<file> <rows> <cols> <value at (r, c) as a python expression> <planes>)...

planes 1 gives a two-axis image, more a three-axis cube of that many copies.
"""
import sys

import numpy as np
from astropy.io import fits

args = sys.argv[1:]
for i in range(0, len(args), 5):
    path, rows, cols, expr, planes = args[i], int(args[i + 1]), int(args[i + 2]), args[i + 3], int(args[i + 4])
    data = np.array([[eval(expr, {"r": r, "c": c}) for c in range(cols)] for r in range(rows)], dtype=np.float32)
    if planes > 1:
        data = np.stack([data] * planes)
    fits.PrimaryHDU(data).writeto(path, overwrite=True)
