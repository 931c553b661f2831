#!/usr/bin/env python3
"""Regenerates the shipped default files in data/defaults/ (committed; the build embeds them).

mf_pulse.bin: the matched-filter pulse template, 100 little-endian doubles at the interpolated
sample rate (raw period / 4). A Gaussian laser pulse of sigma 10 interpolated samples (0.625 ns,
about 1.5 ns FWHM) whose peak lies exactly at sample 48.

layers.lcfg: five 36-byte layer entries tuned so that a first run of the demo recording gives a
clean cloud: colour by range, a window that covers the demo scene, a modest SNR limit and the
clutter filter on.
"""
import math
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))
out = os.path.join(here, "..", "data", "defaults")
os.makedirs(out, exist_ok=True)

SIGMA = 10.0
PEAK = 48
with open(os.path.join(out, "mf_pulse.bin"), "wb") as f:
    for i in range(100):
        f.write(struct.pack("<d", math.exp(-0.5 * ((i - PEAK) / SIGMA) ** 2)))

# (colorFrom, colorTo, colorMode, showSaturated, pointSize, snrMin, filterDistance,
#  neighbourFilter, rangeMin, rangeMax)
layers = [
    ((0, 0, 255), (255, 255, 0), 1, 1, 2, 5.0, 0.15, 1, 0.5, 30.0),
    ((0, 128, 0), (255, 128, 0), 1, 1, 2, 5.0, 0.15, 1, 0.5, 30.0),
    ((128, 0, 128), (0, 255, 255), 1, 1, 2, 5.0, 0.15, 1, 0.5, 30.0),
    ((64, 64, 64), (255, 255, 255), 3, 1, 2, 5.0, 0.15, 1, 0.5, 30.0),
    ((128, 0, 0), (255, 255, 128), 2, 1, 2, 5.0, 0.15, 1, 0.5, 30.0),
]
with open(os.path.join(out, "layers.lcfg"), "wb") as f:
    for (cf, ct, mode, sat, size, snr, dist, filt, rmin, rmax) in layers:
        f.write(bytes([*cf, 0, *ct, 0]))
        f.write(struct.pack("<IBBBfdBff", mode, 0, sat, size, snr, dist, filt, rmin, rmax))
