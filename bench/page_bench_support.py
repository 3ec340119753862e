"""What the browser benchmarks share: korvane-cli serve on the instant simulated device, a POST
to it, a summary of times, and Debian's headless Chromium driven by Selenium."""
import json
import re
import statistics
import subprocess
import tempfile
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service


def start_server(cli):
    """The server and its address."""
    server = subprocess.Popen([cli, "serve", "--instant", "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True)
    return server, re.search(r"http://\S+", server.stdout.readline()).group(0)


def post(url, path, body, content="application/json"):
    data = json.dumps(body).encode() if isinstance(body, dict) else body
    request = urllib.request.Request(url + path.lstrip("/"), data=data, headers={"Content-Type": content})
    with urllib.request.urlopen(request, timeout=30) as response:
        return json.loads(response.read())


def summary(times, unit="ms", percentile=95):
    times = sorted(times)
    return (f"median {statistics.median(times):.1f} {unit}, {percentile}th percentile "
            f"{times[int(len(times) * percentile / 100)]:.1f} {unit}, worst {times[-1]:.1f} {unit} over {len(times)}")


def chromium():
    options = Options()
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     f"--user-data-dir={tempfile.mkdtemp()}"):
        options.add_argument(argument)
    options.binary_location = "/usr/bin/chromium"
    page = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    page.set_script_timeout(30)
    return page
