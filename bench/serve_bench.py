#!/usr/bin/python3
"""korvane-cli serve under load, on this machine:
  - a new view after a zoom or pan step, worst case (16 Bit Logic noise at 1920x1080), as the
    page asks for it: the HTTP round trip, picture included (goal: at most 50 ms with the
    browser's share, which bench/serve_page_bench.py measures);
  - eight pages watching Normal mode against one: the capture rate (goal: within 10 %);
  - the server's memory with the history full (goal: under 64 MB).
    bench/serve_bench.py path/to/korvane-cli
"""
import http.client
import json
import os
import random
import re
import statistics
import subprocess
import sys
import threading
import time

import websocket

CLI = os.path.abspath(sys.argv[1])


def start():
    process = subprocess.Popen([CLI, "serve", "--instant", "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True)
    port = int(re.search(r":(\d+)/", process.stdout.readline()).group(1))
    return process, port


def request(port, method, path, body=None):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    if isinstance(body, dict):
        body = json.dumps(body).encode()
    connection.request(method, path, body=body, headers={"Host": f"127.0.0.1:{port}"})
    response = connection.getresponse()
    data = response.read()
    connection.close()
    return response.status, data


def state(port):
    return json.loads(request(port, "GET", "/api/state")[1])


def noise_capture():
    random.seed(1)
    header = bytes([0] * 12 + [0, 2])  # rate index 0, 16 Bit Logic
    return header + random.randbytes(0xC0000) + bytes(2)


process, port = start()
try:
    status, data = request(port, "POST", "/api/captures?name=noise.dso", noise_capture())
    noise = json.loads(data)["id"]
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    times = []
    steps = ["zoom_in", "zoom_in", "pan_left", "pan_right", "zoom_out", "zoom_out"] * 8
    view = "0:393215"
    for step in steps:
        start_time = time.perf_counter()
        connection.request("GET", f"/api/captures/{noise}/view?size=1920x1080&range={view}&step={step}",
                           headers={"Host": f"127.0.0.1:{port}"})
        response = connection.getresponse()
        response.read()
        times.append((time.perf_counter() - start_time) * 1000)
        view = response.getheader("X-Korvane-Stored-Range") or view
    connection.close()
    print(f"view after a zoom or pan step, 16 Bit Logic noise at 1920x1080: median {statistics.median(times):.1f} ms, "
          f"worst {max(times):.1f} ms over {len(times)} steps (HTTP round trip, picture included)")

    def rate_with(pages):
        received = [0] * pages
        stop = threading.Event()
        sockets = [websocket.create_connection(f"ws://127.0.0.1:{port}/api/live", timeout=30) for _ in range(pages)]

        def watch(i):
            while not stop.is_set():
                try:
                    sockets[i].recv()
                    received[i] += 1
                except Exception:
                    return

        threads = [threading.Thread(target=watch, args=(i,), daemon=True) for i in range(pages)]
        for t in threads:
            t.start()
        request(port, "POST", "/api/run", {"mode": "normal", "settings": {"mode": "dual", "trigger": "a", "level": 0}})
        time.sleep(1)
        first = state(port)["taken"]
        time.sleep(5)
        taken = state(port)["taken"] - first
        request(port, "POST", "/api/stop")
        stop.set()
        for s in sockets:
            s.close()
        return taken / 5, min(received)

    one, _ = rate_with(1)
    eight, least = rate_with(8)
    print(f"Normal mode: {one:.1f} captures/s with one page, {eight:.1f} with eight ({(eight / one - 1) * 100:+.1f} %); "
          f"the slowest of the eight pages got {least} state messages")

    request(port, "POST", "/api/run", {"mode": "normal", "settings": {"mode": "dual", "trigger": "none"}})
    while state(port)["taken"] < 60:
        time.sleep(0.1)
    request(port, "POST", "/api/stop")
    status = open(f"/proc/{process.pid}/status").read()
    rss = int(re.search(r"VmRSS:\s+(\d+)", status).group(1)) / 1024
    peak = int(re.search(r"VmHWM:\s+(\d+)", status).group(1)) / 1024
    print(f"memory with the history full ({len(state(port)['captures'])} captures): {rss:.1f} MB resident, "
          f"{peak:.1f} MB at the most")
finally:
    process.terminate()
    process.wait()
