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

# The demo recording (quarv-cli simulate --scene harbour --seed 1) sees returns from about 3.5 m
# (the nearest floor) to 13 m (the foot of the quay wall), measured range before the housing
# correction. The window 1..25 m keeps all of them and leaves out the window reflection and the
# first metre of water backscatter. Real surface returns of the demo have an SNR of 100 and more,
# so a limit of 20 only drops shots where the peak search picked up noise. The clutter filter
# distance of 0.2 m is several times the spacing of neighbouring shots on the floor, pipe and
# wall (a few centimetres, about 16 cm between lines on the far floor at grazing incidence) and
# well below the distance of a fish or piece of debris from anything else (0.5 m and more), so
# the isolated returns go and the surfaces stay; the demo keeps its surfaces from 0.08 m to
# 0.25 m.
# (colorFrom, colorTo, colorMode, showSaturated, pointSize, snrMin, filterDistance,
#  neighbourFilter, rangeMin, rangeMax)
layers = [
    ((0, 0, 255), (255, 255, 0), 1, 1, 2, 20.0, 0.2, 1, 1.0, 25.0),
    ((0, 128, 0), (255, 128, 0), 1, 1, 2, 20.0, 0.2, 1, 1.0, 25.0),
    ((128, 0, 128), (0, 255, 255), 1, 1, 2, 20.0, 0.2, 1, 1.0, 25.0),
    ((64, 64, 64), (255, 255, 255), 3, 1, 2, 20.0, 0.2, 1, 1.0, 25.0),
    ((128, 0, 0), (255, 255, 128), 2, 1, 2, 20.0, 0.2, 1, 1.0, 25.0),
]
with open(os.path.join(out, "layers.lcfg"), "wb") as f:
    for (cf, ct, mode, sat, size, snr, dist, filt, rmin, rmax) in layers:
        f.write(bytes([*cf, 0, *ct, 0]))
        f.write(struct.pack("<IBBBfdBff", mode, 0, sat, size, snr, dist, filt, rmin, rmax))
