#!/usr/bin/python3
"""The instrument's page in a real browser (Debian's headless Chromium through Selenium), against
korvane-cli serve on the simulated device: the Window view equals korvane-cli render pixel for pixel,
zoom, drag and a typed range reach the window's steps, the cursors' readout, the measurements,
a refusal marked on its field, two pages seeing the same new capture (one of them having missed the live
link's messages while hidden), a page that missed a new capture's message following it from the state,
decoded rows; the scope view drawn in the page: each column's extent against the bytes at several
zooms, time from the trigger, volts, the trigger level dragged and refused, zoom at the pointer, Zoom Out
undoing Zoom In, a pinch.
    tests/cli/serve_page.py path/to/korvane-cli
"""
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

CLI = os.path.abspath(sys.argv[1])
WORK = tempfile.mkdtemp(prefix="korvane-page-")
failures = []


def fail(what):
    print(f"serve_page: FAILED: {what}", file=sys.stderr)
    failures.append(what)


def check(condition, what):
    if not condition:
        fail(what)
    return condition


os.environ["XDG_CONFIG_HOME"] = WORK  # the channels' settings of this test, never the user's own
server = subprocess.Popen([CLI, "serve", "--instant", "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True)
line = server.stdout.readline()
match = re.search(r"(http://127\.0\.0\.1:\d+/)", line)
if not match:
    server.kill()
    sys.exit(f"serve_page: the server printed no address: {line!r}")
URL = match.group(1)


def post(path, body):
    request = urllib.request.Request(URL + path.lstrip("/"), data=body, headers={"Content-Type": "application/octet-stream"})
    with urllib.request.urlopen(request, timeout=30) as response:
        return response.read()


def fetch(path):
    with urllib.request.urlopen(URL + path.lstrip("/"), timeout=30) as response:
        return response.read(), dict(response.getheaders())


# Before the page's own scripts: the live link's messages of the types in window.korvaneMissing are lost,
# as they are to a page whose link dropped, or to one the server's message never reached.
MISSING = """
window.WebSocket = class extends WebSocket {
  set onmessage(handler) {
    super.onmessage = (event) => {
      if (!(window.korvaneMissing || []).includes(JSON.parse(event.data).type)) handler(event);
    };
  }
};
"""


def open_page(driver, view="window"):
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 1280, "height": 900, "deviceScaleFactor": 1, "mobile": False})
    driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": MISSING})
    driver.get(URL + ("?view=window" if view == "window" else ""))


def browser():
    options = Options()
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--hide-scrollbars", "--force-color-profile=srgb", "--font-render-hinting=none"):
        options.add_argument(argument)
    options.add_argument(f"--user-data-dir={tempfile.mkdtemp(dir=WORK)}")
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(shutil.which("chromedriver") or "/usr/bin/chromedriver"), options=options)
    open_page(driver)
    return driver


def wait(driver, script, what, seconds=30):
    deadline = time.time() + seconds
    while time.time() < deadline:
        value = driver.execute_script(script)
        if value:
            return value
        time.sleep(0.05)
    fail(f"{what} (waited {seconds} s)")
    return None


def view_data(driver):
    return driver.execute_script("const d = document.getElementById('view').dataset;"
                                 "return {capture: d.capture, range: d.range, size: d.size, ready: d.ready, pending: d.pending};")


def showing(driver, capture, what):
    """Waits until the view shows the picture of a capture."""
    wait(driver, "const d = document.getElementById('view').dataset;"
                 f"return d.capture === '{capture}' && d.ready && !d.pending;", what)


def settled(driver, what, after=None):
    """Waits until the view shows a picture asked for after the ready number `after`."""
    script = ("const d = document.getElementById('view').dataset;"
              f"return d.ready && !d.pending && Number(d.ready) > {after if after is not None else 0};")
    wait(driver, script, what)
    return view_data(driver)


def choose(driver, select_id, value):
    driver.execute_script("const s = document.getElementById(arguments[0]); s.value = arguments[1];"
                          "s.dispatchEvent(new Event('change', {bubbles: true}));", select_id, value)


def different_pixels(a_png, b_png):
    """ImageMagick's count of pixels that differ."""
    result = subprocess.run(["compare", "-metric", "AE", a_png, b_png, "null:"], capture_output=True, text=True)
    return int(float(result.stderr.split()[0]))


