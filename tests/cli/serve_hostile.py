#!/usr/bin/python3
"""korvane-cli serve against hostile clients on loopback, the attacker on 127.0.0.2: deep JSON,
idle and dripping connections, 64 pages and one more, decoder names that are Python modules,
pictures and decodes beyond their bounds, HEAD on a kept-alive connection, broken bodies,
a link planted in the save folder, register values, token files and upload names.
    tests/cli/serve_hostile.py path/to/korvane-cli
"""
import json
import os
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time

import websocket  # python3-websocket

CLI = os.path.abspath(sys.argv[1])
WORK = tempfile.mkdtemp(prefix="korvane-hostile-")
TOKEN = "hostile-test-token-0123456789"
with open(CLI, "rb") as binary:
    SANITISED = b"__asan_init" in binary.read()
failures = []


def fail(what):
    print(f"serve_hostile: FAILED: {what}", file=sys.stderr)
    failures.append(what)


def start(*arguments):
    process = subprocess.Popen([CLI, "serve", "--instant", *arguments], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
    line = process.stdout.readline()
    match = re.search(r"http://[^:/]+:(\d+)/", line)
    if not match:
        process.kill()
        sys.exit(f"serve_hostile: the server printed no address: {line!r} {process.stderr.read()}")
    return process, int(match.group(1))


def connect(port, source="127.0.0.1", timeout=10):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.settimeout(timeout)
    s.bind((source, 0))
    s.connect(("127.0.0.1", port))
    return s


def read_response(s, head=False, data=b""):
    """One response from a socket (after data already read): (status, headers, body, what
    follows); the body read by Content-Length, none for HEAD."""
    while b"\r\n\r\n" not in data:
        chunk = s.recv(65536)
        if not chunk:
            raise ConnectionError(f"closed after {data[:200]!r}")
        data += chunk
    header, rest = data.split(b"\r\n\r\n", 1)
    lines = header.decode("latin-1").split("\r\n")
    status = int(lines[0].split()[1])
    headers = {k.strip().lower(): v.strip() for k, v in (line.split(":", 1) for line in lines[1:])}
    length = 0 if head else int(headers.get("content-length", "0"))
    while len(rest) < length:
        chunk = s.recv(65536)
        if not chunk:
            break
        rest += chunk
    return status, headers, rest[:length], rest[length:]


def request(port, method, path, body=b"", headers=None, source="127.0.0.1", token=True):
    s = connect(port, source)
    all_headers = {"Host": f"127.0.0.1:{port}", "Connection": "close"}
    if token:
        all_headers["X-Korvane-Token"] = TOKEN
    if isinstance(body, (dict, list)):
        body = json.dumps(body).encode()
    if body or method == "POST":
        all_headers["Content-Length"] = str(len(body))
    all_headers.update(headers or {})
    message = (f"{method} {path} HTTP/1.1\r\n".encode() +
               "".join(f"{k}: {v}\r\n" for k, v in all_headers.items()).encode() + b"\r\n" + body)

    # Sent while the answer is read, as a browser does: a server that refuses a long body early
    # answers at once and stops reading it, and a client that only sends would miss the answer.
    def send():
        try:
            s.sendall(message)
        except OSError:
            pass
    sender = threading.Thread(target=send)
    sender.start()
    try:
        status, got, data, _ = read_response(s, head=method == "HEAD")
    finally:
        if sender.is_alive():  # the answer came before the whole body went: it goes no further
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        sender.join()
        s.close()
    return status, got, data


def state(port):
    return json.loads(request(port, "GET", "/api/state")[2])


def answered_quickly(port, what, count=5):
    """Requests with the token from 127.0.0.1 each answered within a second."""
    for _ in range(count):
        began = time.monotonic()
        try:
            status = request(port, "GET", "/api/state")[0]
        except (OSError, ConnectionError) as e:
            status = str(e)
        took = time.monotonic() - began
        if status != 200 or took > 1:
            fail(f"{what}: GET /api/state gave {status} after {took:.2f} s")
            return


def rss_kb(process):
    for line in open(f"/proc/{process.pid}/status"):
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


with open(f"{WORK}/token", "w") as token_file:
    token_file.write(TOKEN + "\r\n")
server, port = start("--listen", "0.0.0.0:0", "--token-file", f"{WORK}/token", "--port", "sim:bus",
                     "--request-timeout", "2")
try:
    print("== a token file's line end is not part of the token")
    if request(port, "GET", "/api/state")[0] != 200:
        fail("the token of a CRLF token file was refused")

    print("== deep JSON on every path that reads it")
    for depth in (17, 600, 100000):
        for path, make in (("/api/run", lambda d: '{"settings":' * d + "1" + "}" * d),
                           ("/api/run", lambda d: '{"holdoff":' + "[" * d + "]" * d + "}"),
                           ("/api/io", lambda d: '{"data":' + "[" * d + "]" * d + "}")):
            status, _, data = request(port, "POST", path, make(depth).encode(), {"Content-Type": "application/json"})
            if status != 400 or b"nests deeper" not in data:
                fail(f"a {depth}-deep body on {path} gave {status} {data[:120]!r}")
    if state(port)["taken"] != 0 or state(port)["run"] != "stopped":
        fail("a deep body started a run")

    print("== broken bodies start nothing")
    for name, head, body in (("chunk size zz", "Transfer-Encoding: chunked", b"zz\r\n{}\r\n0\r\n\r\n"),
                             ("chunk size -1", "Transfer-Encoding: chunked", b"-1\r\n{}\r\n0\r\n\r\n"),
                             ("a huge chunk size", "Transfer-Encoding: chunked", b"fffffffffffffffff\r\n{}\r\n0\r\n\r\n"),
                             ("Content-Length: 0x10", "Content-Length: 0x10", b"{}" + b" " * 14)):
        s = connect(port)
        s.sendall(f"POST /api/run HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nX-Korvane-Token: {TOKEN}\r\n{head}\r\n\r\n"
                  .encode() + body)
        status = read_response(s)[0]
        s.close()
        if status != 400:
            fail(f"a POST /api/run with {name} gave {status}")
    if state(port)["run"] != "stopped" or state(port)["taken"] != 0:
        fail("a broken body started a run")

    print("== HEAD sends the headers of GET and no body")
    s = connect(port)
    for path in ("/api/state", "/api/captures/startup.dso"):
        s.sendall(f"HEAD {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nX-Korvane-Token: {TOKEN}\r\n\r\n"
                  f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nX-Korvane-Token: {TOKEN}\r\n\r\n".encode())
        head_status, head_headers, _, extra = read_response(s, head=True)
        if extra and not extra.startswith(b"HTTP/1.1 "):
            fail(f"HEAD {path} sent a body: {extra[:40]!r} follows its headers")
        get_status, get_headers, body, _ = read_response(s, data=extra)
        if (head_status, get_status) != (200, 200) or int(head_headers["content-length"]) != len(body) > 0:
            fail(f"HEAD {path}: {head_status} {head_headers.get('content-length')}; GET: {get_status} {len(body)} bytes")
    s.close()

    print("== register values: a number is a number, a text hexadecimal, the rest refused")
    request(port, "POST", "/api/io", {"control": "0x0b"})  # the data lines driven, so that they read back
    for value, expect in ((90, "0x5a"), ("5a", "0x5a"), ("0x3f", "0x3f"), (0, "0x0")):
        status, _, data = request(port, "POST", "/api/io", {"data": value})
        if status != 200 or json.loads(data)["data"] != expect:
            fail(f"io data {value!r} gave {status} {data[:100]!r}, not {expect}")
    for value in (4294967296, 256, -1, 1.5, True, None, [], "zz", ""):
        status, _, data = request(port, "POST", "/api/io", {"data": value})
        if status != 400:
            fail(f"io data {value!r} gave {status} {data[:100]!r}")
    if request(port, "POST", "/api/io", {"register": 32, "value": 1})[0] != 400:
        fail("a register beyond 0x1f was taken")

    print("== an upload's name is cut and made printable")
    kept = request(port, "GET", "/api/captures/startup.dso")[2]
    name = "\x1b[31m" + "é" * 1200 + "\n"  # as long as the request line allows
    status, _, _ = request(port, "POST", "/api/captures?name=" + "".join(f"%{b:02x}" for b in name.encode()), kept)
    shown = state(port)["captures"][0]["name"] if status == 201 else ""
    if status != 201 or len(shown.encode()) > 255 or any(ord(c) < 32 or ord(c) == 127 for c in shown):
        fail(f"an upload's long name was kept as {len(shown.encode())} bytes: {shown[:40]!r}")

    print("== refused without the token: answered at once, the body never read")
    s = connect(port, "127.0.0.2")
    s.sendall(f"POST /api/run HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nContent-Length: 1000\r\n\r\n{{".encode())
    began = time.monotonic()
    status = read_response(s)[0]
    closed = s.recv(100) == b""
    s.close()
    if status != 403 or not closed or time.monotonic() - began > 1:
        fail(f"a request without the token: {status}, closed {closed}, after {time.monotonic() - began:.2f} s")

    print("== 200 idle and dripping connections from one address")
    # A quarter idle, a quarter dripping a body, a quarter dripping headers, a quarter
    # without the token.
    attackers, dripping, stop_dripping = [], [], threading.Event()
    for i in range(200):
        try:
            s = connect(port, "127.0.0.2", timeout=2)
        except OSError:
            continue
        if i % 4 == 1:
            s.sendall(f"POST /api/run HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nX-Korvane-Token: {TOKEN}\r\n"
                      "Content-Length: 1000\r\n\r\n".encode())
        elif i % 4 == 2:
            s.sendall(b"GET /api/state HTTP/1.1\r\n")
        elif i % 4 == 3:
            s.sendall(f"POST /api/run HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nContent-Length: 1000\r\n\r\n".encode())
        attackers.append(s)
        if i % 4 in (1, 2, 3):
            dripping.append(s)

    def drip():
        while not stop_dripping.wait(0.5):
            for s in dripping:
                try:
                    s.send(b"x")
                except OSError:
                    pass
    dripper = threading.Thread(target=drip)
    dripper.start()
    time.sleep(0.3)
    answered_quickly(port, "with 200 connections from 127.0.0.2", count=10)
    # Past the bound of one address, a connection is told so and closed.
    attackers[150].settimeout(2)
    try:
        data = attackers[150].recv(4096)
        if b" 503 " not in data:
            fail(f"a connection past the bound of one address got {data[:60]!r}")
    except OSError as e:
        fail(f"a connection past the bound of one address got no answer: {e}")
    # Every request must arrive whole within the bound (--request-timeout 2 here).
    time.sleep(2.5)
    still_open = 0
    for s in attackers:
        s.settimeout(0.2)
        try:
            while s.recv(4096):
                pass
        except socket.timeout:
            still_open += 1
        except OSError:
            pass
    if still_open:
        fail(f"{still_open} idle or dripping connections are still open after the request bound")
    stop_dripping.set()
    dripper.join()
    for s in attackers:
        s.close()

    print("== 64 pages watch at once, the 65th is refused and told why")
    def page(source="127.0.0.1"):
        return websocket.create_connection(f"ws://127.0.0.1:{port}/api/live", timeout=10,
                                           header=[f"X-Korvane-Token: {TOKEN}"], socket=connect(port, source))
    pages = [page("127.0.0.2" if i % 2 else "127.0.0.1") for i in range(64)]
    for p in pages:
        if json.loads(p.recv())["type"] != "state":
            fail("a page's first message is not the state")
            break
    extra = page()
    message = json.loads(extra.recv())
    try:
        if extra.recv():
            fail("the 65th page's socket stayed open")
    except websocket.WebSocketException:
        pass
    if message.get("type") != "refused" or "64 pages" not in message.get("error", ""):
        fail(f"the 65th page was told {message}")
    extra.close()
    answered_quickly(port, "with 64 pages open")
    request(port, "POST", "/api/run", {"mode": "single"})
    told = 0
    for p in pages:
        try:
            while json.loads(p.recv()).get("type") != "capture":
                pass
            told += 1
        except websocket.WebSocketException:
            pass
    if told != 64:
        fail(f"{told} of 64 pages heard of the new capture")
    for p in pages:
        p.close()

    print("== decoder names: only the library's own decoders are loaded")
    deadline = time.time() + 60  # the server loads every decoder once, at its start
    while time.time() < deadline and request(port, "GET", "/api/decoders")[0] != 200:
        time.sleep(0.2)
    request(port, "POST", "/api/run", {"mode": "single", "settings": {"mode": "logic16", "trigger": "none"}})
    deadline = time.time() + 20
    while time.time() < deadline and state(port)["taken"] < 2:
        time.sleep(0.05)
    maps_before = open(f"/proc/{server.pid}/maps").read()
    rss_before = rss_kb(server)
    for module in ("this", "antigravity", "tkinter", "ctypes", "sqlite3", "os", "../uart", "uart/pd"):
        for path in (f"/api/decoders/{module}", f"/api/captures/latest/decode?P={module}",
                     f"/api/captures/latest/rows?P={module}&size=800x600"):
            status, _, data = request(port, "GET", path)
            if status not in (400, 404, 422) or f"no decoder named '{module}'".encode() not in data:
                fail(f"GET {path} gave {status} {data[:120]!r}")
    maps_after = open(f"/proc/{server.pid}/maps").read()
    for library in ("tkinter", "_tkinter", "libtk", "_sqlite3", "libsqlite3", "_ctypes", "libffi"):
        if library in maps_after and library not in maps_before:
            fail(f"a decoder name loaded {library} into the server")
    # (A sanitised build keeps freed memory in quarantine for a while: its resident size says
    # nothing of what is kept for good.)
    if not SANITISED and rss_kb(server) > rss_before + 8 * 1024:
        fail(f"decoder names grew the server from {rss_before} to {rss_kb(server)} kB")

    print("== pictures, rows and decodes keep their bounds")
    capture = "/api/captures/latest"
    for path in (f"{capture}/view?size=32767x400", f"{capture}.png?size=20000x20000",
                 f"{capture}/rows?size=8000x4000&" + "&".join(f"P=uart:rx=D{i % 16}" for i in range(16)),
                 f"{capture}/rows?size=800x600&" + "&".join("P=uart:rx=D0" for _ in range(17)),
                 f"{capture}/decode?P=uart:rx=D0&" + "&".join("A=uart" for _ in range(65))):
        status, _, data = request(port, "GET", path)
        if status != 400:
            fail(f"GET {path[:90]} gave {status} {data[:100]!r}")
    # Decodes wait in a bounded queue; meanwhile the state and the view are answered.
    heavy = f"{capture}/decode?" + "&".join(f"P=uart:rx=D{i}:baudrate={9600 + i}" for i in range(16))
    results = []
    def decode_once(n):
        results.append(request(port, "GET", f"{heavy}&range=0:{300000 + n}")[0])
    decoders = [threading.Thread(target=decode_once, args=(n,)) for n in range(12)]
    for t in decoders:
        t.start()
    time.sleep(0.3)
    answered_quickly(port, "with 12 decodes asked for")
    began = time.monotonic()
    if request(port, "GET", f"{capture}/view?size=800x600")[0] != 200 or time.monotonic() - began > 1:
        fail(f"the view waited {time.monotonic() - began:.2f} s behind the decodes")
    for t in decoders:
        t.join()
    if 503 not in results or 200 not in results:
        fail(f"12 heavy decodes at once gave {sorted(results)}")
    status, headers, _ = request(port, "GET", heavy)
    if status != 200 and status != 503:
        fail(f"a decode after the others gave {status}")
finally:
    server.terminate()
    if server.wait(timeout=20) != 0:
        fail(f"the server ended with {server.returncode}")
    errors = server.stderr.read()
    if "Beautiful is better than ugly" in errors or "Traceback" in errors:
        fail(f"the server's output shows what a decoder name imported: {errors[-300:]!r}")

print("== token files that cannot work are refused at the start")
for token, reason in (("short-token", "shorter than 16"), ("a;b&c#d 0123456789abcdef", "letters, digits")):
    open(f"{WORK}/bad", "w").write(token + "\n")
    done = subprocess.run([CLI, "serve", "--listen", "0.0.0.0:0", "--token-file", f"{WORK}/bad"],
                          capture_output=True, text=True, timeout=20)
    if done.returncode != 2 or reason not in done.stderr:
        fail(f"the token {token!r} gave {done.returncode}: {done.stderr.strip()[:200]}")

print("== the save folder: a planted link is skipped, numbers never overflow")
saved = f"{WORK}/saved"
os.mkdir(saved)
open(f"{saved}/korvane-2147483647.dso", "w").close()
outside = f"{WORK}/outside.txt"
open(outside, "w").write("kept\n")
server, port = start("--listen", "127.0.0.1:0", "--save-dir", saved)
try:
    os.symlink(outside, f"{saved}/korvane-2147483648.dso")
    request(port, "POST", "/api/run", {"mode": "single"}, token=False)
    deadline = time.time() + 20
    while time.time() < deadline and json.loads(request(port, "GET", "/api/state", token=False)[2])["taken"] < 1:
        time.sleep(0.05)
    kept = request(port, "GET", "/api/captures/latest.dso", token=False)[2]
    if open(outside).read() != "kept\n":
        fail("the capture was written through the planted link")
    written = f"{saved}/korvane-2147483649.dso"
    if not os.path.isfile(written) or os.path.islink(written) or open(written, "rb").read() != kept:
        fail(f"the save folder holds {sorted(os.listdir(saved))}")
finally:
    server.terminate()
    server.wait(timeout=20)
    if "korvane-2147483648.dso" not in server.stderr.read():
        fail("the planted name was skipped without a warning")
open(f"{saved}/korvane-999999999999999999.dso", "w").close()
done = subprocess.run([CLI, "serve", "--listen", "127.0.0.1:0", "--save-dir", saved], capture_output=True, text=True,
                      timeout=20)
if done.returncode != 5 or "run out" not in done.stderr:
    fail(f"a folder whose numbers ran out gave {done.returncode}: {done.stderr.strip()[:200]}")

subprocess.run(["rm", "-rf", WORK])
if failures:
    sys.exit(f"serve_hostile: {len(failures)} failure(s)")
print("serve_hostile: passed")
