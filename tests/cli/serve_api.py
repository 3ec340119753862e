#!/usr/bin/python3
"""korvane-cli serve through its HTTP API and WebSocket, on the simulated device: runs of every
mode, downloads byte for byte as export and render write them, refusals, uploads, the port
registers, the live state, and the checks of token, Host and Origin.
    tests/cli/serve_api.py path/to/korvane-cli
"""
import http.client
import json
import os
import re
import subprocess
import sys
import tempfile
import time

import websocket  # python3-websocket

CLI = os.path.abspath(sys.argv[1])
WORK = tempfile.mkdtemp(prefix="korvane-serve-")
ENV = dict(os.environ, SOURCE_DATE_EPOCH="1700000000")
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


server, port, url = start("--listen", "127.0.0.1:0")
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
    for settings, field, words, option in (
            ({"trigger": "a", "level": 40.5}, "level", "Level: '40.5' is not a whole number; give one in -126..127",
             ["--trigger", "a", "--level", "40.5"]),
            ({"trigger": "a", "level": 200}, "level", "Level: 200 is not in -126..127", None),
            ({"trigger": "none", "pretrigger": 10}, "pretrigger",
             "Pre-trigger: a capture with Trigger none keeps no samples from before its trigger; leave Pre-trigger at 0",
             ["--trigger", "none", "--pretrigger", "10"]),
            ({"mode": "logic16", "trigger": "a", "level": 3}, "level",
             "Level: a level belongs to an analogue trigger source (none here); a logic trigger takes Pattern",
             ["--mode", "logic16", "--trigger", "a", "--level", "3"])):
        status, data, _ = request(port, "POST", "/api/run", {"mode": "single", "settings": settings})
        answer = json.loads(data)
        if status != 400 or answer.get("error") != words or answer.get("field") != field:
            fail(f"the settings {settings}: {status} {answer}")
        if option:  # the command line's refusal of the same, in its own words
            refused = cli("capture", *option, "-o", f"{WORK}/no.dso", check=False).stderr.decode()
            said = words.split(": ", 1)[1].replace("Trigger none", "--trigger none").replace("Pre-trigger", "--pretrigger")
            said = said.replace("takes Pattern", "takes --pattern")
            if f"--{field}: {said}" not in refused:
                fail(f"the command line refuses {option} as {refused!r}, not --{field}: {said}")
    for path, wanted in [("/api/captures/999.dso", 404), ("/api/captures/latest.exe", 404), ("/etc/passwd", 404),
                         (f"/api/captures/{s['latest']}.png?size=10x10", 400)]:
        if request(port, "GET", path)[0] != wanted:
            fail(f"{path} did not give {wanted}")

    print("== Normal reaches three captures, Stop ends it; Auto takes untriggered captures")
    request(port, "POST", "/api/run", {"mode": "normal", "settings": {"mode": "logic16", "trigger": "a", "pattern": "0x10"}})
    wait_for(port, lambda s: s["taken"] >= 4, "Normal")
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
finally:
    server.terminate()
    server.wait(timeout=10)

subprocess.run(["rm", "-rf", WORK])
if failures:
    sys.exit(f"serve_api: {len(failures)} failure(s)")
print("serve_api: passed")
