"""perf_exporter served over loopback as Prometheus and hostile clients meet it.

    check_serving.py EXPORTER                       POSIX: the program, in a private platform root
    check_serving.py EXPORTER.exe --wine WINE_RUN   the Windows build under Wine, installed and started
                                                    as the service perf_exporter in a private prefix

It checks what the server carries (status, Content-Type, Allow, gzip, HEAD,
keep-alive), then that scrapes are not held up while each of these runs: 8
clients that send one byte a second and 100 idle connections (which the
server must cut off once its request time limit has passed, not before),
then 500 clients that each request the page over and over, then one client
address that hoards 1050 idle connections, more than the server holds in
all, and reopens each that the server closes (scrapes come from another
address and from that one, and the server keeps no more than the address's
share). Finally a stop
(SIGTERM; under Wine the service stop) must end serving at once while slow
clients are connected.

Every limit here is a bound a loaded machine (two shared cores, builds
running beside) stays well within, and that a server without the thing
checked misses by far: a scrape held by slow clients waits for their cut-off,
a stop that waits for them lasts until then, and clients nobody cuts off
stay for the quarter of an hour their request takes.

Every wait is bounded; everything started is stopped. Exit 0 when all holds."""
import gzip
import http.client
import os
import resource
import selectors
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

# The checks this script shares with the other loopback scripts.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from loopback_checks import check, failures, free_port, run_in_wine, timed_scrapes  # noqa: E402

REQUEST_LIMIT = 10  # the server's time for a request's headers (ServerLimits::requestSeconds)
# A scrape held up by slow or idle clients would wait for their cut-off, some
# REQUEST_LIMIT seconds; one that is not takes milliseconds, and well under
# this on a loaded machine.
SCRAPE_LIMIT = REQUEST_LIMIT / 2
# The stop starts half a second after slow clients connected: one that waited
# for them would last until their cut-off, nine seconds and more.
STOP_LIMIT = REQUEST_LIMIT / 2
# Lingering clients are cut off REQUEST_LIMIT seconds after they connect, not
# before (the server's timer starts once they are connected, whatever the
# load); and late by the load's delays at most, never by this much. Clients
# nobody cuts off stay connected for as long as they like.
CUT_OFF_LATEST = 3 * REQUEST_LIMIT
# What the server's timers may run early by: Windows' timers tick at about
# 16 ms.
TIMER_SLACK = 0.1
# More than the server's 1000 connections, all from one address, whose share
# is a quarter of them (ServerLimits::connectionsPerClient).
HOARDED = 1050
HOARDER = "127.0.0.2"
CLIENT_SHARE = 250
OPENMETRICS = "application/openmetrics-text; version=1.0.0; charset=utf-8"
CLASSIC = "text/plain; version=0.0.4; charset=utf-8"


def request(port, method="GET", path="/metrics", headers=None, timeout=10, source=None):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout,
                                            source_address=(source, 0) if source else None)
    try:
        connection.request(method, path, headers=headers or {})
        response = connection.getresponse()
        return response.status, dict(response.getheaders()), response.read()
    finally:
        connection.close()


def wait_until_serving(port, limit):
    until = time.monotonic() + limit
    while time.monotonic() < until:
        try:
            if request(port, timeout=2)[0] == 200:
                return True
        except OSError:
            pass
        time.sleep(0.2)
    return False


