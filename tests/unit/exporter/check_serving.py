"""perf_exporter served over loopback as Prometheus and hostile clients meet it.

    check_serving.py EXPORTER                       POSIX: the program, in a private platform root
    check_serving.py EXPORTER.exe --wine WINE_RUN   the Windows build under Wine, installed and started
                                                    as the service perf_exporter in a private prefix

It checks what the server carries (status, Content-Type, Allow, gzip, HEAD,
keep-alive), then that scrapes answer within a second while each of these
runs: 8 clients that send one byte a second, 100 idle connections, 500
clients that each request the page over and over. On POSIX it also checks
that the server cuts slow and idle clients off after its request time limit
(the HTTP Server API under Wine takes no limits: that is shown, not
checked), and finally that a stop (SIGTERM; under Wine the service stop)
ends serving within two seconds while slow clients are connected.

Every wait is bounded; everything started is stopped. Exit 0 when all holds."""
import gzip
import http.client
import os
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
from loopback_checks import check, failures, free_port, run_in_wine  # noqa: E402

SCRAPE_LIMIT = 1.0  # seconds a scrape may take under load
STOP_LIMIT = 2.0  # seconds a stop may take
REQUEST_LIMIT = 10  # the server's time for a request's headers (ServerLimits)
OPENMETRICS = "application/openmetrics-text; version=1.0.0; charset=utf-8"
CLASSIC = "text/plain; version=0.0.4; charset=utf-8"


def request(port, method="GET", path="/metrics", headers=None, timeout=10):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
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


def timed_scrapes(port, count=3):
    """The time of each of `count` scrapes, None for one that failed, taken
    by a process of its own: the loads' threads share this one's lock."""
    result = subprocess.run([sys.executable, __file__, "--scrape", str(port), str(count)], capture_output=True,
                            text=True, timeout=60)
    return [None if word == "failed" else float(word) for word in result.stdout.split()]


def scrape_times(port, count):
    times = []
    for _ in range(count):
        start = time.monotonic()
        try:
            status, _, body = request(port, headers={"Accept": "application/openmetrics-text"}, timeout=5)
            ok = status == 200 and body.endswith(b"# EOF\n")
        except OSError:
            ok = False
        times.append(time.monotonic() - start if ok else None)
        time.sleep(0.2)
    return times


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

    def __init__(self, port):
        self.port = port
        self.stopping = threading.Event()
        self.threads = []
        self.sockets = []
        self.closed_by_server = []
        self.lock = threading.Lock()
        self.under_way = 0  # clients that have connected, or had their first answer

    def arrived(self):
        with self.lock:
            self.under_way += 1

    def connect(self):
        sock = socket.create_connection(("127.0.0.1", self.port), timeout=30)
        with self.lock:
            self.sockets.append(sock)
        self.arrived()
        return sock

    def start(self, count, body):
        barrier = threading.Barrier(count)

        def run():
            try:
                barrier.wait(timeout=30)
                body()
            except (OSError, threading.BrokenBarrierError):
                pass

        for _ in range(count):
            thread = threading.Thread(target=run, daemon=True)
            thread.start()
            self.threads.append(thread)

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


def slow_clients(load, count=8):
    """Each sends a request one byte a second, and notes when the server closed it."""
    opened = time.monotonic()

    def body():
        sock = load.connect()
        text = b"GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nX-Slow: %s\r\n\r\n" % (load.port, b"a" * 1000)
        for byte in text:
            if load.stopping.wait(1.0):
                return
            try:
                sock.send(bytes([byte]))
            except OSError:
                with load.lock:
                    load.closed_by_server.append(time.monotonic() - opened)
                return

    load.start(count, body)


def idle_connections(load, count=100):
    opened = time.monotonic()

    def body():
        sock = load.connect()
        sock.settimeout(1.0)
        while not load.stopping.is_set():
            try:
                if sock.recv(1) == b"":
                    with load.lock:
                        load.closed_by_server.append(time.monotonic() - opened)
                    return
            except socket.timeout:
                continue

    load.start(count, body)


def full_requests(load, count=500):
    """Each requests the page over its kept-alive connection, reads the
    answer whole and asks again, as a busy client does."""

    def body():
        connection = http.client.HTTPConnection("127.0.0.1", load.port, timeout=30)
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
    load = Load(port)
    load.name = name
    start_load(load)
    until = time.monotonic() + 60
    while load.under_way < len(load.threads) and time.monotonic() < until:
        time.sleep(0.1)
    time.sleep(0.5)
    times = timed_scrapes(port)
    shown = ", ".join("failed" if t is None else f"{t:.3f} s" for t in times)
    check(all(t is not None and t < SCRAPE_LIMIT for t in times),
          f"scrapes within {SCRAPE_LIMIT} s while {name} run: {shown}")
    return load


