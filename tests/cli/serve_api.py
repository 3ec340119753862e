#!/usr/bin/python3
"""korvane-cli serve through its HTTP API and WebSocket, on the simulated device: runs of every
mode, downloads byte for byte as export and render write them (and gzip on the wire), refusals,
uploads, the port registers, the live state, the draft settings and the channel settings every
page shares, autoset, and the checks of token, Host and Origin.
    tests/cli/serve_api.py path/to/korvane-cli
"""
import gzip
import http.client
import json
import os
import re
import subprocess
import sys
import struct
import tempfile
import time
import zipfile

import websocket  # python3-websocket

CLI = os.path.abspath(sys.argv[1])
WORK = tempfile.mkdtemp(prefix="korvane-serve-")
# The channel settings of the user who runs the tests are not these tests' to read or change.
ENV = dict(os.environ, SOURCE_DATE_EPOCH="1700000000", XDG_CONFIG_HOME=f"{WORK}/config")
failures = []


def fail(what):
    print(f"serve_api: FAILED: {what}", file=sys.stderr)
    failures.append(what)


def start(*arguments):
    """Starts a server on a free port; returns the process, its port and the URL it printed."""
    process = subprocess.Popen([CLI, "serve", "--instant", *arguments], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True, env=ENV)
    line = process.stdout.readline()
    match = re.search(r"http://[^:/]+:(\d+)/(\S*)", line)
    if not match:
        process.kill()
        sys.exit(f"serve_api: the server printed no address: {line!r} {process.stderr.read()}")
    return process, int(match.group(1)), line.strip()


def request(port, method, path, body=None, headers=None, host=None):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=20)
    all_headers = {"Host": host or f"127.0.0.1:{port}"}
    if isinstance(body, (dict, list)):
        body = json.dumps(body).encode()
        all_headers["Content-Type"] = "application/json"
    all_headers.update(headers or {})
    connection.request(method, path, body=body, headers=all_headers)
    response = connection.getresponse()
    data = response.read()
    connection.close()
    return response.status, data, dict(response.getheaders())


def state(port):
    return json.loads(request(port, "GET", "/api/state")[1])


def wait_for(port, condition, what, seconds=20):
    deadline = time.time() + seconds
    while time.time() < deadline:
        s = state(port)
        if condition(s):
            return s
        time.sleep(0.05)
    fail(f"{what}: the state never got there: {json.dumps(state(port))[:300]}")
    return state(port)


def cli(*arguments, check=True):
    done = subprocess.run([CLI, *arguments], capture_output=True, env=ENV)
    if check and done.returncode != 0:
        fail(f"korvane-cli {' '.join(arguments)}: {done.stderr.decode()[:300]}")
    return done


