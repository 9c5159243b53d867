"""What the scripts that check programs over loopback share: a verdict per
check, printed as it falls, a free port, Wine programs run to their end, and
scrapes timed by a process of their own.

    loopback_checks.py PORT COUNT SOURCE   prints the times of COUNT scrapes (scrape_times)"""
import http.client
import os
import socket
import subprocess
import sys
import tempfile
import time

failures = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what, flush=True)
    if not condition:
        failures.append(what)


def free_port():
    """A port of 127.0.0.1 that nobody listens on now."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def run_in_wine(wine_run, prefix, *arguments, timeout=120):
    """Runs a program in a Wine prefix and gives its exit code and its output
    (standard output and error together). The output goes through a file,
    not a pipe: Wine's desktop process, which a program may start, takes the
    program's standard error along and would hold a pipe open for as long
    as the prefix lives."""
    with tempfile.TemporaryFile() as output:
        code = subprocess.run([wine_run, prefix, *arguments], stdout=output, stderr=subprocess.STDOUT,
                              timeout=timeout).returncode
        output.seek(0)
        return subprocess.CompletedProcess(arguments, code, output.read().decode("utf-8", "replace"), "")


def scrape_times(port, count, source="127.0.0.1"):
    """The time of each of `count` scrapes of /metrics from the address
    `source`, None for one that failed or did not end as an OpenMetrics page
    ends. The timeout is long enough to tell a scrape that waited for
    something (a cut-off, a large answer) from one that failed."""
    times = []
    for _ in range(count):
        start = time.monotonic()
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=20, source_address=(source, 0))
        try:
            connection.request("GET", "/metrics", headers={"Accept": "application/openmetrics-text"})
            response = connection.getresponse()
            ok = response.status == 200 and response.read().endswith(b"# EOF\n")
        except OSError:
            ok = False
        finally:
            connection.close()
        times.append(time.monotonic() - start if ok else None)
        time.sleep(0.2)
    return times


def timed_scrapes(port, count=3, source="127.0.0.1"):
    """scrape_times taken by a process of its own: the caller's threads (the
    clients of its loads) share the caller's interpreter lock."""
    result = subprocess.run([sys.executable, os.path.abspath(__file__), str(port), str(count), source],
                            capture_output=True, text=True, timeout=300)
    return [None if word == "failed" else float(word) for word in result.stdout.split()]


if __name__ == "__main__":
    print(" ".join("failed" if t is None else str(t)
                   for t in scrape_times(int(sys.argv[1]), int(sys.argv[2]), sys.argv[3])))