def check_cut_off(loads, limits_apply):
    """Whether the server closed every client of these loads in time."""
    until = time.monotonic() + REQUEST_LIMIT + 5
    while time.monotonic() < until and any(len(load.closed_by_server) < len(load.threads) for load in loads):
        time.sleep(0.2)
    for load in loads:
        closed = sorted(load.closed_by_server)
        latest = f", the last after {closed[-1]:.1f} s" if closed else ""
        message = f"{load.name}: {len(closed)} of {len(load.threads)} cut off by the server{latest}"
        if limits_apply:
            check(len(closed) == len(load.threads) and closed[-1] < REQUEST_LIMIT + 3, message)
        else:
            print("note  " + message + " (the system's server takes no limits here)", flush=True)


def check_hostile_clients(port, limits_apply):
    lingering = [check_under_load(port, "8 clients sending one byte a second", slow_clients),
                 check_under_load(port, "100 idle connections", idle_connections)]
    check_under_load(port, "500 clients requesting the page", full_requests).stop()
    check_cut_off(lingering, limits_apply)
    for load in lingering:
        load.stop()


def check_stop(port, what, stop):
    """Stops the exporter with `stop` (which gives the exit code, or None when
    it did not end) while slow clients are connected, and times it."""
    load = Load(port)
    slow_clients(load)
    time.sleep(1.5)
    start = time.monotonic()
    code = stop()
    took = time.monotonic() - start
    check(code == 0 and took < STOP_LIMIT, f"{what} with slow clients connected: exit {code} after {took:.2f} s")
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
        if not wait_until_serving(port, 20):
            check(False, "an exporter whose readings fail still serves")
            return
        status, headers, body = request(port, headers={"Accept": "application/openmetrics-text"})
        check(status == 200 and b"\nperf_exporter_collection_success 0\n" in body and body.endswith(b"# EOF\n"),
              "a failed reading answers a valid page with perf_exporter_collection_success 0")
    finally:
        exporter.terminate()
        said = exporter.communicate(timeout=10)[1]
    failures_told = [line for line in said.splitlines() if "failed" in line]
    check(len(failures_told) == 1 and '"Counter 009" failed: error' in failures_told[0],
          f"the failure is told once on standard error: {failures_told}")


def run_posix(program):
    root = tempfile.mkdtemp(prefix="exporter-serving-")
    port = free_port()
    environment = dict(os.environ, WINPLATFORM_ROOT=root)
    exporter = subprocess.Popen([program, "--web.listen-address", f"127.0.0.1:{port}"], env=environment)
    try:
        check(wait_until_serving(port, 20), f"the exporter serves on 127.0.0.1:{port}")
        if failures:
            return
        check_answers(port)
        check_hostile_clients(port, True)


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
        result = wine(program, "--install-service", "--web.listen-address", f"127.0.0.1:{port}")
        installed = result.returncode == 0
        check(installed, "--install-service: " + result.stdout.strip())
        again = wine(program, "--install-service")
        check(again.returncode == 1 and "installed already; --uninstall-service first" in again.stdout,
              "--install-service a second time: " + again.stdout.strip())
        console = wine(program, "--service")
        check(console.returncode == 1 and "--service is for the service control manager" in console.stdout,
              "--service from a console: " + console.stdout.strip())
        result = wine("net", "start", "perf_exporter")
        check(result.returncode == 0, "net start perf_exporter: " + result.stdout.strip())
        check(wait_until_serving(port, 30), f"the service serves on 127.0.0.1:{port}")
        if failures:
            return
        check_answers(port)
        check_hostile_clients(port, True)

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
    if len(arguments) == 3 and arguments[0] == "--scrape":
        print(" ".join("failed" if t is None else str(t) for t in scrape_times(int(arguments[1]), int(arguments[2]))))
        return
    if len(arguments) == 1:
        run_posix(arguments[0])
    elif len(arguments) == 3 and arguments[1] == "--wine":
        run_wine(arguments[0], arguments[2])
    else:
        sys.exit(__doc__)
    if failures:
        sys.exit(f"{len(failures)} check(s) failed")


main()