page = browser()
other = None
try:
    # ---- Single, and the view as korvane-cli render draws it ----
    wait(page, "return document.getElementById('mode').options.length === 4", "the settings lists from the state")
    opening = settled(page, "the start-up view")
    check(opening["capture"] == "startup", f"before any capture the page shows {opening['capture']!r}")
    check(page.find_element(By.ID, "hint").is_displayed(), "the first screen gives no hint of what to do")
    choose(page, "mode", "dual")
    choose(page, "trigger", "a")
    page.find_element(By.ID, "level").clear()
    page.find_element(By.ID, "level").send_keys("20")
    page.find_element(By.ID, "single").click()
    wait(page, "return document.body.dataset.shownId", "the new capture shown")
    data = settled(page, "the first picture")
    capture_id = data["capture"]
    wait(page, "return document.getElementById('status').dataset.run === 'stopped'", "the run ended after Single")
    dso, _ = fetch(f"/api/captures/{capture_id}.dso")
    with open(f"{WORK}/shown.dso", "wb") as f:
        f.write(dso)
    subprocess.run([CLI, "render", f"{WORK}/shown.dso", "--size", data["size"], "-o", f"{WORK}/render.png"], check=True)
    with open(f"{WORK}/page.png", "wb") as f:
        f.write(page.find_element(By.ID, "picture").screenshot_as_png)
    width, height = map(int, data["size"].split("x"))
    differ = different_pixels(f"{WORK}/page.png", f"{WORK}/render.png")
    check(differ == 0, f"the view differs from render in {differ} of {width * height} pixels")
    check(data["range"] == "0:393215", f"the view opens on the whole capture: {data['range']}")
    check(not page.find_element(By.ID, "hint").is_displayed(), "the first screen's hint stays after a capture")

    # ---- Measurements: channel A's 1 kHz sine ----
    wait(page, "return document.getElementById('meas-A-frequency')", "the measurements of channel A")
    frequency = float(page.find_element(By.ID, "meas-A-frequency").get_attribute("data-value"))
    check(abs(frequency - 1000) < 1, f"channel A measures {frequency} Hz, not 1 kHz")
    pulse = json.loads(fetch(f"/api/captures/{capture_id}/measurements")[0])["analogue"][0]["pulse"]
    rise = page.find_element(By.ID, "meas-A-rise").get_attribute("data-value")
    check(rise is not None and float(rise) == pulse["rise_time_s"], f"the page's rise time of A is {rise}, the API's {pulse['rise_time_s']}")

    # ---- Under the mouse: the sample and the value of each channel, from the capture's bytes ----
    view = page.find_element(By.ID, "view")
    wait(page, "return window.korvaneView.capture", "the capture's bytes for the readouts")
    ActionChains(page).move_to_element_with_offset(view, 37, -60).perform()
    hover = page.find_element(By.ID, "hover").text
    read = re.search(r"sample (\d+) .* A = (\d+) .* B = (\d+)", hover)
    if check(read, f"the readout under the mouse says {hover!r}"):
        k = int(read[1])
        check((int(read[2]), int(read[3])) == (dso[14 + k], dso[14 + 0x60000 + k]),
              f"under the mouse at sample {k}: {hover!r}; the capture holds A {dso[14 + k]}, B {dso[14 + 0x60000 + k]}")
        area = page.execute_script("return window.korvaneView.areas[0]")  # the server's plot area
        x = view.size["width"] / 2 + 37
        expected = 393216 * (x - area["left"]) / (area["right"] - area["left"])
        check(abs(k - expected) < 393216 / 200, f"the mouse {x - area['left']:.0f} px into the plot reads sample {k}")

    # ---- The bytes read through the server's layout, under each mode as View Mode reads them ----
    expected = {  # what the .dso file holds at sample k under each mode
        "dual": lambda k: {"A": dso[14 + k], "B": dso[14 + 0x60000 + k]},
        "single": lambda k: {"A": dso[14 + k]},
        "logic16": lambda k: {"word": dso[14 + 2 * k] | dso[15 + 2 * k] << 8},
        "mixed": lambda k: {"B": dso[14 + 0x60000 + k], "word": dso[14 + k]},
    }
    for mode, holds in expected.items():
        for k in (0, 1234, 393215) + ((786431,) if mode == "single" else ()):
            got = page.execute_script(
                "const c = window.korvaneView.capture, l = c.under(arguments[0]), out = {};"
                "for (const name of l.analogue) out[name] = c.code(l, name, arguments[1]);"
                "if (l.inputs) out.word = c.word(l, arguments[1]); return out;", mode, k)
            check(got == holds(k), f"under {mode} at sample {k} the page reads {got}, the file holds {holds(k)}")

    # ---- Zoom with the keypad, as the server steps it; then pan by dragging; then a typed range ----
    view.click()
    ready = int(data["ready"])
    ActionChains(page).send_keys(Keys.ADD).perform()
    zoomed = settled(page, "the zoomed picture", ready)
    _, headers = fetch(f"/api/captures/{capture_id}/view?size={data['size']}&step=zoom_in")
    check(zoomed["range"] == headers["X-Korvane-Range"],
          f"keypad + shows {zoomed['range']}, the window's step is {headers['X-Korvane-Range']}")
    first, last = map(int, zoomed["range"].split(":"))
    ActionChains(page).move_to_element(view).click_and_hold().move_by_offset(-150, 0).release().perform()
    panned = settled(page, "the dragged picture", int(zoomed["ready"]))
    p_first, p_last = map(int, panned["range"].split(":"))
    check(p_first > first and p_last - p_first == last - first,
          f"dragging left by 150 px from {zoomed['range']} shows {panned['range']}")
    for field, value in (("range-first", "1000"), ("range-last", "2999")):
        page.find_element(By.ID, field).clear()
        page.find_element(By.ID, field).send_keys(value)
    page.find_element(By.ID, "range-last").send_keys(Keys.ENTER)
    typed = settled(page, "the typed range", int(panned["ready"]))
    check(typed["range"] == "1000:2999", f"View Range 1000 to 2999 shows {typed['range']}")
    page.find_element(By.ID, "measure-view").click()
    wait(page, "return document.getElementById('measurements').textContent.includes('samples 1000 to 2999')",
         "the measurements of the view only")
    page.find_element(By.ID, "range-first").clear()
    page.find_element(By.ID, "range-first").send_keys("5000", Keys.ENTER)
    wait(page, "return document.getElementById('view-error').textContent", "a range backwards refused")
    check(view_data(page)["range"] == "1000:2999", "a refused range leaves the view as it was")
    page.find_element(By.ID, "whole").click()
    settled(page, "the whole capture again", int(typed["ready"]))

    # ---- Cursors: typed, then dragged ----
    for name, value in (("t1", "1000"), ("t2", "51000"), ("v1", "200"), ("v2", "60")):
        page.find_element(By.ID, name).clear()
        page.find_element(By.ID, name).send_keys(value)
    page.find_element(By.ID, "place-cursors").click()
    dt = page.find_element(By.CSS_SELECTOR, "#readout [data-name=dt]")
    check(abs(float(dt.get_attribute("data-value")) - 1e-3) < 1e-9, f"Δt of 50,000 samples at 50 MHz reads {dt.text}")
    check("1.000 kHz" in page.find_element(By.CSS_SELECTOR, "#readout [data-name=f]").text, "1/Δt is 1 kHz")
    check(page.find_element(By.CSS_SELECTOR, "#readout [data-name=dv]").get_attribute("data-value") == "140",
          "ΔV between codes 200 and 60")
    # Selenium's offsets count from the element's centre.
    x, y = page.execute_script("const v = window.korvaneView, box = v.root.getBoundingClientRect();"
                               "return [v.xOf(51000) - box.width / 2, v.areas[0].top + 30 - box.height / 2];")
    ActionChains(page).move_to_element_with_offset(view, int(x), int(y)).click_and_hold() \
        .move_by_offset(60, 0).release().perform()
    t2 = int(page.find_element(By.ID, "t2").get_attribute("value"))
    check(t2 > 51000 + 20000, f"dragging t2 by 60 px moves it from 51000 to {t2}")

    # ---- A refusal explained where the user typed it ----
    # As it is typed, in words; and again when a run is asked for with it.
    page.find_element(By.ID, "level").clear()
    page.find_element(By.ID, "level").send_keys("500")
    message = wait(page, "return document.getElementById('settings-error').textContent", "the refusal of level 500 as typed")
    check(message == "Level: 500 is not in -126..127", f"the refusal names the level as it is typed: {message!r}")
    page.find_element(By.ID, "single").click()
    message = wait(page, "return document.getElementById('settings-error').textContent", "the refusal of level 500")
    check(message == "Level: 500 is not in -126..127", f"the refusal names the level: {message!r}")
    check("has-error" in page.find_element(By.ID, "level-field").get_attribute("class"), "the level field is marked")
    page.find_element(By.ID, "level").clear()
    page.find_element(By.ID, "level").send_keys("20")
    wait(page, "return document.getElementById('settings-error').textContent === ''", "the refusal gone with level 20")

    # ---- Autoset proposes, and its proposal can be taken back ----
    page.find_element(By.ID, "autoset").click()
    said = wait(page, "return document.getElementById('autoset-said').textContent.startsWith('Autoset found') &&"
                      " document.getElementById('autoset-said').textContent", "Autoset's proposal")
    check("channel A at 1.000 kHz" in said and page.find_element(By.ID, "trigger").get_attribute("value") == "a"
          and page.find_element(By.ID, "level").get_attribute("value") != "20", f"Autoset on the simulated sine said {said!r}")
    page.find_element(By.ID, "autoset-undo").click()
    wait(page, "return document.getElementById('level').value === '20'", "the level from before Autoset taken back")

    # ---- Two pages see the same new capture; the second, behind the first, hears nothing of it ----
    first_page = page.current_window_handle
    page.switch_to.new_window("tab")
    second_page = page.current_window_handle
    open_page(page)
    wait(page, f"return document.body.dataset.link === 'up' && document.body.dataset.latest === '{capture_id}'",
         "the second page live and knowing the capture")
    # Settings edited in one page are those of every page.
    page.switch_to.window(first_page)
    page.find_element(By.ID, "level").clear()
    page.find_element(By.ID, "level").send_keys("33")
    page.switch_to.window(second_page)
    wait(page, "return document.getElementById('level').value === '33'", "the second page showing the level the first typed")
    page.execute_script("window.korvaneMissing = ['capture', 'state']")
    page.switch_to.window(first_page)
    wait(page, "return document.visibilityState === 'visible'", "the first page in front")
    page.find_element(By.ID, "single").click()
    newest = wait(page, f"const l = document.body.dataset.latest; return l && l !== '{capture_id}' && l", "a second capture")
    page.switch_to.window(second_page)
    showing(page, newest, "the second page, shown again, shows the new capture")
    page.switch_to.window(first_page)
    showing(page, newest, "the first page follows the new capture")

    # ---- Stop when: a condition that cannot be read is refused at its field; one that holds ends the run ----
    for field, value in (("stop_when", "A.frequency >> 3"), ("math", "A-B")):
        page.find_element(By.ID, field).clear()
        page.find_element(By.ID, field).send_keys(value)
    page.find_element(By.ID, "normal").click()
    message = wait(page, "return document.getElementById('settings-error').textContent", "the refusal of a condition")
    caret = page.execute_script("return document.getElementById('stop_when').selectionStart")
    check(message.startswith("Stop when:") and "has-error" in page.find_element(By.ID, "stop_when-field").get_attribute("class")
          and caret == 13, f"a condition with '>>' is refused with {message!r}, its field marked, the caret at {caret}")
    check(page.execute_script("return document.getElementById('status').dataset.run") == "stopped", "a refused condition started a run")
    page.find_element(By.ID, "stop_when").clear()
    page.find_element(By.ID, "stop_when").send_keys("M.peak_to_peak > 10")
    page.find_element(By.ID, "normal").click()
    said = wait(page, "const s = document.getElementById('status'); return s.dataset.run === 'stopped' &&"
                      " s.textContent.startsWith('Stopped by') && s.textContent", "the run stopped by its condition")
    check(re.match(r"Stopped by M\.peak_to_peak > 10 at capture #\d+: M\.peak_to_peak = \d", said or ""),
          f"the status after the condition held says {said!r}")
    for field in ("stop_when", "math"):
        page.find_element(By.ID, field).clear()

    # ---- Statistics of that run beside the measurements, as the API has them; Reset begins them afresh ----
    stats = json.loads(fetch("/api/statistics")[0])
    want = next(f for f in stats["figures"] if f["name"] == "M.peak_to_peak")
    row = wait(page, "const r = document.querySelector('#statistics tr[data-name=\"M.peak_to_peak\"]');"
                     f"return r && r.dataset.count === '{want['count']}' && Array.from(r.querySelectorAll('td[data-value]'), (c) => +c.dataset.value)",
               "the statistics of the run")
    check(row == [want["mean"], want["min"], want["max"]] and want["count"] >= 1,
          f"the statistics of M.peak_to_peak read {row}, the API says {want}")
    names = page.execute_script("return Array.from(document.querySelectorAll('#statistics tr[data-name]'), (r) => r.dataset.name)")
    check("A.frequency" in names and "A.slew_rate" not in names, f"the statistics shown by default: {names}")
    page.find_element(By.ID, "statistics-reset").click()
    wait(page, "return !document.querySelector('#statistics tr') && document.getElementById('statistics-note').textContent.startsWith('No capture')",
         "the statistics reset")
    check(json.loads(fetch("/api/statistics")[0])["captures"] == 0, "Reset left the server's statistics")

    # ---- The scope view, drawn in the page from the capture's bytes ----
    page.switch_to.new_window("tab")
    open_page(page, view="scope")
    wait(page, "return document.getElementById('mode').options.length === 4 && window.__scope", "the scope view's page")
    choose(page, "mode", "dual")
    choose(page, "trigger", "a")
    for field, value in (("level", "20"), ("pretrigger", "5000")):
        page.find_element(By.ID, field).clear()
        page.find_element(By.ID, field).send_keys(value)
    before = page.execute_script("return document.body.dataset.latest")
    page.find_element(By.ID, "single").click()
    scoped = wait(page, f"const l = document.body.dataset.latest; return l && l !== '{before}' && window.__scope.shown() === Number(l)"
                        " && document.getElementById('scope-plot').dataset.capture === l && l", "the scope view showing a new capture")
    dso, _ = fetch(f"/api/captures/{scoped}.dso")
    canvas = page.find_element(By.CSS_SELECTOR, "#scope-plot canvas")
    FRAME = "const done = arguments[arguments.length - 1]; requestAnimationFrame(() => requestAnimationFrame(() => done(1)));"

    def on(field, value):
        page.execute_script("const i = document.querySelector(`#channel-panel [data-field='${arguments[0]}']`);"
                            "if (i.type === 'checkbox') i.checked = arguments[1]; else i.value = arguments[1];"
                            "i.dispatchEvent(new Event('change', {bubbles: true}));", field, value)
        page.execute_async_script(FRAME)

    def drawn_extent(x, plot):
        """The rows of the canvas's column x that show channel A's yellow, within the plot."""
        return page.execute_script("""
            const c = document.querySelector('#scope-plot canvas'), top = Math.ceil(arguments[1]), bottom = Math.floor(arguments[2]);
            const d = c.getContext('2d').getImageData(arguments[0], top, 1, bottom - top).data;
            let first = -1, last = -1;
            for (let y = 0; y < bottom - top; ++y)
              if (d[4 * y] > 200 && d[4 * y + 1] > 150 && d[4 * y + 2] < 90) { if (first < 0) first = y; last = y; }
            return first < 0 ? null : [first + top, last + top];""", x, plot["top"], plot["bottom"])

    def sample_at(f):
        span = page.execute_script("return window.__scope.span()")
        return span["start"] + f * span["width"]

    # The spectrum pane: the strongest peak the API finds is the one listed first and the highest drawn, on a log axis.
    page.find_element(By.ID, "scope-spectrum").click()
    choose(page, "spectrum-axis", "log")
    wait(page, f"return document.getElementById('spectrum').dataset.capture === '{scoped}' && "
               "document.querySelector('#spectrum-figures [data-rank=\"0\"]')", "the spectrum of the capture")
    api = json.loads(fetch(f"/api/captures/{scoped}/spectrum?channel=A&window=hann&peaks=5")[0])
    strongest = max(api["peaks"], key=lambda p: p["level_dbfs"])
    first = page.find_element(By.CSS_SELECTOR, "#spectrum-figures [data-rank='0']")
    check((float(first.get_attribute("data-frequency")), float(first.get_attribute("data-level")))
          == (strongest["frequency_hz"], strongest["level_dbfs"]), f"the pane's first peak {first.text!r}, the API's strongest {strongest}")
    page.execute_async_script(FRAME)
    top_x = page.execute_script("""
        const c = document.querySelector('#spectrum-plot canvas'), p = window.__spectrum.plot(), g = c.getContext('2d');
        const w = Math.floor(p.right - p.left), h = Math.floor(p.bottom - p.top), d = g.getImageData(Math.ceil(p.left), Math.ceil(p.top), w, h).data;
        for (let y = 0; y < h; ++y) for (let x = 0; x < w; ++x) {
          const i = 4 * (y * w + x);
          if (d[i] > 200 && d[i + 1] > 150 && d[i + 2] < 90) return x + Math.ceil(p.left);
        }
        return null;""")
    peak_x = page.execute_script("return window.__spectrum.xOf(arguments[0])", strongest["frequency_hz"])
    check(top_x is not None and abs(top_x - peak_x) <= 2, f"the highest level is drawn at x {top_x}, the strongest peak is at x {peak_x:.1f}")
    spectrum_canvas = page.find_element(By.CSS_SELECTOR, "#spectrum-plot canvas")
    size = spectrum_canvas.size
    ActionChains(page).move_to_element_with_offset(spectrum_canvas, int(round(peak_x - size["width"] / 2)), 0).click().perform()
    f1 = page.find_element(By.CSS_SELECTOR, "#spectrum-readout [data-name=f1]")
    check(abs(float(f1.get_attribute("data-value")) / strongest["frequency_hz"] - 1) < 0.03
          and abs(float(f1.get_attribute("data-level")) - strongest["level_dbfs"]) < 3, f"a cursor at the strongest peak reads {f1.text!r}")
    page.find_element(By.ID, "scope-spectrum").click()
    page.execute_script("window.scrollTo(0, 0)")

    # XY: B against A from the capture's bytes, each pair's pixel inked in the square.
    page.find_element(By.ID, "scope-xy").click()
    wait(page, f"return document.getElementById('xy').dataset.capture === '{scoped}' && window.__xy.figures() === 1", "the XY figure")
    ink = page.execute_script("""
        const c = document.getElementById('xy-canvas'), d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
        const lit = (x, y) => { const i = 4 * (y * c.width + x); return d[i + 1] > 120 && d[i + 2] > 150; };  // B's cyan
        let count = 0;
        for (let y = 0; y < c.height; ++y) for (let x = 0; x < c.width; ++x) if (lit(x, y)) ++count;
        return [count, c.width, c.height, arguments[0].map(([a, b]) => { const p = window.__xy.pixelOf(a, b); return lit(p.x, p.y); })];""",
        [[dso[14 + k], dso[14 + 0x60000 + k]] for k in (10, 77777, 200000, 393215)])
    check(ink[1] == ink[2] and ink[1] >= 100 and ink[0] > 200 and all(ink[3]),
          f"the XY figure of {ink[1]}x{ink[2]} pixels has {ink[0]} inked, the pixels of four samples' pairs inked: {ink[3]}")
    page.find_element(By.ID, "scope-xy").click()
    page.execute_script("window.scrollTo(0, 0)")

    # Linearity: the server's test of B, its figures shown as the API gives them.
    page.find_element(By.ID, "scope-linearity").click()
    wait(page, f"return document.getElementById('linearity').dataset.capture === '{scoped}'", "the linearity of B")
    api = json.loads(fetch(f"/api/captures/{scoped}/linearity?channel=B&signal=detect")[0])["channels"][0]["whole"]
    said = page.find_element(By.ID, "linearity-figures").text
    check(f"{api['worst_dnl']['lsb']:+.3f} LSB at {api['worst_dnl']['code']}" in said and "none" in said,
          f"the linearity pane says {said!r} of {api['worst_dnl']}")
    page.find_element(By.ID, "scope-linearity").click()

    # The math channel M in the view: A-B of the codes about 0x80 at the cursors, drawn in its own colour.
    page.execute_script("const m = document.getElementById('math'); m.value = 'a - b'; m.dispatchEvent(new Event('change'));")
    wait(page, "return document.getElementById('scope-plot').dataset.math === 'A-B'", "the math channel in the view")
    page.find_element(By.ID, "scope-cursors").click()
    page.execute_async_script(FRAME)
    t1 = float(page.find_element(By.CSS_SELECTOR, "#scope-readout [data-name=t1]").get_attribute("data-value"))
    k1 = round(t1 * 50e6) + 5000
    m1 = page.find_element(By.CSS_SELECTOR, "#scope-readout [data-name=M-t]")
    magenta = page.execute_script("""
        const c = document.querySelector('#scope-plot canvas'), d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
        let n = 0;
        for (let i = 0; i < d.length; i += 4) if (d[i] > 180 && d[i + 1] < 130 && d[i + 2] > 220) ++n;
        return n;""")
    check(float(m1.get_attribute("data-value")) == dso[14 + k1] - dso[14 + 0x60000 + k1] and magenta > 500,
          f"M = A-B at sample {k1} (A {dso[14 + k1]}, B {dso[14 + 0x60000 + k1]}) reads {m1.text!r}; {magenta} pixels of M's colour")
    rms = json.loads(fetch(f"/api/captures/{scoped}/measurements?math=A-B")[0])["math"]["rms"]
    wait(page, f"const c = document.getElementById('math-rms'); return c && Number(c.dataset.value) === {rms}", f"M's RMS {rms} in the measurements")
    # M in the spectrum pane is the server's M; in XY, M against A falls where the bytes put it.
    page.find_element(By.ID, "scope-spectrum").click()
    choose(page, "spectrum-channel", "M")
    api = json.loads(fetch(f"/api/captures/{scoped}/spectrum?channel=M&math=A-B&window=hann&peaks=5")[0])
    strongest = max(api["peaks"], key=lambda p: p["level_dbfs"])
    got = wait(page, "const d = window.__spectrum.data(), q = window.__spectrum.query();"
                     "return d && d.channel === 'M' && q.includes('channel=M') && [d.peaks[0].frequency_hz, d.peaks[0].level_dbfs]", "the spectrum of M")
    check(got == [strongest["frequency_hz"], strongest["level_dbfs"]], f"the pane's strongest peak of M {got}, the API's {strongest}")
    page.find_element(By.ID, "scope-spectrum").click()
    page.find_element(By.ID, "scope-xy").click()
    choose(page, "xy-axes", "A:M")
    lit = page.execute_script("""
        const c = document.getElementById('xy-canvas'), d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
        return arguments[0].map(([a, m]) => { const p = window.__xy.pixelOf(a, m), i = 4 * (p.y * c.width + p.x); return d[i] > 180 && d[i + 2] > 220; });""",
        [[dso[14 + k], dso[14 + k] - dso[14 + 0x60000 + k]] for k in (10, 77777, 200000)])
    check(all(lit), f"M against A: the pixels of three samples' pairs inked {lit}")
    page.find_element(By.ID, "scope-xy").click()
    page.execute_script("window.scrollTo(0, 0)")
    page.find_element(By.ID, "scope-clear-cursors").click()
    page.execute_script("const m = document.getElementById('math'); m.value = ''; m.dispatchEvent(new Event('change'));")

    on("analogue.1.on", False)  # channel B off: A alone in the plot
    page.execute_script("document.getElementById('scope-whole').click()")
    for zoom in range(3):  # the whole capture, then 16 and 256 times narrower: the decimation at each level
        page.execute_async_script(FRAME)
        plot = page.execute_script("return window.__scope.plot()")
        for f in (0.004, 0.23, 0.5, 0.77, 0.996):
            x = int(plot["left"] + f * (plot["right"] - plot["left"]))
            first, last = page.execute_script("return window.__scope.column(arguments[0])", x)
            codes = dso[14 + first:14 + last + 1]
            want = [round(page.execute_script("return window.__scope.yOfCode('A', arguments[0])", code)) for code in (max(codes), min(codes))]
            got = drawn_extent(x, plot)
            check(got and abs(got[0] - want[0]) <= 1 and abs(got[1] - want[1]) <= 1,
                  f"zoom {zoom}: column {x} (samples {first}..{last}, codes {min(codes)}..{max(codes)}) is drawn over rows {got}, "
                  f"the bytes say {want}")
        for _ in range(4 if zoom < 2 else 0):
            page.find_element(By.ID, "scope-zoom-in").click()
    on("analogue.1.on", True)

    # Zoom Out undoes Zoom In exactly; the wheel zooms at the pointer, and back.
    span = page.execute_script("return window.__scope.span()")
    for _ in range(8):
        page.find_element(By.ID, "scope-zoom-out").click()
    whole = page.execute_script("return window.__scope.span()")
    check(whole["start"] == 0 and whole["width"] == whole["total"], f"Zoom Out after Zoom In comes back to the whole capture: {whole}")
    box = page.execute_script("const r = document.querySelector('#scope-plot canvas').getBoundingClientRect();"
                              "return {x: r.left, y: r.top, width: r.width, height: r.height};")
    plot = page.execute_script("return window.__scope.plot()")
    wheel_x = round(box["x"] + plot["left"] + 0.3 * (plot["right"] - plot["left"])) - box["x"]  # a whole pixel of the page
    f = (wheel_x - plot["left"]) / (plot["right"] - plot["left"])
    under = sample_at(f)

    def wheel(dy, x):
        page.execute_cdp_cmd("Input.dispatchMouseEvent", {"type": "mouseWheel", "x": box["x"] + x, "y": box["y"] + 200,
                                                          "deltaX": 0, "deltaY": dy})
    for _ in range(12):
        wheel(-100, wheel_x)
    zoomed = page.execute_script("return window.__scope.span()")
    check(zoomed["width"] < whole["width"] / 7 and abs(sample_at(f) - under) < 1e-6 * whole["total"],
          f"the wheel zooms at the pointer: sample {under:.1f} under it, now {sample_at(f):.1f}, span {zoomed}")
    for _ in range(12):
        wheel(100, wheel_x)
    back = page.execute_script("return window.__scope.span()")
    check(abs(back["start"] - whole["start"]) < 1e-6 and abs(back["width"] - whole["width"]) < 1e-6,
          f"as many steps out come back: {back}")

    # A pinch through Chrome's touch emulation: fingers twice as far apart halve the span.
    page.execute_cdp_cmd("Emulation.setTouchEmulationEnabled", {"enabled": True, "maxTouchPoints": 2})
    y = box["y"] + 200
    mid = box["x"] + plot["left"] + 0.5 * (plot["right"] - plot["left"])
    touch = lambda kind, points: page.execute_cdp_cmd("Input.dispatchTouchEvent", {"type": kind, "touchPoints": [
        {"x": x, "y": y, "id": n} for n, x in enumerate(points)]})
    middle = sample_at(0.5)
    touch("touchStart", [mid - 100, mid + 100])
    for spread in (120, 160, 200):
        touch("touchMove", [mid - spread, mid + spread])
    touch("touchEnd", [])
    pinched = page.execute_script("return window.__scope.span()")
    check(abs(pinched["width"] - whole["width"] / 2) < whole["width"] * 0.01 and abs(sample_at(0.5) - middle) < whole["width"] * 0.01,
          f"a pinch spreading the fingers from 200 to 400 px halves the span about its middle: {pinched}")
    page.execute_cdp_cmd("Emulation.setTouchEmulationEnabled", {"enabled": False})
    page.find_element(By.ID, "scope-whole").click()

    # A box drawn with Shift zooms to the samples under it.
    page.execute_async_script(FRAME)
    a_x, b_x = int(plot["left"] + 0.2 * (plot["right"] - plot["left"])), int(plot["left"] + 0.45 * (plot["right"] - plot["left"]))
    want = [sample_at((x - plot["left"]) / (plot["right"] - plot["left"])) for x in (a_x, b_x)]
    ActionChains(page).key_down(Keys.SHIFT).move_to_element_with_offset(canvas, int(a_x - box["width"] / 2), 0).click_and_hold() \
        .move_by_offset(b_x - a_x, 0).release().key_up(Keys.SHIFT).perform()
    boxed = page.execute_script("return window.__scope.span()")
    per_pixel = whole["width"] / (plot["right"] - plot["left"])
    check(abs(boxed["start"] - want[0]) <= 2 * per_pixel and abs(boxed["start"] + boxed["width"] - want[1]) <= 2 * per_pixel,
          f"a Shift box over samples {want[0]:.0f} to {want[1]:.0f} shows {boxed}")
    page.find_element(By.ID, "scope-whole").click()

    # A channel setting the server would refuse is refused at its field, and the view keeps the last good one.
    on("analogue.0.zero_code", "300")
    refused = page.find_element(By.CSS_SELECTOR, "#channel-panel .field-error").get_attribute("textContent")
    marked = page.execute_script("return document.querySelector(\"#channel-panel [data-field='analogue.0.zero_code']\").closest('label').className")
    check("zero code" in refused.lower() and "has-error" in marked and
          page.execute_script("return window.__scope.yOfCode('A', 128)") == page.execute_script("return (window.__scope.plot().top + window.__scope.plot().bottom) / 2"),
          f"a zero code of 300: {refused!r}, the field {marked!r}")
    on("analogue.0.zero_code", "128")

    # Time from the trigger: at the pre-trigger marker, deep in, the readout is 0.
    trigger = page.execute_script("return window.__scope.trigger()")
    check(trigger == 5000, f"t = 0 at sample {trigger}, the capture's pre-trigger 5000")
    for _ in range(4):  # at the marker, again and again, the marker staying under the pointer
        marker_x = round(box["x"] + page.execute_script("return window.__scope.xOf(5000.5)")) - box["x"]
        for _ in range(11):
            wheel(-100, marker_x)
    marker_x = page.execute_script("return window.__scope.xOf(5000.5)")
    for x in (marker_x - 5, marker_x):  # the pointer has to move for the page to hear of it
        page.execute_cdp_cmd("Input.dispatchMouseEvent", {"type": "mouseMoved", "x": box["x"] + x, "y": box["y"] + 200})
    said = page.find_element(By.ID, "scope-pointer").text
    check(said.startswith("t 0 s "), f"at the pre-trigger marker the readout says {said!r}")
    page.find_element(By.ID, "scope-whole").click()

    # A scale of 0.02 V a code: the readouts and the measurements in volts.
    on("analogue.0.volts_per_code", "0.02")
    on("analogue.0.per_div", "0.5")
    page.find_element(By.ID, "scope-cursors").click()
    t1 = float(page.find_element(By.CSS_SELECTOR, "#scope-readout [data-name=t1]").get_attribute("data-value"))
    k1 = round(t1 * 50e6) + 5000
    a1 = page.find_element(By.CSS_SELECTOR, "#scope-readout [data-name=A-t]")
    check(abs(float(a1.get_attribute("data-value")) - (dso[14 + k1] - 128) * 0.02) < 1e-9 and "V" in a1.text,
          f"channel A at t1 (sample {k1}, code {dso[14 + k1]}) reads {a1.text!r}")
    peak = max(dso[14:14 + 0x60000])
    wait(page, "const c = document.getElementById('meas-A-max'); return c && c.dataset.unit === 'V'", "the measurements in volts")
    cell = page.find_element(By.ID, "meas-A-max")
    check(abs(float(cell.get_attribute("data-value")) - (peak - 128) * 0.02) < 1e-9 and cell.text.endswith("V"),
          f"channel A's maximum, code {peak}, reads {cell.text!r}")
    page.find_element(By.ID, "scope-clear-cursors").click()

    # The trigger level dragged: the level set, and Single captures with it; too far, refused at the marker.
    def drag_level(dy):
        plot = page.execute_script("return window.__scope.plot()")
        level_y = page.execute_script("return window.__scope.levelY()")
        x0, y0 = plot["right"] + 6 - box["width"] / 2, level_y - box["height"] / 2
        ActionChains(page).move_to_element_with_offset(canvas, int(x0), int(round(y0))).click_and_hold() \
            .move_by_offset(0, dy).release().perform()
        return int(round(y0 + box["height"] / 2)) + dy
    at = drag_level(-60)
    c0, c1 = (page.execute_script("return window.__scope.yOfCode('A', arguments[0])", c) for c in (0, 1))
    near = round((at - c0) / (c1 - c0)) - 127  # the level under the pointer where it was dropped, to a pixel
    level = int(wait(page, "const l = document.getElementById('level').value; return l !== '20' && l", "the level set by the drag"))
    check(abs(level - near) <= 1, f"the marker dropped at level {near} sets the level to {level}")
    before = page.execute_script("return document.body.dataset.latest")
    page.find_element(By.ID, "single").click()
    newest = wait(page, f"const l = document.body.dataset.latest; return l && l !== '{before}' && l", "the Single after the drag")
    layout = json.loads(fetch(f"/api/captures/{newest}/layout")[0])
    check(layout["header"]["trigger_value"] == level + 127, f"Single after the drag captured with code {layout['header']['trigger_value']}, "
          f"not {level + 127} (level {level})")
    wait(page, "return document.getElementById('status').dataset.run === 'stopped'", "the run ended after Single")
    plot = page.execute_script("return window.__scope.plot()")
    drag_level(int(plot["top"] - 150 - page.execute_script("return window.__scope.levelY()")))
    refusal = wait(page, "return document.getElementById('scope-plot').dataset.triggerRefusal", "a level beyond the range refused")
    check(refusal and "Level" in refusal and page.find_element(By.ID, "level").get_attribute("value") == str(level),
          f"a level beyond the range: {refusal!r}, the level field {page.find_element(By.ID, 'level').get_attribute('value')}")

    # The pre-trigger marker dragged along the top sets the pre-trigger.
    page.find_element(By.ID, "scope-whole").click()
    page.execute_async_script(FRAME)
    plot = page.execute_script("return window.__scope.plot()")
    x0 = page.execute_script("return window.__scope.xOf(5000.5)")
    ActionChains(page).move_to_element_with_offset(canvas, int(round(x0 - box["width"] / 2)), int(plot["top"] - 6 - box["height"] / 2)) \
        .click_and_hold().move_by_offset(100, 0).release().perform()
    span = page.execute_script("return window.__scope.span()")
    near = span["start"] + (int(round(x0)) + 100 - plot["left"]) / (plot["right"] - plot["left"]) * span["width"]
    moved = int(wait(page, "const p = document.getElementById('pretrigger').value; return p !== '5000' && p", "the pre-trigger set by the drag"))
    check(abs(moved - near) <= span["width"] / (plot["right"] - plot["left"]) * 1.5,
          f"the pre-trigger marker dropped near sample {near:.0f} sets the pre-trigger to {moved}")

    # The logic lanes against the bytes: each lane's high and low lines where its input was high or low.
    choose(page, "mode", "logic16")
    choose(page, "trigger", "none")
    page.find_element(By.ID, "pretrigger").clear()
    page.find_element(By.ID, "pretrigger").send_keys("0")
    before = page.execute_script("return document.body.dataset.latest")
    page.find_element(By.ID, "single").click()
    lanes_id = wait(page, f"const l = document.body.dataset.latest; return l && l !== '{before}' && "
                          "document.getElementById('scope-plot').dataset.capture === l && l", "the 16 Bit Logic capture drawn")
    words = fetch(f"/api/captures/{lanes_id}.dso")[0]

    def states(x):
        first, last = page.execute_script("return window.__scope.column(arguments[0])", x)
        any_high, all_high = 0, 0xFFFF
        for k in range(first, last + 1):
            w = words[14 + 2 * k] | words[15 + 2 * k] << 8
            any_high |= w
            all_high &= w
        return [1 if all_high >> n & 1 else 2 if any_high >> n & 1 else 0 for n in range(16)]
    page.execute_script("document.getElementById('scope-whole').click()")
    for zoom in range(2):  # the whole capture, then 64 times narrower
        page.execute_async_script(FRAME)
        plot = page.execute_script("return window.__scope.plot()")
        for f in (0.23, 0.37, 0.61, 0.87):
            x = int(plot["left"] + f * (plot["right"] - plot["left"]))
            now, left = states(x), states(x - 1)
            lit = page.execute_script("""
                const g = document.querySelector('#scope-plot canvas').getContext('2d'), out = [];
                for (let n = 0; n < 16; ++n) {  // a pixel of the lane's own colour
                  const c = document.querySelector(`#channel-panel [data-field='logic.${n}.colour']`).value;
                  const want = [1, 3, 5].map((i) => parseInt(c.slice(i, i + 2), 16));
                  const r = window.__scope.laneRows(n), at = (y) => {
                    const d = g.getImageData(arguments[0], Math.round(y), 1, 1).data;
                    return Math.abs(d[0] - want[0]) + Math.abs(d[1] - want[1]) + Math.abs(d[2] - want[2]) < 30;
                  };
                  out.push([at(r.high), at(r.low)]);
                }
                return out;""", x)
            for n in range(16):
                if now[n] != left[n]:
                    continue  # an edge is drawn between the two
                want = [now[n] != 0, now[n] != 1]
                check(lit[n] == want, f"zoom {zoom}: column {x}, D{n} {['low', 'high', 'changing'][now[n]]}: high and low lines drawn {lit[n]}")
        for _ in range(6 if zoom == 0 else 0):
            page.find_element(By.ID, "scope-zoom-in").click()

    # Averaging: the mean of the last captures, sample by sample, in the readouts (in codes again).
    on("analogue.0.volts_per_code", "")
    on("analogue.0.per_div", "32")
    random.seed(7)
    noisy = [bytes(14) + random.randbytes(0xC0000) + bytes(2) for _ in range(3)]
    ids = [json.loads(post(f"/api/captures?name=noise{n}.dso", data))["id"] for n, data in enumerate(noisy)]
    page.execute_script("document.getElementById('follow').checked = false;"
                        "const s = document.getElementById('averaging'); s.value = '4'; s.dispatchEvent(new Event('change'));")
    for n in ids:
        wait(page, f"return document.querySelector('#history button[data-id=\"{n}\"]')", f"upload {n} in the history")
        page.execute_script(f"document.querySelector('#history button[data-id=\"{n}\"]').click()")
        wait(page, f"return document.getElementById('scope-plot').dataset.capture === '{n}'", f"upload {n} drawn")
    page.find_element(By.ID, "scope-cursors").click()
    t1 = float(page.find_element(By.CSS_SELECTOR, "#scope-readout [data-name=t1]").get_attribute("data-value"))
    k1 = round(t1 * 50e6)
    mean = sum(data[14 + k1] for data in noisy) / 3
    shown = float(page.find_element(By.CSS_SELECTOR, "#scope-readout [data-name=A-t]").get_attribute("data-value"))
    check(abs(shown - mean) < 1e-3, f"averaging 3 captures: channel A at sample {k1} reads {shown}, the mean of the bytes is {mean}")
    page.close()
    page.switch_to.window(first_page)
    newest = page.execute_script("return document.body.dataset.latest")  # the captures above are not the next section's

    # ---- Decoded rows, and a row that centres the view ----
    # The new capture's message lost: the page follows it from the state.
    page.execute_script("window.korvaneMissing = ['capture']")
    choose(page, "mode", "logic16")
    choose(page, "trigger", "none")
    page.find_element(By.ID, "pretrigger").clear()
    page.find_element(By.ID, "pretrigger").send_keys("0")
    page.find_element(By.ID, "single").click()
    logic = wait(page, f"const l = document.body.dataset.latest; return l && l !== '{newest}' && l", "a logic capture")
    showing(page, logic, "the logic capture shown without its message")
    page.find_element(By.ID, "decode-stack").send_keys("uart:rx=D3:baudrate=115200")
    page.find_element(By.ID, "decode").click()
    wait(page, "return document.querySelectorAll('#annotations tbody tr').length > 10", "the annotations' table")
    starts = page.execute_script("return Array.from(document.querySelectorAll('#annotations tbody tr'), (r) => +r.dataset.start)")
    check(starts == sorted(starts), "the decoded table is not in time order")
    offered = page.execute_script("return Array.from(document.querySelectorAll('#downloads a'), (a) => a.textContent)")
    check(".wav" not in offered and ".vcd" in offered, f"a 16 Bit Logic capture offers {offered}")
    # The rows under the view are those of render --decode, pixel for pixel.
    wait(page, "return document.getElementById('view').dataset.rows && !document.getElementById('rows').hidden",
         "the decoded rows under the view")
    shown = view_data(page)
    with open(f"{WORK}/logic.dso", "wb") as f:
        f.write(fetch(f"/api/captures/{logic}.dso")[0])
    subprocess.run([CLI, "render", f"{WORK}/logic.dso", "--size", shown["size"], "--decode", "uart:rx=D3:baudrate=115200",
                    "-o", f"{WORK}/decoded.png"], check=True)
    height = int(shown["size"].split("x")[1])
    subprocess.run(["convert", f"{WORK}/decoded.png", "-crop", f"{shown['size'].split('x')[0]}x1000+0+{height}", "+repage",
                    f"{WORK}/rows-render.png"], check=True)
    with open(f"{WORK}/rows-page.png", "wb") as f:
        f.write(page.find_element(By.ID, "rows").screenshot_as_png)
    differ = different_pixels(f"{WORK}/rows-page.png", f"{WORK}/rows-render.png")
    check(differ == 0, f"the rows under the view differ from render --decode's in {differ} pixels")
    before = int(view_data(page)["ready"])
    row = page.find_elements(By.CSS_SELECTOR, "#annotations tbody tr")[5]
    start = int(row.get_attribute("data-start"))
    row.click()
    centred = settled(page, "the view centred on a row", before)
    c_first, c_last = map(int, centred["range"].split(":"))
    check(c_first <= start <= c_last and c_last - c_first < 100000,
          f"clicking the row at sample {start} of the whole capture shows {centred['range']}")
    # The typed stack set the form; one the form cannot say is a custom stack.
    form = page.execute_script("return [document.getElementById('decoder').value, document.querySelector('#decoder-fields [name=rx]').value]")
    check(form == ["uart", "D3"], f"the typed uart stack left the form at {form}")
    page.execute_script("const s = document.getElementById('decode-stack'); s.value = 'uart:rx=D3:frame=5';"
                        "s.dispatchEvent(new Event('change'));")
    wait(page, "return !document.getElementById('decode-custom').hidden && document.getElementById('decoder').value === 'custom'",
         "a stack the form cannot say shown as a custom stack")
    page.execute_script("const s = document.getElementById('decode-stack'); s.value = 'uart:rx=D3:baudrate=115200';"
                        "s.dispatchEvent(new Event('change'));")
    # The scope view draws the decoding in rows under the traces, the first annotation's box where its samples are.
    page.find_element(By.ID, "show-scope").click()
    rows = wait(page, "const r = window.__scope.rows(); return r.shown > 0 && r", "the decoded rows in the scope view")
    inked = page.execute_script("""
        const a = arguments[0], x = Math.round(window.__scope.xOf((a.start + a.end) / 2)), y = Math.round(arguments[1] + 20);
        const c = document.querySelector('#scope-plot canvas'), s = window.devicePixelRatio || 1;
        const d = c.getContext('2d').getImageData(Math.round(x * s), Math.round(y * s), 1, 1).data;
        return d[0] + d[1] + d[2] > 3 * 0x30;""", json.loads(fetch(f"/api/captures/{logic}/decode?P=uart:rx=D3:baudrate=115200")[0])["annotations"][0],
        rows["top"])
    check(inked, "the first annotation's box is not drawn in the scope view's rows")
    page.find_element(By.ID, "show-window").click()
    # A Dual Channel capture has no logic inputs: the decoder waits, says so, and shows no stale table.
    choose(page, "mode", "dual")
    page.find_element(By.ID, "single").click()
    wait(page, f"const l = document.body.dataset.latest; return l && l !== '{logic}'", "a Dual Channel capture")
    said = wait(page, "return document.getElementById('decode-error').textContent", "the decoder waiting for logic inputs")
    check("no logic inputs" in said and not page.find_elements(By.CSS_SELECTOR, "#annotations tbody tr"),
          f"a Dual Channel capture with a decoder chosen: {said!r}")

    # ---- A page beyond the bound on pages is told why, and keeps trying ----
    crowded = subprocess.Popen([CLI, "serve", "--instant", "--listen", "127.0.0.1:0", "--max-pages", "1"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        crowded_url = re.search(r"(http://127\.0\.0\.1:\d+/)", crowded.stdout.readline()).group(1)
        home = page.current_window_handle
        for n in (1, 2):
            page.switch_to.new_window("tab")
            page.get(crowded_url)
            link = wait(page, "const l = document.body.dataset.link; return l === 'up' || l === 'refused' ? l : null;",
                        f"the live link of page {n} of a server that takes one")
            check(link == ("up" if n == 1 else "refused"), f"page {n} of a server that takes one: its link is {link}")
        said = page.find_element(By.ID, "link-error").text
        check("1 page watching it" in said and "--max-pages" in said, f"the refused page says {said!r}")
        for handle in page.window_handles:
            if handle != home:
                page.switch_to.window(handle)
                page.close()
        page.switch_to.window(home)
    finally:
        crowded.terminate()
        crowded.wait(timeout=20)

    errors = [e for e in page.get_log("browser") if e["level"] == "SEVERE" and "favicon" not in e["message"]
              and "status of 400" not in e["message"]]
    check(not errors, f"the page logged errors: {errors}")

    # ---- The instrument gone: a banner says so ----
    server.terminate()
    server.wait(timeout=20)
    said = wait(page, "const b = document.getElementById('offline'); return !b.hidden && b.textContent",
                "a banner while the instrument cannot be reached")
    check("cannot be reached" in said, f"the banner says {said!r}")
except Exception as error:  # a page that breaks is a failure, not a crash of the test
    fail(f"{type(error).__name__}: {error}")
    try:
        page.save_screenshot(f"{WORK}/failure.png")
        print(f"serve_page: the page as it was: {WORK}/failure.png", file=sys.stderr)
    except Exception as screenshot:
        print(f"serve_page: no picture of the page: {screenshot}", file=sys.stderr)
finally:
    page.quit()
    server.terminate()
    server.wait(timeout=20)

if failures:
    sys.exit(1)
if not os.environ.get("KEEP"): shutil.rmtree(WORK, ignore_errors=True)
print("serve_page: all checks passed")
