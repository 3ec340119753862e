#!/usr/bin/python3
"""The bytes a page receives for each capture, with and without gzip on the wire: the
simulated signals in each mode, and noise (the worst case); what a download takes over the
loopback: the first in gzip (the server compresses the capture then, once for every page),
the median of the next 20, and the median of 20 uncompressed; and how many captures a second
a 10 Mbit/s link carries either way.
    bench/serve_gzip_bench.py path/to/korvane-cli
"""
import http.client
import json
import os
import random
import re
import statistics
import subprocess
import sys
import time

CLI = os.path.abspath(sys.argv[1])
LINK = 10e6 / 8  # bytes a second of a 10 Mbit/s link


def request(port, method, path, body=None, headers=None):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    if isinstance(body, dict):
        body = json.dumps(body).encode()
    connection.request(method, path, body=body, headers={"Host": f"127.0.0.1:{port}", **(headers or {})})
    response = connection.getresponse()
    data = response.read()
    connection.close()
    return response.status, data


process = subprocess.Popen([CLI, "serve", "--instant", "--listen", "127.0.0.1:0", "--compress", "always"], stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, text=True,
                           env=dict(os.environ, XDG_CONFIG_HOME="/nonexistent"))
port = int(re.search(r":(\d+)/", process.stdout.readline()).group(1))
try:
    ids = {}
    for mode in ("dual", "single", "logic16", "mixed"):
        request(port, "POST", "/api/run", {"mode": "single", "settings": {"mode": mode, "trigger": "none"}})
        while True:
            s = json.loads(request(port, "GET", "/api/state")[1])
            if s["run"] == "stopped" and s["captures"] and s["captures"][0]["mode"] == mode:
                break
            time.sleep(0.02)
        ids[f"simulated {mode}"] = s["latest"]
    random.seed(1)
    for mode, code in (("dual", 0), ("logic16", 2)):
        noise = bytes([0] * 12 + [0, code]) + random.randbytes(0xC0000) + b"\0\0"
        ids[f"noise {mode}"] = json.loads(request(port, "POST", "/api/captures?name=noise.dso", noise)[1])["id"]

    print(f"{'capture':20} {'plain':>9} {'gzip':>9} {'ratio':>6} {'1st gz ms':>9} {'gzip ms':>8} {'plain ms':>8} "
          f"{'/s at 10 Mbit/s plain':>22} {'gzip':>6}")
    for name, capture in ids.items():
        timings = {}
        sizes = {}
        for accept in ("gzip", "identity"):
            times = []
            for _ in range(21):
                start = time.perf_counter()
                status, data = request(port, "GET", f"/api/captures/{capture}.dso", headers={"Accept-Encoding": accept})
                times.append((time.perf_counter() - start) * 1000)
            timings[accept + " first"] = times[0]
            timings[accept] = statistics.median(times[1:])
            sizes[accept] = len(data)
        plain, packed = sizes["identity"], sizes["gzip"]
        print(f"{name:20} {plain:9d} {packed:9d} {plain / packed:6.1f} {timings['gzip first']:9.1f} {timings['gzip']:8.1f} "
              f"{timings['identity']:8.1f} {LINK / plain:22.2f} {LINK / packed:6.2f}")
finally:
    process.terminate()
    process.wait(timeout=10)