server, port, url = start("--listen", "127.0.0.1:0", "--compress", "always")
try:
    print("== the live state, and a Single capture with its downloads")
    socket = websocket.create_connection(f"ws://127.0.0.1:{port}/api/live", timeout=20)
    first = json.loads(socket.recv())
    if first.get("type") != "state" or first["state"]["run"] != "stopped":
        fail(f"the WebSocket's first message: {first}")
    status, _, _ = request(port, "POST", "/api/run",
                           {"mode": "single", "settings": {"mode": "dual", "trigger": "a", "level": 40}})
    if status != 200:
        fail(f"POST /api/run: {status}")
    s = wait_for(port, lambda s: s["taken"] == 1 and s["run"] == "stopped", "a Single capture")
    seen = []
    while not any(m.get("type") == "capture" for m in seen):
        seen.append(json.loads(socket.recv()))
    if [m["id"] for m in seen if m.get("type") == "capture"] != [s["latest"]]:
        fail(f"the WebSocket did not say a new capture exists: {seen}")
    socket.close()

    capture = f"{WORK}/single.dso"
    status, data, _ = request(port, "GET", "/api/captures/latest.dso")
    open(capture, "wb").write(data)
    if status != 200 or len(data) != 786448:
        fail(f"latest.dso: {status}, {len(data)} bytes")
    info = json.loads(cli("info", "--json", capture).stdout)
    if info["trigger"]["level"] != 40 or abs(info["analogue"][0]["frequency_hz"] - 1000) > 5:
        fail(f"info of the downloaded capture: {info['trigger']}, {info['analogue'][0]['frequency_hz']}")
    measured = json.loads(request(port, "GET", f"/api/captures/{s['latest']}/measurements")[1])
    if measured["analogue"] != info["analogue"] or measured["logic"] != info["logic"]:
        fail("the measurements differ from info --json")

    # The spectrum: the API's figures, peaks and levels are those of spectrum --json --levels.
    status, data, _ = request(port, "GET", f"/api/captures/{s['latest']}/spectrum?window=hann&peaks=3&range=0:65535")
    given = json.loads(cli("spectrum", "--json", "--levels", "--window", "hann", "--peaks", "3", "--range", "0:65535",
                           capture).stdout)
    shown = json.loads(data) if status == 200 else {}
    if status != 200 or [shown.get(k) for k in ("figures", "peaks", "levels")] != [given[k] for k in ("figures", "peaks", "levels")]:
        fail(f"the spectrum differs from spectrum --json ({status}, {data[:200]})")
    # Two more captures of the same settings: the power average of the three, and no more than asked for.
    for taken in (2, 3):
        request(port, "POST", "/api/run", {"mode": "single", "settings": {"mode": "dual", "trigger": "a", "level": 40}})
        t = wait_for(port, lambda t, n=taken: t["taken"] == n and t["run"] == "stopped", "another Single capture")
    for average, want in (("4", 3), ("2", 2), ("1", 1)):
        answer = json.loads(request(port, "GET", f"/api/captures/{t['latest']}/spectrum?levels=0&average={average}")[1])
        if answer.get("averaged") != want or not answer.get("figures", {}).get("fundamental"):
            fail(f"spectrum?average={average}: {str(answer)[:200]}")
    for query, want in [("spectrum?window=kaiser", (400, "window")), ("spectrum?peaks=1000", (400, "peaks")),
                        ("spectrum?average=33", (400, "average")),
                        ("measurements?math=A%2BC", (400, "math")),
                        ("measurements?math=A-B", (200, None) if info["mode"] == "dual" else (422, None))]:
        status, data, _ = request(port, "GET", f"/api/captures/{s['latest']}/{query}")
        answer = json.loads(data)
        if status != want[0] or answer.get("field") != want[1] or (status == 200 and answer["math"]["expression"] != "A-B"):
            fail(f"{query}: {status} {data[:200]}, expected {want}")

    for query, export in [(".csv", ["-o", f"{WORK}/x.csv"]),
                          (".vcd?channels=A&range=100:5000", ["-o", f"{WORK}/x.vcd", "--channels", "A", "--range", "100:5000"]),
                          (".wav", ["-o", f"{WORK}/x.wav"]),
                          (".sr", ["-o", f"{WORK}/x.sr"])]:
        status, data, _ = request(port, "GET", f"/api/captures/{s['latest']}{query}")
        cli("export", capture, *export)
        if status != 200 or data != open(export[1], "rb").read():
            fail(f"{query} is not the bytes of korvane-cli export ({status}, {len(data)} bytes)")
    for query, render in [(".png?size=640x480&range=1000:90000", ["--size", "640x480", "--range", "1000:90000"]),
                          (".svg?time_axis=1&trigger_level=0", ["--time-axis", "--no-trigger-level"])]:
        name = f"{WORK}/x{query[:4]}"
        status, data, headers = request(port, "GET", f"/api/captures/{s['latest']}{query}")
        cli("render", capture, "-o", name, *render)
        if status != 200 or data != open(name, "rb").read():
            fail(f"{query} is not the bytes of korvane-cli render ({status})")
    status, _, headers = request(port, "GET", f"/api/captures/{s['latest']}.png?range=1000:90000&step=zoom_in")
    if headers.get("X-Korvane-Range") != "18800:72200":
        fail(f"a zoom step from 1000:90000 shows {headers.get('X-Korvane-Range')}")

    print("== refusals of settings in the page's words, naming their field, as the command line refuses them")
    for settings, field, words, option, said in (
            ({"trigger": "a", "level": 40.5}, "level", "Level: '40.5' is not a whole number; give one in -126..127",
             ["--trigger", "a", "--level", "40.5"], "'40.5' is not a whole number; give one in -126..127"),
            ({"trigger": "a", "level": 200}, "level", "Level: 200 is not in -126..127", None, None),
            ({"trigger": "none", "pretrigger": 10}, "pretrigger", "Pre-trigger must be 0 with no trigger",
             ["--trigger", "none", "--pretrigger", "10"],
             "a capture with --trigger none keeps no samples from before its trigger; leave --pretrigger at 0"),
            ({"mode": "logic16", "trigger": "a", "level": 3}, "level", "A logic trigger has no level: it takes a pattern",
             ["--mode", "logic16", "--trigger", "a", "--level", "3"],
             "a level belongs to an analogue trigger source (none here); a logic trigger takes --pattern")):
        for method, path, body in (("POST", "/api/run", {"mode": "single", "settings": settings}),
                                   ("PUT", "/api/settings", settings)):
            status, data, _ = request(port, method, path, body)
            answer = json.loads(data)
            if status != 400 or answer.get("error") != words or answer.get("field") != field:
                fail(f"the settings {settings} to {path}: {status} {answer}")
        if option:  # the command line's refusal of the same, in its own words
            refused = cli("capture", *option, "-o", f"{WORK}/no.dso", check=False).stderr.decode()
            if f"--{field}: {said}" not in refused:
                fail(f"the command line refuses {option} as {refused!r}, not --{field}: {said}")

    print("== the draft: edited in one page, in every page's state; a refusal leaves it")
    status, data, _ = request(port, "PUT", "/api/settings", {"mode": "dual", "trigger": "b", "level": -20, "pretrigger": 500})
    draft = json.loads(data).get("draft")
    seen = state(port)  # another client
    if status != 200 or seen["draft"] != draft or (draft["trigger"], draft["level"], draft["pretrigger"]) != ("b", -20, 500):
        fail(f"PUT /api/settings gave {status} {data[:200]!r}; another client sees {seen.get('draft')}")
    if seen["settings"] == draft:
        fail("the draft became the settings of the last run")
    status, _, _ = request(port, "PUT", "/api/settings", dict(draft, pretrigger=600))  # the state's own form back
    if status != 200 or state(port)["draft"]["pretrigger"] != 600:
        fail(f"the draft as the state holds it, with another pre-trigger, was refused ({status})")
    request(port, "PUT", "/api/settings", {"trigger": "none", "pretrigger": 10})
    if state(port)["draft"]["trigger"] != "b":
        fail("a refused draft changed the draft")

    print("== downloads in gzip where the client takes it")
    plain = request(port, "GET", f"/api/captures/{s['latest']}.dso")[1]
    for accept, packed in (("gzip, deflate, br", True), ("br;q=1.0, gzip;q=0.5", True), ("gzip;q=0", False),
                           ("identity", False), ("*", True)):
        status, data, headers = request(port, "GET", f"/api/captures/{s['latest']}.dso",
                                        headers={"Accept-Encoding": accept})
        got = gzip.decompress(data) if headers.get("Content-Encoding") == "gzip" else data
        if status != 200 or got != plain or (headers.get("Content-Encoding") == "gzip") != packed or \
                "Accept-Encoding" not in headers.get("Vary", ""):
            fail(f"Accept-Encoding {accept!r}: {status}, {headers.get('Content-Encoding')}, {len(data)} bytes")
        if accept == "gzip, deflate, br":
            head = request(port, "HEAD", f"/api/captures/{s['latest']}.dso", headers={"Accept-Encoding": accept})[2]
            if (head.get("Content-Length"), head.get("Content-Encoding")) != (str(len(data)), "gzip"):
                fail(f"HEAD's headers differ from GET's: {head}")
    status, data, headers = request(port, "GET", f"/api/captures/{s['latest']}.vcd?channels=A&range=100:5000",
                                    headers={"Accept-Encoding": "gzip"})
    if headers.get("Content-Encoding") != "gzip" or gzip.decompress(data) != open(f"{WORK}/x.vcd", "rb").read():
        fail(f"a gzip .vcd is not export's bytes ({headers.get('Content-Encoding')})")

    print("== autoset on the simulated signals: channel A's 1 kHz, triggered at its middle")
    before = state(port)["draft"]
    status, data, _ = request(port, "POST", "/api/autoset")
    answer = json.loads(data)
    found, proposed = answer.get("found", {}), answer.get("draft", {})
    if status != 200 or found.get("channel") != "A" or not 950 < found.get("frequency", 0) < 1050 or \
            not found["low"] + 20 < found["level"] < found["high"] - 20 or answer["previous"] != before:
        fail(f"autoset: {status} {answer}")
    elif (proposed["trigger"], proposed["edge"], proposed["level"]) != ("a", "rising", found["level"] - 127) or \
            state(port)["draft"] != proposed:
        fail(f"autoset's draft: {proposed}, the state's {state(port)['draft']}")
    status, data, _ = request(port, "POST", "/api/autoset", {"channel": "B"})
    if status != 200 or json.loads(data)["found"]["channel"] != "B" or json.loads(data)["draft"]["trigger"] != "b":
        fail(f"autoset on channel B: {status} {data[:200]!r}")
    if request(port, "POST", "/api/autoset", {"channel": "C"})[0] != 400:
        fail("autoset took channel C")
    # A run with a proposal of autoset's captures with it.
    taken = state(port)["taken"]
    if request(port, "POST", "/api/run", {"mode": "single", "settings": proposed})[0] != 200:
        fail(f"a run with autoset's draft as the state gives it was refused")
    wait_for(port, lambda s: s["run"] == "stopped" and s["taken"] > taken, "autoset's run")
    shown = json.loads(request(port, "GET", "/api/captures/latest/measurements")[1])
    if shown["trigger"]["source"] != "a" or shown["analogue"][0]["whole_periods"] < 2:
        fail(f"the capture with autoset's settings: {shown['trigger']}, {shown['analogue'][0]['whole_periods']} periods")

    print("== channel settings: defaults, a change every page gets, refusals naming their field")
    channels = json.loads(request(port, "GET", "/api/channels")[1])
    if [c["id"] for c in channels["analogue"]] != ["A", "B"] or len(channels["logic"]) != 16 or \
            channels["analogue"][0]["volts_per_code"] is not None or state(port)["channels"] != channels:
        fail(f"the default channel settings: {json.dumps(channels)[:200]}")
    channels["analogue"][0].update(volts_per_code=0.02, probe=10, label="Out", colour="#112233")
    channels["logic"][6]["label"] = "SCL"
    status, data, _ = request(port, "PUT", "/api/channels", channels)
    if status != 200 or json.loads(data) != channels or state(port)["channels"] != channels:
        fail(f"PUT /api/channels: {status} {data[:200]!r}")
    shown = json.loads(request(port, "GET", "/api/captures/latest/measurements")[1])["analogue"][0]
    if abs(shown.get("scaled", {}).get("max", 0) - (shown["codes"]["max"] - 128) * 0.2) > 1e-9:
        fail(f"the measurements in volts: {shown.get('scaled')}")
    status, data, _ = request(port, "PUT", "/api/channels", {"analogue": [{}, {"colour": "#12"}]})
    if status != 400 or json.loads(data).get("field") != "analogue.1.colour" or state(port)["channels"] != channels:
        fail(f"a colour of 2 digits: {status} {data[:200]!r}")
    for path, wanted in [("/api/captures/999.dso", 404), ("/api/captures/latest.exe", 404), ("/etc/passwd", 404),
                         (f"/api/captures/{s['latest']}.png?size=10x10", 400)]:
        if request(port, "GET", path)[0] != wanted:
            fail(f"{path} did not give {wanted}")

    print("== Normal reaches three captures, Stop ends it; Auto takes untriggered captures")
    before = state(port)["taken"]
    request(port, "POST", "/api/run", {"mode": "normal", "settings": {"mode": "logic16", "trigger": "a", "pattern": "0x10"}})
    wait_for(port, lambda s: s["taken"] >= before + 3, "Normal")
    request(port, "POST", "/api/stop")
    s = wait_for(port, lambda s: s["run"] == "stopped", "Stop")
    if not all(c["mode"] == "logic16" and c["triggered"] for c in s["captures"][:3]):
        fail(f"Normal's captures: {s['captures'][:3]}")
    request(port, "POST", "/api/run", {"mode": "auto", "holdoff": 0.2, "settings": {"trigger": "a", "level": 127}})
    s = wait_for(port, lambda s: s["run_taken"] >= 2, "Auto with a trigger that never comes")
    if any(c["triggered"] for c in s["captures"][:2]):
        fail(f"Auto's captures without a trigger are marked triggered: {s['captures'][:2]}")
    if request(port, "GET", "/api/io")[0] != 409:
        fail("the port registers were given out during a run")
    request(port, "POST", "/api/stop")
    wait_for(port, lambda s: s["run"] == "stopped", "Stop of Auto")

    print("== Stop when: a condition that cannot be read is refused with its place; one that holds stops the run")
    taken = state(port)["taken"]
    status, data, _ = request(port, "POST", "/api/run", {"mode": "normal", "stop_when": "B.frequency >> 2",
                                                         "settings": {"trigger": "a", "level": 40}})
    refusal = json.loads(data)
    if status != 400 or refusal.get("field") != "stop_when" or refusal.get("at") != 14 or "at character 14" not in refusal["error"]:
        fail(f"a condition with a stray '>': {status} {data[:300]!r}")
    for condition, at in (("M.rms > 20", 1), ("A.frequency > 1 or decode uart:rx=D0 rx-data /x/", 27)):
        status, data, _ = request(port, "POST", "/api/run", {"mode": "normal", "stop_when": condition, "settings": {}})
        if status != 400 or json.loads(data).get("at") != at:
            fail(f"{condition!r} in Dual Channel: {status} {data[:300]!r}")
    if state(port)["taken"] != taken or state(port)["run"] != "stopped":
        fail("a refused condition started a run")
    status, data, _ = request(port, "POST", "/api/run", {"mode": "normal", "stop_when": "M.rms > 20", "math": "A-Z"})
    if status != 400 or json.loads(data).get("field") != "math":
        fail(f"a math channel that is none: {status} {data[:300]!r}")
    request(port, "POST", "/api/statistics/reset")
    request(port, "POST", "/api/run", {"mode": "normal", "stop_when": "M.rms > 20", "math": "A-B",
                                       "settings": {"trigger": "a", "level": 40}})
    s = wait_for(port, lambda s: s["run"] == "stopped", "a run stopped by the math channel")
    if (s["stopped_by"] or {}).get("condition") != "M.rms > 20" or s["run_taken"] != 1:
        fail(f"a condition on M = A-B: {s['run_taken']} {s['stopped_by']}")
    request(port, "POST", "/api/statistics/reset")
    request(port, "POST", "/api/run", {"mode": "normal", "stop_when": "A.peak_to_peak < 100 or B.frequency > 2400",
                                       "settings": {"trigger": "a", "level": 40}})
    s = wait_for(port, lambda s: s["run"] == "stopped", "a run with a condition that holds")
    stopped = s["stopped_by"] or {}
    if s["run_taken"] != 1 or stopped.get("condition") != "B.frequency > 2400" or stopped.get("capture") != s["latest"]:
        fail(f"what stopped the run: {s['run_taken']} {stopped}")
    statistics = json.loads(request(port, "GET", "/api/statistics")[1])
    frequency = [f for f in statistics["figures"] if f["name"] == "B.frequency"]
    if statistics["captures"] != 1 or not frequency or abs(frequency[0]["mean"] - 2500) > 5:
        fail(f"the statistics of that run: {json.dumps(statistics)[:300]}")

    status, data, _ = request(port, "GET", f"/api/captures/{s['latest']}/linearity?channel=B")
    b = json.loads(data)["channels"][0]["whole"] if status == 200 else {}
    if b.get("signal") != "triangle" or b.get("missing_codes") != [] or abs(b["worst_dnl"]["lsb"]) > 0.05:
        fail(f"the linearity of B: {status} {data[:300]!r}")
    if request(port, "GET", f"/api/captures/{s['latest']}/linearity?signal=square")[0] != 400:
        fail("a signal that is neither sine nor triangle was taken")

    print("== uploads and the port registers")
    status, data, _ = request(port, "POST", "/api/captures?name=single.dso", open(capture, "rb").read())
    if status != 201 or request(port, "GET", f"/api/captures/{json.loads(data)['id']}.dso")[1] != open(capture, "rb").read():
        fail(f"an upload: {status} {data[:100]}")
    damaged = bytearray(open(capture, "rb").read())
    damaged[13] = 54
    status, data, _ = request(port, "POST", "/api/captures", bytes(damaged))
    if status != 400 or b"mode 54" not in data:
        fail(f"a damaged upload: {status} {data[:200]}")
    if request(port, "POST", "/api/captures", b"short")[0] != 400:
        fail("a short upload was taken")
    status, data, _ = request(port, "POST", "/api/io", {"register": "3", "value": "0x10"})
    if status != 200 or set(json.loads(data)) != {"data", "status", "control"}:
        fail(f"POST /api/io: {status} {data[:100]}")
    if request(port, "POST", "/api/io", {"data": "0x1ff"})[0] != 400:
        fail("a data value of 9 bits was taken")

    print("== Host and Origin")
    if request(port, "GET", "/api/state", host="attacker.example:80")[0] != 403:
        fail("a foreign Host was answered")
    if request(port, "POST", "/api/stop", headers={"Origin": "http://attacker.example"})[0] != 403:
        fail("a foreign Origin was taken")
    if request(port, "POST", "/api/stop", headers={"Origin": f"http://127.0.0.1:{port}"})[0] != 200:
        fail("the page's own Origin was refused")
