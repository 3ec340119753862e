#!/usr/bin/python3
"""korvane-cli spectrum against an independent numpy reference.

Synthetic captures written as .dso files: a coherent sine (whole cycles in the record) read
through the rectangular window, whose bins hold each tone exactly, and a non-coherent one
read through Blackman-Harris, held against a least-squares fit of the fundamental and its
harmonics in the time domain. Then the simulated device, math and XY through the binary.
"""
import json
import struct
import subprocess
import sys

import numpy as np

CLI, WORK = sys.argv[1], sys.argv[2]
N = 0x60000
RATE = 50e6 / 16  # rate index 4, Dual Channel
HARMONICS = {2: 0.004, 3: 0.01, 4: 0.002, 5: 0.003, 6: 0.001}  # of the fundamental's amplitude
errors = []


def fail(what):
    errors.append(what)


def near(what, got, want, tolerance):
    if got is None or abs(got - want) > tolerance:
        fail(f"{what}: {got}, expected {want} within {tolerance}")


def write_dso(path, mode, rate_index, a, b=None):
    area = np.full(0xC0000, 0x80, dtype=np.uint8)
    if mode == 1:
        area[:] = a
    else:
        area[:N] = a
        if b is not None:
            area[N:] = b
    header = struct.pack("<iBBHibb", 0, 3, 0, 0, 0, rate_index, mode)
    with open(path, "wb") as f:
        f.write(header + area.tobytes() + b"\0\0")


def cli(*arguments, status=0):
    run = subprocess.run([CLI, *arguments], capture_output=True, text=True)
    if run.returncode != status:
        fail(f"korvane-cli {' '.join(arguments)}: status {run.returncode}, expected {status}: {run.stderr[:300]}")
    return run


def spectrum(*arguments):
    run = cli("spectrum", "--json", *arguments)
    return json.loads(run.stdout) if run.returncode == 0 else None


def sine_codes(cycles_per_sample, amplitude, noise, seed):
    rng = np.random.default_rng(seed)
    n = np.arange(N)
    phase = rng.uniform(0, 2 * np.pi)
    x = amplitude * np.cos(2 * np.pi * cycles_per_sample * n + phase)
    for h, share in HARMONICS.items():
        x += share * amplitude * np.cos(2 * np.pi * h * cycles_per_sample * n + h * phase + rng.uniform(0, 2 * np.pi))
    x += rng.normal(0, noise, N)
    return np.clip(np.round(128 + x), 0, 255).astype(np.uint8)


def figures_of(fundamental, harmonics, noise):
    """THD, SNR, SINAD, SFDR (harmonics the largest spurs), ENOB from powers."""
    thd = 10 * np.log10(sum(harmonics) / fundamental)
    snr = 10 * np.log10(fundamental / noise)
    sinad = 10 * np.log10(fundamental / (noise + sum(harmonics)))
    return {"thd_db": thd, "snr_db": snr, "sinad_db": sinad, "sfdr_db": 10 * np.log10(fundamental / max(harmonics)),
            "enob_bits": (sinad - 1.76) / 6.02}


def coherent_reference(codes, cycles):
    """Rectangular window, whole cycles: each tone in one bin."""
    power = np.abs(np.fft.rfft(codes.astype(float) - 128)) ** 2 * 2 / N ** 2
    power[0] /= 2
    power[-1] /= 2

    def fold(k):
        k %= N
        return N - k if k > N // 2 else k
    tones = [fold(h * cycles) for h in range(1, 7)]
    noise = power.sum() - power[0] - power[tones].sum()
    return figures_of(power[tones[0]], list(power[tones[1:]]), noise)


def sine_fit(codes, frequency, harmonics=1):
    """Least squares of a constant and the harmonics at a frequency (cycles a sample): the
    fitted amplitudes' powers and the residual's mean square."""
    n = np.arange(N)
    columns = [np.ones(N)]
    for h in range(1, harmonics + 1):
        columns += [np.cos(2 * np.pi * h * frequency * n), np.sin(2 * np.pi * h * frequency * n)]
    basis = np.array(columns).T
    y = codes.astype(float)
    solution, *_ = np.linalg.lstsq(basis, y, rcond=None)
    residual = y - basis @ solution
    powers = [(solution[2 * h - 1] ** 2 + solution[2 * h] ** 2) / 2 for h in range(1, harmonics + 1)]
    return powers, np.mean(residual ** 2)


