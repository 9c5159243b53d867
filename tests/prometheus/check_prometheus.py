"""A real Prometheus scraping three machines' performance counters.

    check_prometheus.py POSIX_BIN WINDOWS_BIN WINE_RUN

Two POSIX machines stand as two platform roots, each with the component
registered, the sample host publishing a steady load (factors 1 and 2) and
its own perf_exporter; the third is the Windows build under Wine, in a
private prefix: sample_host.exe (factor 3) and perf_exporter.exe installed
and started as the service perf_exporter. Debian's prometheus scrapes all
three every two seconds from a loopback port, with a generated configuration
and a private data folder.

Checked through Prometheus' HTTP API: every target is up; every object,
counter and instance of each host appears, instances under perf_instance and
no series with an exported_* label or a _Total instance; gauges equal what
the hosts set; rate() of the counts lies within 15% of their pace; a sum over
the two POSIX machines equals the sum of what they set. promtool check
metrics reads a host's page and may warn only of what the README explains.

Every wait is bounded and everything started is stopped. Exit 0 when all
holds; 77 (skipped) when POSIX_BIN holds no POSIX build, unless
PROMETHEUS_TEST_REQUIRED is set, which makes that a failure."""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse

# The checks this script shares with the other loopback scripts.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from loopback_checks import check, failures, free_port  # noqa: E402
from loopback_machines import Machines, fetch, posix_machine, wait_for, windows_machine  # noqa: E402

# A page takes milliseconds to serve; on a loaded machine the scrape's time
# limit, which is its interval, leaves room for stalls of a second and more.
SCRAPE_SECONDS = 2
# A count is what its host set at its last publish, a second or less before
# the scrape, and later when the host is held up by other work. Over this
# window even a stall of several seconds moves a rate by less than the 15%
# allowed, while a count that is not the host's running total misses by far.
RATE_WINDOW_SECONDS = 40
RATE_WINDOW = f"{RATE_WINDOW_SECONDS}s"
RATE_SHARE = 0.15

# What promtool may still say of a host's page, each explained in the
# README: the exporter cannot know a unit that a counter's name abbreviates.
EXPLAINED_WARNINGS = [
    "perf_rv_sample_sessions_response_time_ms metric names should not contain abbreviated units",
]


class Prometheus:
    def __init__(self, port):
        self.base = f"http://127.0.0.1:{port}"

    def query(self, expression):
        url = self.base + "/api/v1/query?" + urllib.parse.urlencode({"query": expression})
        answer = json.loads(fetch(url))
        if answer.get("status") != "success":
            raise RuntimeError(f"{expression}: {answer}")
        return answer["data"]["result"]

    def values(self, expression):
        """The value of each series, by its perf_instance ("" where it has none)."""
        return {series["metric"].get("perf_instance", ""): float(series["value"][1])
                for series in self.query(expression)}


def near(value, wanted, share):
    return abs(value - wanted) <= share * abs(wanted)


def check_machine(prometheus, target, names, factor):
    """`names` maps each family of the sample host to its name on this machine."""
    title = f"{target}:"
    selector = f'instance="{target}"'
    series = prometheus.query('{%s, __name__=~"perf_(rv_sample|10000|10010)_.*"}' % selector)
    found = {(each["metric"]["__name__"], each["metric"].get("perf_instance", "")) for each in series}
    clients = ["client-1", "client-2", "client-3"]
    expected = {(names[counter] + suffix, client)
                for counter, suffix in (("active", ""), ("requests", "_total"), ("bytes", "_total"), ("response", ""))
                for client in clients}
    expected |= {(names["heap"], ""), (names["cache"], "")}
    check(found == expected, f"{title} every object, counter and instance, _Total left out "
                             f"(missing {sorted(expected - found)}, unexpected {sorted(found - expected)})")
    labels = set()
    for each in series:
        labels |= set(each["metric"])
    check(not any(label.startswith("exported_") for label in labels),
          f"{title} no exported_* label among {sorted(labels)}")

    gauges = [("active", lambda k: k * factor), ("response", lambda k: 100 * factor + k)]
    for family, value in gauges:
        got = prometheus.values(f'{names[family]}{{{selector}}}')
        wanted = {client: float(value(k)) for k, client in enumerate(clients, 1)}
        check(got == wanted, f"{title} {names[family]} is {wanted}: {got}")
    for family, wanted in (("heap", factor * 1e9), ("cache", 1000.0 * factor)):
        got = prometheus.values(f'{names[family]}{{{selector}}}')
        check(got == {"": wanted}, f"{title} {names[family]} is {wanted:g}: {got}")
    for family, pace in (("requests", 10), ("bytes", 1000)):
        got = prometheus.values(f'rate({names[family]}_total{{{selector}}}[{RATE_WINDOW}])')
        wanted = {client: float(pace * k * factor) for k, client in enumerate(clients, 1)}
        check(set(got) == set(wanted) and all(near(got[c], wanted[c], RATE_SHARE) for c in wanted),
              f"{title} rate({names[family]}_total[{RATE_WINDOW}]) within {RATE_SHARE:.0%} of {wanted}: "
              + str({c: round(v, 2) for c, v in got.items()}))


def check_promtool(promtool, exporter_port):
    page = fetch(f"http://127.0.0.1:{exporter_port}/metrics")
    result = subprocess.run([promtool, "check", "metrics"], input=page, capture_output=True, text=True, timeout=60)
    said = [line.strip() for line in (result.stdout + result.stderr).splitlines() if line.strip()]
    unexplained = [line for line in said if line not in EXPLAINED_WARNINGS]
    check(not unexplained, f"promtool check metrics on a host's page warns only of what the README explains: {said}")