finally:
    server.terminate()
    if server.wait(timeout=10) != 0:
        fail(f"the server ended with {server.returncode} after SIGTERM")

print("== the access token on another address")
token_file = f"{WORK}/token"
open(token_file, "w").write("0123456789abcdef0123\n")
saved = f"{WORK}/saved"
os.mkdir(saved)
server, port, url = start("--listen", "0.0.0.0:0", "--token-file", token_file, "--save-dir", saved)
try:
    if "?token=0123456789abcdef0123" not in url:
        fail(f"the URL carries no token: {url}")
    if request(port, "GET", "/api/state")[0] != 403 or request(port, "GET", "/api/state?token=wrong")[0] != 403:
        fail("a request without the token was answered")
    status, _, headers = request(port, "GET", "/?token=0123456789abcdef0123")
    cookie = headers.get("Set-Cookie", "").split(";")[0]
    if status != 303 or not cookie:
        fail(f"the token URL gave {status} and no cookie")
    if request(port, "GET", "/api/state", headers={"Cookie": cookie})[0] != 200:
        fail("the token's cookie was refused")
    if request(port, "POST", "/api/run", {"mode": "single"})[0] != 403:
        fail("a run was started without the token")
    # With the token, a capture, which --save-dir keeps.
    token = {"X-Korvane-Token": "0123456789abcdef0123"}
    request(port, "POST", "/api/run", {"mode": "single"}, headers=token)
    deadline = time.time() + 20
    while time.time() < deadline and json.loads(request(port, "GET", "/api/state", headers=token)[1])["taken"] < 1:
        time.sleep(0.05)
    kept = sorted(os.listdir(saved))
    latest = request(port, "GET", "/api/captures/latest.dso", headers=token)[1]
    if kept != ["korvane-000001.dso"] or open(f"{saved}/{kept[0]}", "rb").read() != latest:
        fail(f"--save-dir holds {kept}")
    try:
        websocket.create_connection(f"ws://127.0.0.1:{port}/api/live", timeout=5).close()
        fail("the WebSocket opened without the token")
    except websocket.WebSocketBadStatusException:
        pass
