"""perf_exporter's graph page in headless Chromium, against the sample host.

    check_graph_page.py BIN_DIR SCREENSHOT.png                    POSIX: a private platform root
    check_graph_page.py BIN_DIR SCREENSHOT.png --wine WINE_RUN    the Windows build in a private Wine prefix

A platform root (or Wine prefix) with the component registered, the sample
host's steady load and perf_exporter on a loopback port (under Wine as the
service perf_exporter), as the Prometheus test makes them; Debian's chromium, driven over WebDriver by chromedriver, opens /graph
and picks its lines with the page's own pickers. The host's values change
only in known steps: it is restarted with factors 1, 2 and 3. After each
step, once the page has refreshed twice since the data changed, each line's
latest value in the DOM (data-values) must equal what perfquery -f JSON reads
for the same path at that moment, and what the host sets; each line's
history must hold the three steps in order. The screenshot is kept at
SCREENSHOT.png and must show every line's colour inside the graph.

Every wait is bounded; everything started is stopped. Exit 0 when all
holds; 77 (skipped) with the reason when no browser can run here, unless
GRAPH_PAGE_TEST_REQUIRED is set, which makes that a failure."""
import base64
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from loopback_checks import check, failures, free_port  # noqa: E402
from loopback_machines import (Machines, fetch, posix_exporter, posix_host, posix_root, wait_for,  # noqa: E402
                               windows_exporter, windows_host, windows_prefix)

SKIPPED = 77


class PosixTarget:
    """The POSIX build in a platform root."""
    names = {"sessions": "RV Sample Sessions", "active": "Active Requests",
             "memory": "RV Sample Memory", "heap": "Heap Bytes", "cache": "Cache Entries"}

    def __init__(self, machines, bin_dir):
        self.machines, self.bin_dir = machines, bin_dir
        self.environment = posix_root(machines, bin_dir, "posix")
        self.host = posix_host(machines, bin_dir, self.environment, 1)
        self.port = posix_exporter(machines, bin_dir, self.environment)

    def restart_host(self, factor):
        self.machines.stop_one(self.host)
        self.host = posix_host(self.machines, self.bin_dir, self.environment, factor)

    def perfquery(self, paths):
        result = subprocess.run([os.path.join(self.bin_dir, "perfquery"), *paths, "-f", "JSON"],
                                env=self.environment, capture_output=True, text=True, timeout=60)
        return json_row(result.returncode, result.stdout)


class WineTarget:
    """The Windows build in a private Wine prefix, which installs no names:
    objects and counters go by their indices."""
    names = {"sessions": "#10000", "active": "#10002", "memory": "#10010", "heap": "#10012", "cache": "#10014"}

    def __init__(self, machines, bin_dir, wine_run):
        self.machines, self.bin_dir = machines, bin_dir
        windows_prefix(machines, bin_dir, wine_run)
        self.host = windows_host(machines, bin_dir, 1)
        self.port = windows_exporter(machines, bin_dir)

    def restart_host(self, factor):
        self.machines.stop_one(self.host)
        self.host = windows_host(self.machines, self.bin_dir, factor)

    def perfquery(self, paths):
        result = self.machines.wine(os.path.join(self.bin_dir, "perfquery.exe"), *paths, "-f", "JSON")
        return json_row(result.returncode, result.stdout)


def json_row(code, output):
    """The values of perfquery's one JSON sample, by path; none when it failed."""
    rows = [line for line in output.splitlines() if line.startswith("{")]
    if code != 0 or not rows:
        return {}
    row = json.loads(rows[-1])
    row.pop("time")
    return row


def expected(names, factor):
    """What the steady host sets for the lines the test picks, by the path
    the page asks for."""
    sessions, memory = names["sessions"], names["memory"]
    return {f"\\{sessions}(client-2)\\{names['active']}": 2 * factor,
            f"\\{sessions}(client-3)\\{names['active']}": 3 * factor,
            f"\\{memory}\\{names['heap']}": factor * 10**9,
            f"\\{memory}\\{names['cache']}": 1000 * factor}


class BrowserUnavailable(Exception):
    """No browser can run here: the test is skipped, saying why."""