def four_parameter_fit(codes, frequency):
    """IEEE 1241's four-parameter fit: the frequency too, by Gauss-Newton from a guess."""
    n = np.arange(N)
    y = codes.astype(float)
    for _ in range(30):
        c = np.cos(2 * np.pi * frequency * n)
        s = np.sin(2 * np.pi * frequency * n)
        a, b, d = np.linalg.lstsq(np.array([c, s, np.ones(N)]).T, y, rcond=None)[0]
        derivative = 2 * np.pi * n * (-a * s + b * c)
        basis = np.array([c, s, np.ones(N), derivative]).T
        step = np.linalg.lstsq(basis, y - (a * c + b * s + d), rcond=None)[0][3]
        frequency += step
        if abs(step) < 1e-15:
            break
    return frequency


def compare(what, got, want):
    if got is None or got.get("figures") is None:
        fail(f"{what}: no figures: {got and got.get('figures_unavailable')}")
        return
    f = got["figures"]
    for name in ("thd_db", "snr_db", "sinad_db", "sfdr_db"):
        near(f"{what} {name}", f[name], want[name], 0.1)
    near(f"{what} enob_bits", f["enob_bits"], want["enob_bits"], 0.02)


# A coherent sine: 4099 whole cycles (a prime: no harmonic falls on another's bin).
coherent = sine_codes(4099 / N, 110, 0.6, 1)
write_dso(f"{WORK}/coherent.dso", 0, 4, coherent, coherent[::-1])
compare("coherent sine, rectangular", spectrum("--window", "rectangular", f"{WORK}/coherent.dso"),
        coherent_reference(coherent, 4099))

# A non-coherent sine, 1553.4 bins, through Blackman-Harris and flat-top, against the
# time-domain fit of the fundamental and harmonics 2..6 at the true frequency.
frequency = 12345.678 / RATE
loose = sine_codes(frequency, 100, 0.5, 2)
write_dso(f"{WORK}/loose.dso", 0, 4, loose, loose)
powers, residual = sine_fit(loose, frequency, 6)
reference = figures_of(powers[0], powers[1:], residual)
for window in ("blackman-harris", "flat-top"):
    got = spectrum("--window", window, f"{WORK}/loose.dso")
    compare(f"non-coherent sine, {window}", got, reference)
    if got and got["figures"]:
        near(f"non-coherent frequency, {window}", got["figures"]["fundamental"]["frequency_hz"] / 12345.678, 1, 1e-5)

# A non-coherent sine near the DC (7.3 bins), where its own image and the DC leak into it.
low = sine_codes(7.3 / N, 90, 0.5, 3)
write_dso(f"{WORK}/low.dso", 0, 4, low)
got = spectrum("--window", "hann", f"{WORK}/low.dso")
if got and got["figures"]:
    near("frequency 7.3 bins, hann", got["figures"]["fundamental"]["frequency_hz"] / (7.3 * RATE / N), 1, 1e-5)

# The same record twice: a power average of two, with the same figures.
twice = spectrum(f"{WORK}/loose.dso", f"{WORK}/loose.dso")
once = spectrum(f"{WORK}/loose.dso")
if twice is None or twice["records"] != 2 or abs(twice["figures"]["snr_db"] - once["figures"]["snr_db"]) > 1e-9:
    fail(f"the average of a record with itself: {twice and (twice['records'], twice['figures']['snr_db'])}")

