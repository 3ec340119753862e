#!/usr/bin/python3
"""korvane-cli serve drawing several captures at once, on this machine:
  - eight clients, each asking /view of a capture of its own (the eight of them different:
    each mode, noise and the simulated signals), 200 requests each on a kept-alive
    connection, ranges moving as a page's zoom and pan do: requests a second in all;
  - one client alone asking /view: the median time of one request.
    bench/serve_views_bench.py path/to/korvane-cli [ROUNDS]
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

CLI = os.path.abspath(sys.argv[1])
ROUNDS = int(sys.argv[2]) if len(sys.argv) > 2 else 3
CLIENTS, REQUESTS = 8, 200


def start():
    process = subprocess.Popen([CLI, "serve", "--instant", "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True)
    port = int(re.search(r":(\d+)/", process.stdout.readline()).group(1))
    return process, port


def connect(port):
    return http.client.HTTPConnection("127.0.0.1", port, timeout=60)


def get(connection, port, path):
    connection.request("GET", path, headers={"Host": f"127.0.0.1:{port}"})
    response = connection.getresponse()
    data = response.read()
    if response.status != 200:
        sys.exit(f"serve_views_bench: {path} gave {response.status} {data[:200]!r}")
    return data


def post(port, path, body):
    connection = connect(port)
    headers = {"Host": f"127.0.0.1:{port}"}
    if isinstance(body, dict):
        body = json.dumps(body).encode()
        headers["Content-Type"] = "application/json"
    connection.request("POST", path, body=body, headers=headers)
    response = connection.getresponse()
    data = response.read()
    connection.close()
    return json.loads(data)


def captures(port):
    """Eight different captures: each mode of the simulated device, on its two signal sets
    where it has them, and 16 Bit Logic noise."""
    random.seed(1)
    ids = [post(port, "/api/captures?name=noise.dso", bytes([0] * 12 + [0, 2]) + random.randbytes(0xC0000) + bytes(2))["id"]]
    settings = [{"mode": "dual", "trigger": "a", "level": 40}, {"mode": "single", "trigger": "none"},
                {"mode": "logic16", "trigger": "none"}, {"mode": "mixed", "trigger": "none"},
                {"mode": "dual", "trigger": "none", "rate": "1.5625MHz"}, {"mode": "logic16", "trigger": "none", "rate": "3.125MHz"},
                {"mode": "mixed", "trigger": "b", "level": 10, "rate": "6.25MHz"}]
    for s in settings:
        post(port, "/api/run", {"mode": "single", "settings": s})
        deadline = time.time() + 30
        while time.time() < deadline:
            connection = connect(port)
            state = json.loads(get(connection, port, "/api/state"))
            connection.close()
            if state["run"] == "stopped" and len(state["captures"]) == len(ids) + 1:
                ids.append(state["latest"])
                break
            time.sleep(0.02)
    if len(ids) != CLIENTS:
        sys.exit(f"serve_views_bench: {len(ids)} captures, not {CLIENTS}")
    return ids


def views(id, count, seed):
    """The paths of a page's views of a capture: ranges moved as zoom and pan move them."""
    rng = random.Random(seed)
    paths = []
    for _ in range(count):
        span = rng.choice([393215, 100000, 20000, 4000])
        start = rng.randrange(0, 393216 - span)
        paths.append(f"/api/captures/{id}/view?size=1280x720&range={start}:{start + span}")
    return paths


process, port = start()
try:
    ids = captures(port)
    # Warm up: fonts, the first pictures of each capture.
    warm = connect(port)
    for id in ids:
        get(warm, port, f"/api/captures/{id}/view?size=1280x720")
    warm.close()
    rates, medians = [], []
    for round in range(ROUNDS):
        done = []

        def client(index):
            connection = connect(port)
            for path in views(ids[index], REQUESTS, round * 100 + index):
                get(connection, port, path)
            connection.close()
            done.append(index)

        threads = [threading.Thread(target=client, args=(i,)) for i in range(CLIENTS)]
        began = time.perf_counter()
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        took = time.perf_counter() - began
        if len(done) != CLIENTS:
            sys.exit("serve_views_bench: a client failed")
        rates.append(CLIENTS * REQUESTS / took)
        times = []
        alone = connect(port)  # (an idle connection is closed after 10 s)
        for path in views(ids[round % CLIENTS], 60, round):
            began = time.perf_counter()
            get(alone, port, path)
            times.append(time.perf_counter() - began)
        alone.close()
        medians.append(statistics.median(times) * 1000)
    print(f"serve_views_bench: {CLIENTS} clients x {REQUESTS} /view of 8 captures, 1280x720: "
          f"{statistics.median(rates):.1f} requests a second (rounds: {', '.join(f'{r:.1f}' for r in rates)})")
    print(f"serve_views_bench: one /view alone: median {statistics.median(medians):.1f} ms "
          f"(rounds: {', '.join(f'{m:.1f}' for m in medians)})")
finally:
    process.terminate()
    process.wait(timeout=20)