finally:
    server.terminate()
    server.wait(timeout=10)

print("== a port that fails: its error on the page, the server still up")
server, port, _ = start("--listen", "127.0.0.1:0", "--port", "sim:unplugged")
try:
    request(port, "POST", "/api/run", {"mode": "normal", "settings": {"trigger": "none"}})
    s = wait_for(port, lambda s: s["error"] is not None and s["run"] == "stopped", "the port's error")
    if s and (s["error"]["code"], s["error"]["text"]) != (14, '"Start_Point" Not Valid, Check Cable'):
        fail(f"the port's error reads {s['error']}")
    kept = open(f"{WORK}/single.dso", "rb").read()
    status, data, _ = request(port, "POST", "/api/captures?name=kept.dso", kept)
    if status != 201 or request(port, "GET", "/api/captures/latest.dso")[1] != kept:
        fail(f"after the port's failure an upload gave {status} {data[:80]!r}")
    # A client on this machine gets the bytes as they are: packing them would cost more than sending.
    headers = request(port, "GET", "/api/captures/latest.dso", headers={"Accept-Encoding": "gzip"})[2]
    if "Content-Encoding" in headers:
        fail(f"a download to this machine went as {headers['Content-Encoding']}")
finally:
    server.terminate()
    server.wait(timeout=10)

