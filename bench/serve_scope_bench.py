#!/usr/bin/python3
"""The scope view, drawn in the page, in headless Chromium at 1920x1080 on this machine:
  - from the end of a capture's download to the capture drawn (goal: median at most 15 ms, worst
    at most 50 ms of 30), for Single pressed again and again, and while Normal re-arms;
  - a zoom, pan or pinch step, from the input (its event's time stamp) to the frame drawn, for
    16 Bit Logic noise and Dual Channel noise, from the whole capture down to 100 samples (goal:
    median at most 8 ms, 95th percentile at most 16 ms);
  - a frame with persistence of the last 100 captures while Normal runs (goal: at most 16 ms).
The inputs go through Chrome's own input pipeline (DevTools Input.dispatch...), as a user's do.
    bench/serve_scope_bench.py path/to/korvane-cli
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
    return summary_of(times, unit, 95)


page = chromium()


def frames():
    return page.execute_script("return window.__scope.frames()")


def next_frame(before, seconds=5):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if frames() > before:
            return page.execute_script("return window.__scope.frameLog().slice(-1)[0]")
        time.sleep(0.002)
    return None


def shown_capture(id_wanted):
    while page.execute_script("return document.getElementById('scope-plot').dataset.capture") != str(id_wanted):
        time.sleep(0.02)


try:
    page.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                         {"width": 1920, "height": 1080, "deviceScaleFactor": 1, "mobile": False})
    page.get(URL + "?view=scope")
    while not page.execute_script("return document.getElementById('mode').options.length && window.__scope"):
        time.sleep(0.05)
    settings = {"mode": "dual", "trigger": "a", "level": 0, "pretrigger": 0}

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
    print(f"scope view, Single, end of the download to the capture drawn: {summary(single)}")
    loads = page.execute_script("return window.__scope.loads()")[-30:]
    ready = {c["id"]: c["ready_ms"] for c in json.loads(urllib.request.urlopen(URL + "api/state").read())["captures"]}
    print(f"   of which from the end of the download to the page asking for the bytes: "
          f"{summary([l['askedAt'] - ready[l['id']] for l in loads if l['id'] in ready])}")
    print(f"   and the bytes and layout fetched, the decimation made: {summary([l['loaded'] for l in loads])}")
    print(f"   of which the decimation: {summary([l['decimated'] for l in loads])}")

    before = {t["id"] for t in page.execute_script("return window.__scope.screenTimes()")}
    post("/api/run", {"mode": "normal", "settings": settings})
    time.sleep(8)
    post("/api/stop", {})
    time.sleep(0.5)
    taken = json.loads(urllib.request.urlopen(URL + "api/state").read())["run_taken"]
    normal = [t["ms"] for t in page.execute_script("return window.__scope.screenTimes()") if t["id"] not in before]
    print(f"scope view, Normal, end of the download to the capture drawn: {summary(normal)}, "
          f"{len(normal)} drawn of {taken} captures taken in the run")

    # Persistence of the last 100 captures while Normal runs: the frames that add a capture.
    page.execute_script("const s = document.getElementById('persistence'); s.value = '100';"
                        "s.dispatchEvent(new Event('change'));")
    post("/api/run", {"mode": "normal", "settings": settings})
    deadline = time.time() + 60
    while time.time() < deadline and page.execute_script("return window.__scope.frameLog().slice(-1)[0].persisted") < 100:
        time.sleep(0.2)
    log_start = len(page.execute_script("return window.__scope.frameLog()"))
    time.sleep(6)
    post("/api/stop", {})
    log = [f for f in page.execute_script("return window.__scope.frameLog()")[log_start:] if f["persisted"] >= 100]
    if log:
        print(f"scope view, persistence of 100 captures in Normal, a frame: {summary([f['ms'] for f in log])}")
        added = [f["capture"] for f in log if f["capture"] is not None]
        print(f"   a frame with a new capture, from its samples handed over (persistence added, the layer made, drawn): {summary(added)}")
    else:
        print("scope view, persistence: 100 captures never persisted")
    page.execute_script("const s = document.getElementById('persistence'); s.value = '0';"
                        "s.dispatchEvent(new Event('change'));")

    random.seed(1)
    for name, mode in (("16 Bit Logic", 2), ("Dual Channel", 0)):
        noise = bytes([0] * 12 + [0, mode]) + random.randbytes(0xC0000) + bytes(2)
        answer = post(f"/api/captures?name=noise-{mode}.dso", noise, "application/octet-stream")
        page.get(URL + "?view=scope")
        while not page.execute_script("return window.__scope && window.__scope.shown() !== null"):
            time.sleep(0.05)
        page.execute_script("document.getElementById('follow').checked = false;"
                            f"document.querySelector('#history button[data-id=\"{answer['id']}\"]').click()")
        shown_capture(answer["id"])
        box = page.execute_script("const r = document.querySelector('#scope-plot canvas').getBoundingClientRect();"
                                  "const p = window.__scope.plot(); return {x: r.left + p.left, y: r.top + p.top,"
                                  "w: p.right - p.left, h: p.bottom - p.top};")
        x0, y0 = round(box["x"] + box["w"] * 0.4), round(box["y"] + box["h"] * 0.5)
        steps = {"zoom": [], "pan": [], "pinch": []}
        drawing = []
        handled = []

        def step(kind, command, params):
            before = frames()
            page.execute_cdp_cmd(command, params)
            frame = next_frame(before)
            if frame and frame["input"] is not None:
                steps[kind].append(frame["input"])
                drawing.append(frame["ms"])
                handled.append(frame["handled"])

        def mouse(kind, x, y, **more):
            return {"type": kind, "x": x, "y": y, **more}

        for rounds in range(2):
            page.execute_script("document.getElementById('scope-whole').click()")
            next_frame(frames() - 1)
            while page.execute_script("return window.__scope.span().width") > 100:   # the whole capture down to 100 samples
                step("zoom", "Input.dispatchMouseEvent", mouse("mouseWheel", x0, y0, deltaX=0, deltaY=-100))
                page.execute_cdp_cmd("Input.dispatchMouseEvent", mouse("mousePressed", x0, y0, button="left", clickCount=1))
                for dx in (-30, -60, -30, 0):
                    step("pan", "Input.dispatchMouseEvent", mouse("mouseMoved", x0 + dx, y0, button="left", buttons=1))
                page.execute_cdp_cmd("Input.dispatchMouseEvent", mouse("mouseReleased", x0, y0, button="left", clickCount=1))
            page.execute_script("document.getElementById('scope-whole').click()")
            page.execute_cdp_cmd("Emulation.setTouchEmulationEnabled", {"enabled": True, "maxTouchPoints": 2})
            while page.execute_script("return window.__scope.span().width") > 100:
                touches = lambda spread: [{"x": x0 - spread, "y": y0, "id": 0}, {"x": x0 + spread, "y": y0, "id": 1}]
                page.execute_cdp_cmd("Input.dispatchTouchEvent", {"type": "touchStart", "touchPoints": touches(40)})
                for spread in (50, 62, 78, 98):
                    step("pinch", "Input.dispatchTouchEvent", {"type": "touchMove", "touchPoints": touches(spread)})
                page.execute_cdp_cmd("Input.dispatchTouchEvent", {"type": "touchEnd", "touchPoints": []})
            page.execute_cdp_cmd("Emulation.setTouchEmulationEnabled", {"enabled": False})
        for kind, times in steps.items():
            print(f"scope view, {name} noise, a {kind} step from the input to the frame drawn, 1920x1080: {summary(times)}")
        everything = steps["zoom"] + steps["pan"] + steps["pinch"]
        print(f"scope view, {name} noise, every step: {summary(everything)}")
        print(f"   of which the page's own, from its handler to the frame drawn: {summary(handled)}; drawing alone: {summary(drawing)}")
finally:
    page.quit()
    server.terminate()
    server.wait()