def check_answers(port):
    status, headers, body = request(port, path="/")
    check(status == 200 and headers.get("Content-Type", "").startswith("text/html") and b'href="/metrics"' in body,
          "/ is a landing page that links /metrics")
    status, headers, body = request(port)
    check(status == 200 and headers.get("Content-Type") == CLASSIC and b"perf_exporter_collection_success 1" in body,
          "/metrics without Accept is the classic text format")
    status, headers, body = request(port, headers={"Accept": "application/openmetrics-text;version=1.0.0,"
                                                             "text/plain;version=0.0.4;q=0.5,*/*;q=0.1",
                                                   "Accept-Encoding": "gzip"})
    check(status == 200 and headers.get("Content-Type") == OPENMETRICS and headers.get("Content-Encoding") == "gzip"
          and gzip.decompress(body).endswith(b"# EOF\n"), "Prometheus' Accept and gzip get OpenMetrics, compressed")
    status, headers, body = request(port, method="POST")
    check(status == 405 and headers.get("Allow") == "GET, HEAD", "POST /metrics: 405 with Allow: GET, HEAD")
    check(request(port, path="/metric")[0] == 404, "an unknown path: 404")
    status, headers, body = request(port, method="HEAD")
    check(status == 200 and body == b"" and int(headers.get("Content-Length", "0")) > 0,
          "HEAD /metrics: the length without the body")
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    try:
        statuses = []
        for _ in range(3):
            connection.request("GET", "/metrics")
            response = connection.getresponse()
            response.read()
            statuses.append(response.status)
        check(statuses == [200, 200, 200], "three requests over one kept-alive connection")
    finally:
        connection.close()
    status, _, _ = request(port, headers={"X-Large": "a" * 40000})
    check(status == 431, f"headers past 32 KB: 431, not {status}")
    with socket.create_connection(("127.0.0.1", port), timeout=10) as sock:
        sock.sendall(b"GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nno colon here\r\n\r\n" % port)
        answer = sock.recv(100)
    check(answer.startswith(b"HTTP/1.1 400"), f"a malformed request: 400, not {answer[:20]!r}")


class Load:
    """Clients that run in threads until stopped."""

    def __init__(self, port, name):
        self.port = port
        self.name = name
        self.stopping = threading.Event()
        self.threads = []
        self.sockets = []
        # For each client the server closed: how long after it began to
        # connect, and how long after its connection was there.
        self.closed_by_server = []
        self.lock = threading.Lock()
        self.under_way = 0  # clients that have connected, or had their first answer
        self.last_connected = 0.0  # when the last of them connected

    def arrived(self):
        with self.lock:
            self.under_way += 1
            self.last_connected = time.monotonic()

    def connect(self):
        """A connection, and the times just before it was asked for and once
        it was there."""
        asked = time.monotonic()
        sock = socket.create_connection(("127.0.0.1", self.port), timeout=30)
        with self.lock:
            self.sockets.append(sock)
        self.arrived()
        return sock, asked, time.monotonic()

    def closed(self, asked, connected):
        now = time.monotonic()
        with self.lock:
            self.closed_by_server.append((now - asked, now - connected))

    def start(self, count, body):
        barrier = threading.Barrier(count)

        def run():
            try:
                barrier.wait(timeout=60)
                body()
            except (OSError, ValueError, threading.BrokenBarrierError):
                pass

        for _ in range(count):
            thread = threading.Thread(target=run, daemon=True)
            thread.start()
            self.threads.append(thread)

    def wait_under_way(self):
        """Waits (boundedly) until every client connected."""
        until = time.monotonic() + 120
        while self.under_way < len(self.threads) and time.monotonic() < until:
            time.sleep(0.1)

    def stop(self):
        self.stopping.set()
        with self.lock:
            for sock in self.sockets:
                try:
                    sock.close()
                except OSError:
                    pass
        for thread in self.threads:
            thread.join(timeout=10)


def ended_by_server(sock):
    """Whether the server closed this connection: it turned readable and gives
    no more."""
    try:
        return sock.recv(1) == b""
    except OSError:
        return True


def slow_clients(load, count=8):
    """Each sends a request one byte a second (a quarter of an hour's worth),
    and notes when the server closed it."""

    def body():
        sock, asked, connected = load.connect()
        text = b"GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nX-Slow: %s\r\n\r\n" % (load.port, b"a" * 1000)
        for byte in text:
            readable = select.select([sock], [], [], 1.0)[0]
            if load.stopping.is_set():
                return
            if readable and ended_by_server(sock):
                load.closed(asked, connected)
                return
            try:
                sock.send(bytes([byte]))
            except OSError:
                load.closed(asked, connected)
                return

    load.start(count, body)


def idle_connections(load, count=100):

    def body():
        sock, asked, connected = load.connect()
        while not load.stopping.is_set():
            if select.select([sock], [], [], 1.0)[0] and ended_by_server(sock):
                load.closed(asked, connected)
                return

    load.start(count, body)


