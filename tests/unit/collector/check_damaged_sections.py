"""Readers meet a host's damaged sections: they say which device has no data
and why, and never die of it.

    check_damaged_sections.py PROGRAM_DIR

The sample host publishes in a private platform root while perf_exporter
serves it and is scraped five times a second. The host is then stopped
(SIGSTOP, so that it does not publish over the damage) and one of its
sections is damaged: the data section cut short, the directory cut short
under its header, random bytes over the directory, random bytes over the
data, a length beyond the data section's capacity. After each, perfquery and perf_exporter --once exit 1 naming the
device and the reason; the exporter keeps answering, saying
perf_exporter_collection_success 0; and once the host publishes again (it is
started anew) every reader sees its data. The host is resumed before it is
stopped, and must not have died of the damage either.

Every wait is bounded and everything started is stopped. Exit 0 when all
holds."""
import glob
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

# The checks this script shares with the other loopback scripts.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from loopback_checks import check, failures, free_port  # noqa: E402

DEVICE = "RVSampleServer"


def run(program_dir, environment, *arguments):
    return subprocess.run([os.path.join(program_dir, arguments[0]), *arguments[1:]], env=environment,
                          capture_output=True, text=True, timeout=60)


def scrape(port):
    with urllib.request.urlopen(f"http://127.0.0.1:{port}/metrics", timeout=5) as answer:
        return answer.status, answer.read().decode("utf-8")


class Poller(threading.Thread):
    """Scrapes the exporter five times a second and keeps what went wrong."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.port = port
        self.stopping = threading.Event()
        self.errors = []
        self.scrapes = 0

    def run(self):
        while not self.stopping.wait(0.2):
            try:
                status, _ = scrape(self.port)
                if status != 200:
                    self.errors.append(f"status {status}")
                self.scrapes += 1
            except OSError as error:
                self.errors.append(str(error))


def sections(root):
    directory = glob.glob(os.path.join(root, "sections", "*", f"f*Tree.{DEVICE}"))
    data = glob.glob(os.path.join(root, "sections", "*", f"f*Tree.{DEVICE}#*"))
    return (directory[0] if directory else None), (sorted(data)[-1] if data else None)


def overwrite(path, at, count):
    with open(path, "r+b") as file:
        file.seek(at)
        file.write(bytes(random.randrange(256) for _ in range(count)))


def put_dword(path, at, value):
    with open(path, "r+b") as file:
        file.seek(at)
        file.write(value.to_bytes(4, "little"))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    programs = sys.argv[1]
    random.seed(7)
    root = tempfile.mkdtemp(prefix="damaged-sections-")
    environment = dict(os.environ, WINPLATFORM_ROOT=root)
    definitions = os.path.join(root, "definitions")
    os.makedirs(definitions)
    shutil.copy(os.path.join(programs, "sample", "RVCounters.xml"), definitions)
    check(run(programs, environment, "regsvr32", "/s", os.path.join(programs, "rvZedaZuvivurAzodav.so")).returncode == 0,
          "the component is registered")
    host = None
    port = free_port()
    exporter = subprocess.Popen([os.path.join(programs, "perf_exporter"), "--web.listen-address", f"127.0.0.1:{port}"],
                                env=environment, stderr=subprocess.PIPE, text=True)
    poller = Poller(port)

    def start_host():
        started = subprocess.Popen([os.path.join(programs, "sample_host"), "--definitions", definitions, "--steady", "1"],
                                   env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        until = time.monotonic() + 30
        while time.monotonic() < until:
            if run(programs, environment, "perfquery", "RV Sample Sessions").returncode == 0:
                return started
            time.sleep(0.2)
        check(False, "the sample host publishes within 30 s")
        return started

    def stop_host(process):
        process.send_signal(signal.SIGCONT)
        process.send_signal(signal.SIGTERM)
        try:
            code = process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            process.kill()
            code = None
        return code

    damages = [
        ("the data section cut short", lambda directory, data: os.truncate(data, 4096)),
        ("the directory cut short under its header", lambda directory, data: os.truncate(directory, 100)),
        ("random bytes over the directory", lambda directory, data: overwrite(directory, 4096, 48)),
        ("random bytes over the data", lambda directory, data: overwrite(data, 4096 + 8, 2000)),
        # The directory's length field (after magic, version, sequence and
        # section number) beyond the capacity it gives.
        ("a length beyond the data section's capacity", lambda directory, data: put_dword(directory, 4096 + 16,
                                                                                          0x7FFFFFF0)),
    ]
    try:
        # The poller counts every refused scrape as a failure, so it starts
        # once the exporter listens: under the sanitizers, on a busy
        # machine, that can take longer than its first 0.2 s.
        until = time.monotonic() + 30
        while time.monotonic() < until:
            try:
                scrape(port)
                break
            except OSError:
                time.sleep(0.1)
        poller.start()
        for name, damage in damages:
            host = start_host()
            if failures:
                break
            host.send_signal(signal.SIGSTOP)
            directory, data = sections(root)
            damage(directory, data)
            said = f"device {DEVICE} shows no data: "
            listing = run(programs, environment, "perfquery")
            check(listing.returncode == 1 and said in listing.stderr,
                  f"{name}: perfquery exits 1 naming the device and why: {listing.returncode} {listing.stderr.strip()!r}")
            once = run(programs, environment, "perf_exporter", "--once")
            check(once.returncode == 1 and said in once.stderr,
                  f"{name}: perf_exporter --once exits 1 naming the device and why: {once.returncode} "
                  f"{once.stderr.strip()!r}")
            status, page = scrape(port)
            check(status == 200 and "\nperf_exporter_collection_success 0\n" in page,
                  f"{name}: the exporter answers that its reading failed")
            code = stop_host(host)
            check(code == 0, f"{name}: the host, resumed, was not killed by the damage and stopped cleanly: {code}")
            host = None
        if not failures:
            host = start_host()
            status, page = scrape(port)
            check(status == 200 and "\nperf_exporter_collection_success 1\n" in page
                  and 'perf_instance="client-1"' in page, "published anew, the host's data are read again")
    finally:
        poller.stopping.set()
        poller.join(timeout=10)
        if host is not None:
            stop_host(host)
        exporter.send_signal(signal.SIGTERM)
        try:
            said = exporter.communicate(timeout=20)[1]
        except subprocess.TimeoutExpired:
            exporter.kill()
            said = exporter.communicate()[1]
        check(exporter.returncode == 0, f"the exporter served throughout and stopped cleanly: {exporter.returncode}")
        check(not poller.errors and poller.scrapes > 3,
              f"{poller.scrapes} scrapes while the sections were damaged, failed: {poller.errors[:3]}")
        check(f"device {DEVICE} shows no data" in said, "the exporter logged which device had no data")
        shutil.rmtree(root, ignore_errors=True)
    if failures:
        sys.exit(f"{len(failures)} check(s) failed")


main()
