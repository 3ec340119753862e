#!/usr/bin/python3
"""The instrument's page in headless Chromium, on this machine, with the Window view (the window's
picture drawn by the server; bench/serve_scope_bench.py measures the scope view):
  - from the end of a capture's download to its picture on the page (goal: at most 100 ms), for
    Single pressed again and again, and while Normal re-arms as fast as the simulated device
    goes;
  - a zoom or pan step, from the key to the new picture placed (goal: at most 50 ms), 16 Bit
    Logic noise, the page at 1920x1080.
    bench/serve_page_bench.py path/to/korvane-cli
"""
import json
import random
import sys
import time
import urllib.request

from page_bench_support import chromium, post as post_to, start_server, summary as summary_of

server, URL = start_server(sys.argv[1])


def post(path, body, content="application/json"):
    return post_to(URL, path, body, content)


def summary(times, unit="ms"):
    return summary_of(times, unit, 90)


page = chromium()
try:
    page.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                         {"width": 1920, "height": 1080, "deviceScaleFactor": 1, "mobile": False})
    page.get(URL + "?view=window")
    while not page.execute_script("return document.getElementById('mode').options.length"):
        time.sleep(0.05)
    settings = {"mode": "dual", "trigger": "a", "level": 0}

    # The time the page took, by the machine's one clock: the server's ready_ms against Date.now().
    shown = page.execute_script("return document.body.dataset.shownId || ''")
    single = []
    for _ in range(30):
        post("/api/run", {"mode": "single", "settings": settings})
        deadline = time.time() + 10
        while time.time() < deadline:
            now = page.execute_script("return [document.body.dataset.shownId || '', document.body.dataset.readyToScreenMs]")
            if now[0] != shown:
                shown = now[0]
                single.append(float(now[1]))
                break
            time.sleep(0.01)
    print(f"Single, end of the download to the picture on the page: {summary(single)}")

    normal = {}
    post("/api/run", {"mode": "normal", "settings": settings})
    end = time.time() + 8
    while time.time() < end:
        now = page.execute_script("return [document.body.dataset.shownId || '', document.body.dataset.readyToScreenMs]")
        if now[1] is not None:
            normal[now[0]] = float(now[1])
        time.sleep(0.01)
    post("/api/stop", {})
    taken = json.loads(urllib.request.urlopen(URL + "api/state").read())["run_taken"]
    print(f"Normal, end of the download to the picture on the page: {summary(list(normal.values()))} pictures shown "
          f"of {taken} captures taken in the run")

    random.seed(1)
    noise = bytes([0] * 12 + [0, 2]) + random.randbytes(0xC0000) + bytes(2)
    post("/api/captures?name=noise.dso", noise, "application/octet-stream")
    page.get(URL + "?view=window")
    page.execute_script("document.getElementById('follow').checked = true")
    while not page.execute_script("const d = document.getElementById('view').dataset; return d.ready && !d.pending"):
        time.sleep(0.05)
    size = page.execute_script("return document.getElementById('view').dataset.size")
    steps = []
    for step in ["zoom_in", "zoom_in", "pan_left", "pan_right", "zoom_out", "zoom_out"] * 8:
        steps.append(page.execute_async_script("""
            const done = arguments[arguments.length - 1];
            const view = window.korvaneView;
            const before = Number(view.root.dataset.ready);
            const start = performance.now();
            const watch = new MutationObserver(() => {
              if (Number(view.root.dataset.ready) > before && !view.root.dataset.pending) {
                watch.disconnect();
                requestAnimationFrame(() => done(performance.now() - start));  // to the next frame drawn
              }
            });
            watch.observe(view.root, { attributes: true });
            view.step(arguments[0]);""", step))
    print(f"a zoom or pan step on 16 Bit Logic noise, picture {size} in a 1920x1080 page, to the next frame: {summary(steps)}")
finally:
    page.quit()
    server.terminate()
    server.wait()