def full_requests(load, count=500):
    """Each requests the page over its kept-alive connection, reads the
    answer whole and asks again, as a busy client does; from ten addresses,
    as many clients come, each within an address's share of connections."""
    sources = [f"127.0.0.{10 + n % 10}" for n in range(count)]

    def body():
        with load.lock:
            source = sources.pop()
        connection = http.client.HTTPConnection("127.0.0.1", load.port, timeout=30, source_address=(source, 0))
        try:
            first = True
            while not load.stopping.is_set():
                connection.request("GET", "/metrics")
                connection.getresponse().read()
                if first:
                    load.arrived()
                    first = False
        finally:
            connection.close()

    load.start(count, body)


def check_under_load(port, name, start_load):
    """Starts the load and checks scrapes while it runs; the load goes on."""
    load = Load(port, name)
    start_load(load)
    load.wait_under_way()
    time.sleep(0.5)
    times = timed_scrapes(port)
    shown = ", ".join("failed" if t is None else f"{t:.3f} s" for t in times)
    check(len(times) > 0 and all(t is not None and t < SCRAPE_LIMIT for t in times),
          f"scrapes within {SCRAPE_LIMIT:g} s while {name} run: {shown}")
    return load


def check_cut_off(loads):
    """Whether the server closed every client of these loads once its request
    time limit had passed, and not much later."""
    until = max(load.last_connected for load in loads) + CUT_OFF_LATEST
    while time.monotonic() < until and any(len(load.closed_by_server) < len(load.threads) for load in loads):
        time.sleep(0.2)
    for load in loads:
        closed = load.closed_by_server
        earliest = min(asked for asked, _ in closed) if closed else 0.0
        latest = max(connected for _, connected in closed) if closed else 0.0
        check(len(closed) == len(load.threads) and earliest >= REQUEST_LIMIT - TIMER_SLACK and latest < CUT_OFF_LATEST,
              f"{load.name}: {len(closed)} of {len(load.threads)} cut off by the server, each between "
              f"{REQUEST_LIMIT} and {CUT_OFF_LATEST} s after it connected"
              + (f" (the first {earliest:.1f} s, the last {latest:.1f} s)" if closed else ""))


def check_hostile_clients(port):
    lingering = [check_under_load(port, "8 clients sending one byte a second", slow_clients),
                 check_under_load(port, "100 idle connections", idle_connections)]
    check_cut_off(lingering)
    for load in lingering:
        load.stop()
    check_under_load(port, "500 clients requesting the page", full_requests).stop()
    check_hoarding_client(port)


class Hoarder:
    """One client address that holds as many idle connections as it can and
    opens another for each that the server closes."""

    def __init__(self, port, count):
        self.port = port
        self.count = count
        self.stopping = threading.Event()
        self.reopening = threading.Event()
        self.reopening.set()
        self.opened = 0
        self.poller = selectors.DefaultSelector()
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def open_one(self):
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            sock.bind((HOARDER, 0))
            sock.settimeout(10)
            sock.connect(("127.0.0.1", self.port))
        except OSError:
            sock.close()
            return False
        sock.setblocking(False)
        self.poller.register(sock, selectors.EVENT_READ)
        self.opened += 1
        return True

    def run(self):
        while not self.stopping.is_set() and self.opened < self.count:
            if not self.open_one():
                time.sleep(0.05)
        while not self.stopping.is_set():
            for key, _ in self.poller.select(timeout=0.2):
                if self.reopening.is_set() and ended_by_server(key.fileobj):
                    self.poller.unregister(key.fileobj)
                    key.fileobj.close()
                    self.open_one()
            if not self.reopening.is_set():
                time.sleep(0.2)

    def held(self):
        """How many of its connections the server still holds, once it has
        stopped reopening them and the server has had time to close."""
        self.reopening.clear()
        time.sleep(2)
        alive = 0
        for key in list(self.poller.get_map().values()):
            try:
                alive += key.fileobj.recv(1, socket.MSG_PEEK) != b""
            except BlockingIOError:
                alive += 1
            except OSError:
                pass
        return alive

    def stop(self):
        self.stopping.set()
        self.thread.join(timeout=10)
        for key in list(self.poller.get_map().values()):
            key.fileobj.close()
        self.poller.close()