# The simulated device: A's 1 kHz sine, whose ENOB agrees with a four-parameter sine fit of
# the same samples; B's 2.5 kHz triangle, odd harmonics falling as 1/n^2 (-19.08 dBc for
# the 3rd, -27.96 dBc for the 5th), the even ones absent.
cli("capture", "--mode", "dual", "--rate", "3.125MHz", "-o", f"{WORK}/sim.dso", "--quiet")
a = np.fromfile(f"{WORK}/sim.dso", dtype=np.uint8)[14:14 + N]
got = spectrum(f"{WORK}/sim.dso")
if got and got["figures"]:
    f = got["figures"]
    near("simulated A frequency", f["fundamental"]["frequency_hz"], 1000, 1000 * 1e-5)
    fitted = four_parameter_fit(a, 1000.3 / RATE)
    powers, residual = sine_fit(a, fitted, 1)
    enob = (10 * np.log10(powers[0] / residual) - 1.76) / 6.02
    near("simulated A ENOB against the sine fit", f["enob_bits"], enob, 0.05)
    if f["enob_bits"] > 7:
        fail(f"simulated A ENOB {f['enob_bits']}: the simulated sine is not that pure")
got = spectrum("--channel", "B", f"{WORK}/sim.dso")
if got and got["figures"]:
    f = got["figures"]
    level = f["fundamental"]["level_dbfs"]
    near("simulated B frequency", f["fundamental"]["frequency_hz"], 2500, 2500 * 1e-5)
    for h, want in ((3, -19.08), (5, -27.96)):
        near(f"simulated B harmonic {h}", f["harmonics"][h - 2]["level_dbfs"] - level, want, 0.3)
    for h in (2, 4, 6):
        if f["harmonics"][h - 2]["level_dbfs"] - level > -60:
            fail(f"simulated B harmonic {h}: {f['harmonics'][h - 2]['level_dbfs'] - level} dBc, a triangle has none")

# A Single Channel capture: converter B reads 4 codes above A, a spur at fs/2 of amplitude 2
# codes (-36.1 dBFS); offset correction brings it down.
cli("capture", "--mode", "single", "--rate", "50MHz", "-o", f"{WORK}/single.dso", "--quiet")
before, after = spectrum(f"{WORK}/single.dso"), spectrum("--offset-correct", f"{WORK}/single.dso")
if before and after:
    spur, corrected = (s["figures"]["interleaving"]["offset_spur"]["level_dbfs"] for s in (before, after))
    near("offset spur", spur, 20 * np.log10(2 / 128), 0.5)
    if corrected > spur - 6:
        fail(f"offset correction left the spur at {corrected} dBFS (from {spur})")
    if before["single_channel_trace"] is not True or before["samples"] != 2 * N:
        fail("the Single Channel spectrum is not the whole trace")
cli("spectrum", "--offset-correct", f"{WORK}/sim.dso", status=2)
cli("spectrum", "--channel", "B", f"{WORK}/single.dso", status=2)

# Math: M = A-B of the synthetic record against numpy, and the refusals.
m = json.loads(cli("info", "--json", "--math", "A - B", f"{WORK}/coherent.dso").stdout)["math"]
want = coherent.astype(float) - coherent[::-1].astype(float)
near("M mean", m["mean"], want.mean(), 1e-9)
near("M rms", m["rms"], np.sqrt(np.mean(want ** 2)), 1e-9)
cli("info", "--math", "A/B", f"{WORK}/coherent.dso", status=2)
cli("info", "--math", "A-B", f"{WORK}/single.dso", status=1)
got = spectrum("--math", "A-B", "--window", "hann", f"{WORK}/sim.dso")
if got is None or got["channel"] != "M = A-B" or abs(got["figures"]["fundamental"]["frequency_hz"] - 1000) > 0.01:
    fail(f"the spectrum of A-B: {got and got['figures']}")

# XY: a square picture, refused where the mode has one trace.
cli("render", f"{WORK}/sim.dso", "--xy", "-o", f"{WORK}/xy.png")
with open(f"{WORK}/xy.png", "rb") as f:
    width, height = struct.unpack(">II", f.read(24)[16:24])
if (width, height) != (600, 600):
    fail(f"the XY picture is {width}x{height}, not 600x600")
cli("render", f"{WORK}/single.dso", "--xy", "-o", f"{WORK}/xy2.png", status=1)
cli("render", f"{WORK}/sim.dso", "--xy", "M,A", "-o", f"{WORK}/xy3.svg", status=2)  # M without --math

for e in errors:
    print(f"spectrum_reference: {e}", file=sys.stderr)
sys.exit(1 if errors else 0)
