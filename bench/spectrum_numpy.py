#!/usr/bin/python3
"""What a user would write with numpy for the figures spectrum --json prints: read the .dso,
apply the periodic 4-term Blackman-Harris window, take the real FFT, and print the
fundamental, harmonics 2..6, THD, SNR, SINAD, ENOB, SFDR and the five largest peaks as JSON.
  bench/spectrum_numpy.py capture.dso"""
import json
import sys

import numpy as np

data = np.fromfile(sys.argv[1], dtype=np.uint8)
mode, rate_index = int(data[13]), int(data[12])
x = data[14:14 + (0xC0000 if mode == 1 else 0x60000)].astype(float) - 128
n = len(x)
rate = 50e6 / 2 ** rate_index * (2 if mode == 1 else 1)
k = np.arange(n)
a = (0.35875, 0.48829, 0.14128, 0.01168)
w = a[0] - a[1] * np.cos(2 * np.pi * k / n) + a[2] * np.cos(4 * np.pi * k / n) - a[3] * np.cos(6 * np.pi * k / n)
power = np.abs(np.fft.rfft(x * w)) ** 2 * 4 / (n * np.sum(w ** 2) * 128 ** 2)
power[0] /= 2
half = 4
claimed = np.zeros(len(power), bool)


def take(centre):
    lo, hi = max(0, int(round(centre)) - half), min(len(power) - 1, int(round(centre)) + half)
    free = ~claimed[lo:hi + 1]
    total = power[lo:hi + 1][free].sum()
    claimed[lo:hi + 1] = True
    return total


take(0)
peak = half + 1 + int(np.argmax(power[half + 1:]))
a0, b0, c0 = np.log(power[peak - 1:peak + 2])
tone = peak + 0.5 * (a0 - c0) / (a0 - 2 * b0 + c0)
fundamental = take(tone)
harmonics = []
for h in range(2, 7):
    f = (h * tone) % n
    harmonics.append(take(n - f if f > n / 2 else f))
noise = power[~claimed].sum()
spur = max(max(harmonics), power[~claimed].max() * n * np.sum(w ** 2) / np.sum(w) ** 2)
sinad = 10 * np.log10(fundamental / (noise + sum(harmonics)))
levels = 10 * np.log10(np.maximum(power * n * np.sum(w ** 2) / np.sum(w) ** 2, 1e-30))
local = np.flatnonzero((levels[1:-1] >= levels[:-2]) & (levels[1:-1] > levels[2:])) + 1
peaks = local[np.argsort(levels[local])[::-1][:5]]
print(json.dumps({
    "fundamental": {"frequency_hz": tone * rate / n, "level_dbfs": 10 * np.log10(fundamental)},
    "harmonics": [10 * np.log10(p) for p in harmonics],
    "thd_db": 10 * np.log10(sum(harmonics) / fundamental), "snr_db": 10 * np.log10(fundamental / noise),
    "sinad_db": sinad, "enob_bits": (sinad - 1.76) / 6.02, "sfdr_db": 10 * np.log10(fundamental / spur),
    "peaks": [{"frequency_hz": p * rate / n, "level_dbfs": levels[p]} for p in peaks]}, indent=2))