def check_hoarding_client(port):
    """A client that holds more idle connections than the server takes in all
    neither locks out another address nor its own newcomers, and keeps no more
    than its share."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, min(hard, HOARDED + 500)), hard))
    hoarder = Hoarder(port, HOARDED)
    try:
        until = time.monotonic() + 120
        while hoarder.opened < HOARDED and time.monotonic() < until:
            time.sleep(0.2)
        check(hoarder.opened >= HOARDED, f"one client opened {hoarder.opened} connections from {HOARDER}")
        for source, whose in (("127.0.0.1", "another address"), (HOARDER, "its own address")):
            times = timed_scrapes(port, 5, source)
            shown = ", ".join("failed" if t is None else f"{t:.3f} s" for t in times)
            check(len(times) == 5 and all(t is not None and t < SCRAPE_LIMIT for t in times),
                  f"scrapes from {whose} within {SCRAPE_LIMIT:g} s while one client hoards {HOARDED} idle "
                  f"connections, reopening each the server closes: {shown}")
        held = hoarder.held()
        check(held <= CLIENT_SHARE, f"the server holds {held} of the hoarder's connections, within its share of "
              f"{CLIENT_SHARE}")
    finally:
        hoarder.stop()


def check_stop(port, what, stop):
    """Stops the exporter with `stop` (which gives the exit code, or None when
    it did not end) while slow clients are connected, and times it."""
    load = Load(port, "slow clients")
    slow_clients(load)
    load.wait_under_way()
    time.sleep(0.5)
    start = time.monotonic()
    code = stop()
    took = time.monotonic() - start
    check(code == 0 and took < STOP_LIMIT,
          f"{what} with slow clients connected: exit {code} after {took:.2f} s (within {STOP_LIMIT:g} s)")
    try:
        request(port, timeout=2)
        answered = True
    except OSError:
        answered = False
    check(not answered, "nothing answers once it stopped")
    load.stop()


def check_failed_reading(program, root):
    """A platform root that cannot hold a registry makes every reading fail:
    the page still comes, saying so, and the failure is told once."""
    unusable = os.path.join(root, "not-a-folder")
    open(unusable, "w").close()
    port = free_port()
    exporter = subprocess.Popen([program, "--web.listen-address", f"127.0.0.1:{port}"],
                                env=dict(os.environ, WINPLATFORM_ROOT=unusable), stderr=subprocess.PIPE, text=True)
    try:
        if not wait_until_serving(port, 60):
            check(False, "an exporter whose readings fail still serves")
            return
        status, headers, body = request(port, headers={"Accept": "application/openmetrics-text"})
        check(status == 200 and b"\nperf_exporter_collection_success 0\n" in body and body.endswith(b"# EOF\n"),
              "a failed reading answers a valid page with perf_exporter_collection_success 0")
    finally:
        exporter.terminate()
        said = exporter.communicate(timeout=30)[1]
    failures_told = [line for line in said.splitlines() if "failed" in line]
    check(len(failures_told) == 1 and '"Counter 009" failed: error' in failures_told[0],
          f"the failure is told once on standard error: {failures_told}")


def run_posix(program):
    root = tempfile.mkdtemp(prefix="exporter-serving-")
    port = free_port()
    environment = dict(os.environ, WINPLATFORM_ROOT=root)
    exporter = subprocess.Popen([program, "--web.listen-address", f"127.0.0.1:{port}"], env=environment)
    try:
        check(wait_until_serving(port, 60), f"the exporter serves on 127.0.0.1:{port}")
        if failures:
            return
        check_answers(port)
        check_hostile_clients(port)

        def terminate():
            exporter.send_signal(signal.SIGTERM)
            try:
                return exporter.wait(timeout=10)
            except subprocess.TimeoutExpired:
                return None

        check_stop(port, "SIGTERM", terminate)
        check_failed_reading(program, root)
    finally:
        if exporter.poll() is None:
            exporter.kill()
            exporter.wait()
        shutil.rmtree(root, ignore_errors=True)


def service_account(wine):
    """The account the service control manager keeps for perf_exporter."""
    result = wine("reg", "query", "HKLM\\System\\CurrentControlSet\\Services\\perf_exporter", "/v", "ObjectName")
    for line in result.stdout.splitlines():
        words = line.split(None, 2)
        if len(words) == 3 and words[0] == "ObjectName" and words[1] == "REG_SZ":
            return words[2].strip()
    return None


def run_wine(program, wine_run):
    prefix = tempfile.mkdtemp(prefix="exporter-serving-wine-")
    port = free_port()

    def wine(*arguments, timeout=120):
        return run_in_wine(wine_run, prefix, *arguments, timeout=timeout)

    installed = False
    try:
        # Services live as long as the prefix's wineserver; without another
        # program in the prefix it would end a few seconds after the last.
        subprocess.run([wine_run, prefix, "--persist"], check=True, timeout=300)
        # Another account than the default, one without a password: the
        # service control manager keeps it. Wine knows no virtual accounts, so
        # the membership may be left to the command the warning gives.
        result = wine(program, "--install-service", "--service-account", "NT SERVICE\\perf_exporter")
        check(result.returncode == 0 and service_account(wine) == "NT SERVICE\\perf_exporter"
              and ("runs as NT SERVICE\\perf_exporter, a member of Performance Monitor Users" in result.stdout
                   or 'net localgroup "Performance Monitor Users" "NT SERVICE\\perf_exporter" /add' in result.stdout),
              "--install-service --service-account NT SERVICE\\perf_exporter: " + result.stdout.strip())
        check(wine(program, "--uninstall-service").returncode == 0, "--uninstall-service of that one")
        # The system's own account may read performance data already.
        result = wine(program, "--install-service", "--service-account", "LocalSystem")
        check(result.returncode == 0 and service_account(wine) == "LocalSystem"
              and "runs as LocalSystem, which may read performance data" in result.stdout,
              "--install-service --service-account LocalSystem: " + result.stdout.strip())
        check(wine(program, "--uninstall-service").returncode == 0, "--uninstall-service of that one")
        result = wine(program, "--install-service", "--web.listen-address", f"127.0.0.1:{port}")
        installed = result.returncode == 0
        check(installed, "--install-service: " + result.stdout.strip())
        check(service_account(wine) == "NT AUTHORITY\\LocalService"
              and "runs as NT AUTHORITY\\LocalService, a member of Performance Monitor Users" in result.stdout,
              f"the service runs as the local service account ({service_account(wine)}), which may read "
              "performance data: " + result.stdout.strip())
        again = wine(program, "--install-service")
        check(again.returncode == 1 and "installed already; --uninstall-service first" in again.stdout,
              "--install-service a second time: " + again.stdout.strip())
        console = wine(program, "--service")
        check(console.returncode == 1 and "--service is for the service control manager" in console.stdout,
              "--service from a console: " + console.stdout.strip())
        result = wine("net", "start", "perf_exporter")
        check(result.returncode == 0, "net start perf_exporter: " + result.stdout.strip())
        check(wait_until_serving(port, 90), f"the service serves on 127.0.0.1:{port}")
        if failures:
            return
        check_answers(port)
        check_hostile_clients(port)

        check_stop(port, "net stop", lambda: wine("net", "stop", "perf_exporter", timeout=30).returncode)
        result = wine("sc", "query", "perf_exporter")
        check("STOPPED" in result.stdout, "the service control manager says it stopped")
    finally:
        if installed:
            result = wine(program, "--uninstall-service")
            check(result.returncode == 0, "--uninstall-service: " + result.stdout.strip())
            check(wine("sc", "query", "perf_exporter").returncode != 0, "the service is gone")
            result = wine(program, "--uninstall-service")
            check(result.returncode == 0 and "not installed; nothing to remove" in result.stdout,
                  "--uninstall-service once it is gone: " + result.stdout.strip())
        subprocess.run([wine_run, prefix, "--stop"], timeout=60)
        shutil.rmtree(prefix, ignore_errors=True)


def main():
    arguments = sys.argv[1:]
    if len(arguments) == 1:
        run_posix(arguments[0])
    elif len(arguments) == 3 and arguments[1] == "--wine":
        run_wine(arguments[0], arguments[2])
    else:
        sys.exit(__doc__)
    if failures:
        sys.exit(f"{len(failures)} check(s) failed")


main()