print("== the channel settings' file: kept across a restart; a damaged one warned of and left alone")
config = f"{WORK}/channels.json"
wanted = None
for attempt in range(2):
    server, port, _ = start("--listen", "127.0.0.1:0", "--config", config)
    try:
        channels = json.loads(request(port, "GET", "/api/channels")[1])
        if attempt == 0:
            channels["analogue"][1].update(volts_per_code=0.5, unit="mA", position=-2)
            channels["logic"][0]["label"] = "SDA"
            status, data, _ = request(port, "PUT", "/api/channels", channels)
            wanted = json.loads(data)
        elif channels != wanted:
            fail(f"after a restart the channel settings are {json.dumps(channels)[:300]}")
    finally:
        server.terminate()
        server.wait(timeout=10)
open(config, "w").write('{"analogue": [{"probe": 3}]}')
server, port, _ = start("--listen", "127.0.0.1:0", "--config", config)
try:
    channels = json.loads(request(port, "GET", "/api/channels")[1])
finally:
    server.terminate()
    said = server.communicate(timeout=10)[1]
if channels["analogue"][0]["probe"] != 1 or "analogue.0.probe" not in said or \
        open(config).read() != '{"analogue": [{"probe": 3}]}':
    fail(f"a damaged settings file: {channels['analogue'][0]}, the server said {said!r}")

