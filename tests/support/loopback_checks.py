"""What the scripts that check programs over loopback share: a verdict per
check, printed as it falls, and a free port."""
import socket

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
