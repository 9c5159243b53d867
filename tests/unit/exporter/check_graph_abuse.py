"""perf_exporter's graph data asked for by clients that want as much of them
as one request can carry, while Prometheus scrapes.

    check_graph_abuse.py BIN_DIR                   POSIX: the sample host and perf_exporter in a platform root
    check_graph_abuse.py BIN_DIR --wine WINE_RUN   the Windows build in a private Wine prefix, the exporter
                                                   as the service perf_exporter

Twenty clients ask over and over for /graph/data with 1,800 paths of every
counter each (a 30 KB query: an answer of megabytes), twenty more ask for
64 such paths and never read their answers. Meanwhile scrapes of /metrics,
from a process of their own, must each take well under the seconds that
they took when the graph data were made on the scraper's thread, and the
exporter must not grow by more than a bound far below what it grew by then
(the answers it holds for the clients that never read). The bounds
themselves are checked too: 1,800 paths answer 400, 64 paths of every
counter answer 200 or, past the answer's limit, 413.

Every wait is bounded; everything started is stopped. Exit 0 when all holds."""
import os
import socket
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from loopback_checks import check, failures, timed_scrapes  # noqa: E402
from loopback_machines import Machines, fetch, posix_machine, wait_for, windows_machine  # noqa: E402

EVERY_COUNTER = "path=%5C*(*)%5C*"
GREEDY_PATHS = 1800
PATHS_LIMIT = 64  # GraphPathsLimit
# A scrape that waited for the graph data of one greedy request waited for
# megabytes of JSON to be made; one that does not takes milliseconds, and
# well under this on a loaded machine.
SCRAPE_LIMIT = 5.0
# What the answers held for the clients that never read (1 MB each at most)
# and the requests waiting for the graph's thread take; the exporter grew by
# a hundred megabytes within seconds when answers had no limit.
GROWTH_LIMIT = 50 * 1024 * 1024
# The same under AddressSanitizer, whose allocator and shadow memory grow
# with every block allocated (some 40 MB here).
ASAN_GROWTH_LIMIT = 150 * 1024 * 1024


def graph_request(port, paths):
    return ("GET /graph/data?" + "&".join([EVERY_COUNTER] * paths) +
            f" HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nConnection: close\r\n\r\n").encode()


def status_of(port, paths):
    try:
        with urllib.request.urlopen(f"http://127.0.0.1:{port}/graph/data?" + "&".join([EVERY_COUNTER] * paths),
                                    timeout=60) as answer:
            return answer.status, answer.read()
    except urllib.error.HTTPError as error:
        return error.code, error.read()


def exporter_memory():
    """The resident bytes of the exporter's process (the service's own under
    Wine), found by its program's name."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as file:
                program = file.read().split(b"\0")[0].decode(errors="replace")
            if "perf_exporter" not in program.replace("\\", "/").split("/")[-1]:
                continue
            with open(f"/proc/{entry}/status") as file:
                for line in file:
                    if line.startswith("VmRSS:"):
                        return int(line.split()[1]) * 1024
        except OSError:
            continue
    return None


class Abuse:
    """Greedy clients that read their answers and ask again, and clients that
    ask and never read."""

    def __init__(self, port):
        self.port = port
        self.stopping = threading.Event()
        self.answers = 0
        self.lock = threading.Lock()
        self.threads = [threading.Thread(target=self.greedy, daemon=True) for _ in range(20)]
        self.threads += [threading.Thread(target=self.never_reading, daemon=True) for _ in range(20)]
        for thread in self.threads:
            thread.start()

    def greedy(self):
        request = graph_request(self.port, GREEDY_PATHS)
        while not self.stopping.is_set():
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=30) as sock:
                    sock.sendall(request)
                    while sock.recv(65536):
                        pass
                with self.lock:
                    self.answers += 1
            except OSError:
                time.sleep(0.1)

    def never_reading(self):
        request = graph_request(self.port, PATHS_LIMIT)
        try:
            with socket.create_connection(("127.0.0.1", self.port), timeout=30) as sock:
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
                sock.sendall(request)
                self.stopping.wait(120)
        except OSError:
            pass

    def stop(self):
        self.stopping.set()
        for thread in self.threads:
            thread.join(timeout=35)


def run(port):
    if not wait_for("the exporter serves the sample host's counters",
                    lambda: '"client-3"' in fetch(f"http://127.0.0.1:{port}/graph/data"), 120):
        return
    status, body = status_of(port, GREEDY_PATHS)
    check(status == 400 and body == b"Bad query: 1800 paths; at most 64 at once\n",
          f"{GREEDY_PATHS} paths: {status} {body[:60]!r}")
    status, body = status_of(port, PATHS_LIMIT)
    check(status == 200 and body.startswith(b'{"machine"') or
          status == 413 and body.startswith(b"The graph data asked for would pass"),
          f"{PATHS_LIMIT} paths of every counter: {status} {body[:40]!r}")

    before = exporter_memory()
    check(before is not None, "the exporter's process is found")
    abuse = Abuse(port)
    try:
        peak = before or 0
        until = time.monotonic() + 5
        while time.monotonic() < until:
            peak = max(peak, exporter_memory() or 0)
            time.sleep(0.2)
        times = timed_scrapes(port, 5)
        peak = max(peak, exporter_memory() or 0)
        shown = ", ".join("failed" if t is None else f"{t:.3f} s" for t in times)
        check(len(times) == 5 and all(t is not None and t < SCRAPE_LIMIT for t in times),
              f"scrapes within {SCRAPE_LIMIT:g} s while 20 clients ask for the graph data of {GREEDY_PATHS} paths "
              f"over and over and 20 never read theirs: {shown}")
        check(abuse.answers > 0, f"the greedy clients were answered ({abuse.answers} answers)")
        if before:
            growth = peak - before
            check(growth < GROWTH_LIMIT, f"the exporter grew by {growth / 1048576:.1f} MB meanwhile "
                                         f"(within {GROWTH_LIMIT / 1048576:.0f} MB)")
    finally:
        abuse.stop()


def main():
    arguments = sys.argv[1:]
    if len(arguments) not in (1, 3) or (len(arguments) == 3 and arguments[1] != "--wine"):
        sys.exit(__doc__)
    # AddressSanitizer keeps what is freed in a quarantine of up to 256 MB,
    # and its allocator's caches and shadow take tens of MB more, all of which
    # would count as growth; the check is of what the exporter keeps.
    global GROWTH_LIMIT
    if "ASAN_OPTIONS" in os.environ:
        os.environ["ASAN_OPTIONS"] += ":quarantine_size_mb=4:thread_local_quarantine_size_kb=64"
        GROWTH_LIMIT = ASAN_GROWTH_LIMIT
    machines = Machines(tempfile.mkdtemp(prefix="graph-abuse-"))
    try:
        if len(arguments) == 3:
            port = windows_machine(machines, arguments[0], arguments[2], 1)
        else:
            port = posix_machine(machines, arguments[0], "posix", 1)
        if not failures:
            run(port)
    finally:
        machines.close()
    if failures:
        sys.exit(f"{len(failures)} check(s) failed")


main()