print("== info and export in volts with --channels-config")
scales = f"{WORK}/scales.json"
open(scales, "w").write('{"analogue": [{"id": "A", "volts_per_code": 0.02, "probe": 10, "unit": "V"}]}')
codes = open(capture, "rb").read()[14:14 + 0x60000]  # channel A of the Dual capture
info = json.loads(cli("info", "--json", "--channels-config", scales, capture).stdout)
if abs(info["analogue"][0]["scaled"]["min"] - (min(codes) - 128) * 0.2) > 1e-9 or "scaled" in info["analogue"][1]:
    fail(f"info in volts: {info['analogue'][0].get('scaled')}")
if "  min " not in cli("info", "--channels-config", scales, capture).stdout.decode() or \
        cli("info", "--channels-config", f"{WORK}/none.json", capture, check=False).returncode != 5:
    fail("info --channels-config in words, or of a missing file")
cli("export", capture, "-o", f"{WORK}/volts.vcd", "--channels", "A", "--channels-config", scales)
first = re.search(r"\$dumpvars\nr(\S+) ", open(f"{WORK}/volts.vcd").read())
if not first or first.group(1) != "%.9g" % ((codes[0] - 128) * 0.02 * 10):
    fail(f"the VCD's first value of A is {first and first.group(1)}, not {(codes[0] - 128) * 0.2} V")
cli("export", capture, "-o", f"{WORK}/volts.sr", "--channels-config", scales)
with zipfile.ZipFile(f"{WORK}/volts.sr") as session:
    values = struct.unpack("<2f", session.read("analog-1-1-1")[:8])
    other = struct.unpack("<f", session.read("analog-1-2-1")[:4])[0]
if values != tuple(struct.unpack("<f", struct.pack("<f", (c - 128) * 0.2))[0] for c in codes[:2]) or \
        other != open(capture, "rb").read()[14 + 0x60000] - 128:
    fail(f"the .sr values of A are {values}, of B {other}")

subprocess.run(["rm", "-rf", WORK])
if failures:
    sys.exit(f"serve_api: {len(failures)} failure(s)")
print("serve_api: passed")