class Browser:
    """A chromedriver and its one Chromium session, over WebDriver's HTTP API."""

    ELEMENT = "element-6066-11e4-a52e-4f735466cecf"

    def __init__(self, machines, chromedriver, chromium):
        self.port = free_port()
        machines.start([chromedriver, f"--port={self.port}"], log="chromedriver.log")
        self.base = f"http://127.0.0.1:{self.port}"
        self.session = None
        until = time.monotonic() + 30
        while not self.ready():
            if time.monotonic() > until:
                raise BrowserUnavailable(f"{chromedriver} did not start within 30 s")
            time.sleep(0.2)
        profile = os.path.join(machines.work, "chromium-profile")
        options = {"binary": chromium,
                   "args": ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                            "--window-size=1000,1000", "--force-device-scale-factor=1", f"--user-data-dir={profile}"]}
        try:
            answer = self.call("POST", "/session", {"capabilities": {"alwaysMatch": {
                "browserName": "chrome", "goog:chromeOptions": options}}})
        except RuntimeError as error:
            raise BrowserUnavailable(f"Chromium cannot run here: {error}") from None
        self.session = answer["sessionId"]

    def ready(self):
        try:
            return self.call("GET", "/status")["ready"]
        except OSError:
            return False

    def call(self, method, path, body=None):
        data = json.dumps(body).encode() if body is not None else None
        request = urllib.request.Request(self.base + path, data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(request, timeout=60) as answer:
                return json.loads(answer.read())["value"]
        except urllib.error.HTTPError as error:
            said = error.read().decode("utf-8", "replace")
            try:
                said = json.loads(said)["value"]["message"]
            except (ValueError, KeyError, TypeError):
                pass
            raise RuntimeError(f"WebDriver {method} {path}: {said}") from None

    def command(self, method, path, body=None):
        return self.call(method, f"/session/{self.session}{path}", body)

    def run(self, script, *arguments):
        return self.command("POST", "/execute/sync", {"script": script, "args": list(arguments)})

    def find(self, selector):
        found = self.command("POST", "/element", {"using": "css selector", "value": selector})
        if self.ELEMENT not in found:
            raise RuntimeError(f"no element {selector} on the page: {found}")
        return found[self.ELEMENT]

    def click(self, selector):
        self.command("POST", f"/element/{self.find(selector)}/click", {})

    def rect(self, selector):
        return self.command("GET", f"/element/{self.find(selector)}/rect")

    def quit(self):
        if self.session:
            try:
                self.call("DELETE", f"/session/{self.session}")
            except (OSError, RuntimeError):
                pass


def browser_programs():
    """chromium and chromedriver, or None with the reason to skip."""
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    chromedriver = shutil.which("chromedriver")
    if not chromium or not chromedriver:
        return None, "Debian's chromium and chromium-driver are not installed (scripts/setup.sh installs them)"
    return (chromedriver, chromium), None


def page_lines(browser):
    return browser.run("""return [...document.querySelectorAll('#graph g.line')].map((g) => ({
        path: g.dataset.path, asked: g.dataset.asked, scale: Number(g.dataset.scale),
        values: g.dataset.values.split(',').map((v) => (v === '' ? null : Number(v))),
        colour: g.querySelector('path').getAttribute('stroke'),
        drawn: g.querySelector('path').getAttribute('d')}));""")


def refreshes(browser):
    return int(browser.run("return document.getElementById('graph').dataset.refreshes;"))


def pick(browser, object_name, instances, counters):
    browser.click(f'#object option[value="{object_name}"]')
    for name in instances:
        browser.click(f'#instances input[value="{name}"]')
    for name in counters:
        browser.click(f'#counters input[value="{name}"]')
    browser.click("#add")


def png_pixels(data):
    """The width, height and RGB rows of an 8-bit RGB or RGBA PNG without
    interlacing, as Chromium writes its screenshots."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    at, idat = 8, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and colour in (2, 6) and interlace == 0, "an unexpected PNG layout"
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    stride = 4 if colour == 6 else 3
    raw = zlib.decompress(idat)
    rows, previous, at = [], bytearray(width * stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + width * stride])
        at += 1 + width * stride
        for i in range(len(line)):
            left = line[i - stride] if i >= stride else 0
            up = previous[i]
            corner = previous[i - stride] if i >= stride else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 255
        rows.append([tuple(line[x * stride:x * stride + 3]) for x in range(width)])
        previous = line
    return width, height, rows


def colour_counts(png, rect):
    width, height, rows = png_pixels(png)
    counts = {}
    for y in range(int(rect["y"]), min(height, int(rect["y"] + rect["height"]))):
        for x in range(int(rect["x"]), min(width, int(rect["x"] + rect["width"]))):
            pixel = rows[y][x]
            counts[pixel] = counts.get(pixel, 0) + 1
    return counts


def rgb(colour):
    return tuple(int(colour[i:i + 2], 16) for i in (1, 3, 5))


def run(target, machines, screenshot, programs):
    names = target.names
    data = f"http://127.0.0.1:{target.port}/graph/data"
    if not wait_for("the exporter serves the host's objects",
                    lambda: '"client-3"' in fetch(data) and f'"{names["memory"]}"' in fetch(data), 90):
        return
    browser = Browser(machines, *programs)
    try:
        browser.command("POST", "/url", {"url": f"http://127.0.0.1:{target.port}/graph"})
        wait_for("the page's first refresh", lambda: refreshes(browser) >= 1, 30)
        pick(browser, names["sessions"], ["client-2", "client-3"], [names["active"]])
        pick(browser, names["memory"], [], [names["heap"], names["cache"]])
        paths = list(expected(names, 1))
        for factor in (1, 2, 3):
            if factor != 1:
                target.restart_host(factor)
            wanted = expected(names, factor)
            if not wait_for(f"perfquery reads the values of factor {factor}",
                            lambda: sorted(target.perfquery(paths).values()) == sorted(wanted.values()), 90):
                return
            # A refresh that began before the data changed may still show
            # the old values: wait for two more.
            start = refreshes(browser)
            wait_for(f"two refreshes after step {factor}", lambda: refreshes(browser) >= start + 2, 30)
            lines = page_lines(browser)
            read = target.perfquery(paths)
            latest = {line["path"]: line["values"][-1] for line in lines}
            check(latest == read, f"step {factor}: the page's latest values are what perfquery reads: "
                                  f"page {latest}, perfquery {read}")
            by_asked = {line["asked"]: line["values"][-1] for line in lines}
            check(by_asked == wanted, f"step {factor}: they are what the host sets: {by_asked}")
        final = {line["path"]: line for line in page_lines(browser)}
        for path, line in final.items():
            steps = []
            for value in line["values"]:
                if value is not None and (not steps or steps[-1] != value):
                    steps.append(value)
            wanted = [expected(names, factor)[line["asked"]] for factor in (1, 2, 3)]
            check(steps == wanted, f"{path}: the line's history holds the three steps {wanted}: {steps}")
            check(line["drawn"].count("L") >= 2, f"{path}: the line is drawn ({line['drawn'][:60]}...)")
        scales = {line["asked"]: line["scale"] for line in final.values()}
        check(scales == {paths[0]: 0, paths[1]: 0, paths[2]: -9, paths[3]: -2},
              f"each line keeps its counter's DefaultScale: {scales}")
        legend = browser.run("return [...document.querySelectorAll('#legend tbody tr')]"
                             ".map((row) => row.cells[1].textContent);")
        check(sorted(legend) == sorted(final), f"every line is labelled with its path: {legend}")

        png = base64.b64decode(browser.command("GET", "/screenshot"))
        with open(screenshot, "wb") as file:
            file.write(png)
        counts = colour_counts(png, browser.rect("#graph"))
        for path, line in final.items():
            seen = counts.get(rgb(line["colour"]), 0)
            check(seen >= 100, f"the screenshot shows {path} in {line['colour']} inside the graph ({seen} pixels)")
        print(f"screenshot: {screenshot}")
    finally:
        browser.quit()


def skip(reason):
    if os.environ.get("GRAPH_PAGE_TEST_REQUIRED"):
        sys.exit(f"the browser test cannot run: {reason}")
    print(f"SKIPPED: {reason}")
    sys.exit(SKIPPED)


def main():
    arguments = sys.argv[1:]
    if len(arguments) not in (2, 4) or (len(arguments) == 4 and arguments[2] != "--wine"):
        sys.exit(__doc__)
    bin_dir, screenshot = arguments[:2]
    programs, reason = browser_programs()
    if programs is None:
        skip(reason)
    work = tempfile.mkdtemp(prefix="graph-page-test-")
    machines = Machines(work)
    skipped = None
    try:
        target = WineTarget(machines, bin_dir, arguments[3]) if len(arguments) == 4 else PosixTarget(machines, bin_dir)
        run(target, machines, screenshot, programs)
    except BrowserUnavailable as error:
        skipped = str(error)
    except RuntimeError as error:
        check(False, str(error))
    finally:
        machines.close()
    if skipped:
        skip(skipped)
    if failures:
        sys.exit(f"{len(failures)} check(s) failed")


main()
