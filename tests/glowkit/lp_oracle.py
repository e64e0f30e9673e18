#!/usr/bin/env python3
"""Independent solution of the primary-mixing linear program by vertex enumeration.

Input (argv[1], JSON): {"primaries": [[x, y, Y], ...], "target": [x, y],
"fixed": [...], "objectiveSet": [...], "objective": 0|1, "total": t}.
Variables are the luminances L_i of all primaries, 0 <= L_i <= Y_i, a fixed
primary pinned at Y_i. Constraints: sum L_i (x_i - tx) / y_i = 0,
sum L_i (y_i - ty) / y_i = 0 and, when total != 0, sum L_i = total.
Prints "infeasible" or the optimal objective value and one optimal point.
"""
import itertools
import json
import sys

import numpy as np

p = json.loads(sys.argv[1])
prim = np.array(p["primaries"], dtype=float)
tx, ty = p["target"]
n = len(prim)
rows = [(prim[:, 0] - tx) / prim[:, 1], (prim[:, 1] - ty) / prim[:, 1]]
rhs = [0.0, 0.0]
if p["total"] != 0:
    rows.append(np.ones(n))
    rhs.append(p["total"])
A = np.array(rows)
b = np.array(rhs)
fixed = set(p["fixed"])
obj_set = [i for i in p["objectiveSet"] if i < n]
c = np.zeros(n)
free = [i for i in range(n) if i not in fixed]
for i in (obj_set or free):
    if i not in fixed:
        c[i] = 1.0
sign = 1.0 if p["objective"] == 0 else -1.0

best = None
m = A.shape[0]
# A vertex has at least n - m variables at a bound; solve for the others.
for k in range(0, m + 1):
    for basis in itertools.combinations(free, k):
        others = [i for i in range(n) if i not in basis]
        choices = [[prim[i, 2]] if i in fixed else [0.0, prim[i, 2]] for i in others]
        for bounds in itertools.product(*choices):
            L = np.zeros(n)
            for i, v in zip(others, bounds):
                L[i] = v
            r = b - A @ L
            if k:
                sol, *_ = np.linalg.lstsq(A[:, list(basis)], r, rcond=None)
                L[list(basis)] = sol
            if np.abs(A @ L - b).max() > 1e-7 or (L < -1e-9).any() or (L > prim[:, 2] + 1e-9).any():
                continue
            val = sign * (c @ L)
            if best is None or val > best[0] + 1e-12:
                best = (val, L)
if best is None:
    print("infeasible")
else:
    print(repr(sign * best[0]), " ".join(repr(v) for v in best[1]))
