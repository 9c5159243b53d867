"""What the scripts that check programs over loopback share: a verdict per
check, printed as it falls, a free port, and Wine programs run to their end."""
import socket
import subprocess
import tempfile

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