def run(machines, posix_bin, windows_bin, wine_run, prometheus_program, promtool):
    posix_a = posix_machine(machines, posix_bin, "posix-a", 1)
    posix_b = posix_machine(machines, posix_bin, "posix-b", 2)
    windows = windows_machine(machines, windows_bin, wine_run, 3)
    for port, family in ((posix_a, "perf_rv_sample_sessions_active_requests"),
                         (posix_b, "perf_rv_sample_sessions_active_requests"), (windows, "perf_10000_10002")):
        wait_for(f"127.0.0.1:{port} serves {family}",
                 lambda: f'{family}{{perf_instance="client-3"}}' in fetch(f"http://127.0.0.1:{port}/metrics"), 90)
    if failures:
        return
    check_promtool(promtool, posix_a)

    prometheus_port = free_port()
    configuration = os.path.join(machines.work, "prometheus.yml")
    with open(configuration, "w") as file:
        file.write(f"""global:
  scrape_interval: {SCRAPE_SECONDS}s
  scrape_timeout: {SCRAPE_SECONDS}s
  evaluation_interval: {SCRAPE_SECONDS}s
scrape_configs:
  - job_name: posix
    static_configs:
      - targets: ["127.0.0.1:{posix_a}", "127.0.0.1:{posix_b}"]
  - job_name: windows
    static_configs:
      - targets: ["127.0.0.1:{windows}"]
""")
    machines.start([prometheus_program, f"--config.file={configuration}",
                    f"--storage.tsdb.path={os.path.join(machines.work, 'data')}",
                    f"--web.listen-address=127.0.0.1:{prometheus_port}"], log="prometheus.log")
    prometheus = Prometheus(prometheus_port)
    wait_for("Prometheus ready", lambda: "Ready" in fetch(prometheus.base + "/-/ready"), 60)
    if not wait_for("every target up",
                    lambda: sorted(float(s["value"][1]) for s in prometheus.query("up")) == [1.0, 1.0, 1.0], 60):
        return
    # A rate over the window needs the window's samples.
    time.sleep(RATE_WINDOW_SECONDS + 2 * SCRAPE_SECONDS)

    check(len(prometheus.query("up == 1")) == 3, "every target is up")
    check(prometheus.query('{exported_instance!=""}') == [] and prometheus.query('{exported_job!=""}') == [],
          "no series anywhere carries exported_instance or exported_job")
    posix_names = {"active": "perf_rv_sample_sessions_active_requests",
                   "requests": "perf_rv_sample_sessions_requests",
                   "bytes": "perf_rv_sample_sessions_bytes_sent",
                   "response": "perf_rv_sample_sessions_response_time_ms",
                   "heap": "perf_rv_sample_memory_heap_bytes",
                   "cache": "perf_rv_sample_memory_cache_entries"}
    # Wine installs no names: the families are named by index, the
    # sessions object 10000 and its counters, then the memory object.
    wine_names = {"active": "perf_10000_10002", "requests": "perf_10000_10004", "bytes": "perf_10000_10006",
                  "response": "perf_10000_10008", "heap": "perf_10010_10012", "cache": "perf_10010_10014"}
    check_machine(prometheus, f"127.0.0.1:{posix_a}", posix_names, 1)
    check_machine(prometheus, f"127.0.0.1:{posix_b}", posix_names, 2)
    check_machine(prometheus, f"127.0.0.1:{windows}", wine_names, 3)

    total = prometheus.values('sum(perf_rv_sample_sessions_active_requests{job="posix"})')
    check(total == {"": 18.0}, f"sum of active requests over the two POSIX machines is 6 + 12: {total}")
    heap = prometheus.values('sum(perf_rv_sample_memory_heap_bytes{job="posix"})')
    check(heap == {"": 3e9}, f"sum of heap bytes over the two POSIX machines is 3e9: {heap}")
    one = prometheus.query('perf_rv_sample_sessions_active_requests{perf_instance="client-2"}')
    check(sorted(float(s["value"][1]) for s in one) == [2.0, 4.0] and
          all(set(s["metric"]) == {"__name__", "instance", "job", "perf_instance"} for s in one),
          "one instance across machines, by perf_instance beside Prometheus' instance and job: "
          + json.dumps([s["metric"] for s in one]))


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    posix_bin, windows_bin, wine_run = sys.argv[1:]
    if not os.path.exists(os.path.join(posix_bin, "perf_exporter")):
        message = f"no POSIX build in {posix_bin}: build the linux preset first (cmake --workflow --preset linux)"
        if os.environ.get("PROMETHEUS_TEST_REQUIRED"):
            sys.exit(message)
        print(message)
        sys.exit(77)
    prometheus_program, promtool = shutil.which("prometheus"), shutil.which("promtool")
    if not prometheus_program or not promtool:
        sys.exit("Debian's prometheus is not installed (scripts/setup.sh installs it)")

    work = tempfile.mkdtemp(prefix="prometheus-test-")
    machines = Machines(work)
    try:
        run(machines, posix_bin, windows_bin, wine_run, prometheus_program, promtool)
    finally:
        machines.close()
    if failures:
        sys.exit(f"{len(failures)} check(s) failed")


main()
