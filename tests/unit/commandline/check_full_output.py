"""Every program, its standard output on a full disk (/dev/full), ends with
exit status 1 and says so on standard error: no output is lost without a
word.

Usage: check_full_output.py PROGRAM_DIR; exit 0 when every program does."""
import os
import subprocess
import sys
import tempfile

# Each program with arguments that make it write to standard output.
RUNS = [
    ["perfquery", "--help"],
    ["perfquery"],
    ["perf_exporter", "--help"],
    ["perf_exporter", "--once"],
    ["sample_host", "--help"],
    ["regsvr32", "/?"],
    ["reg", "--help"],
    ["lodctr", "/?"],
    ["unlodctr", "/?"],
]


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    failed = []
    with tempfile.TemporaryDirectory() as root, open("/dev/full", "w") as full:
        environment = dict(os.environ, WINPLATFORM_ROOT=root)
        for run in RUNS:
            result = subprocess.run([os.path.join(sys.argv[1], run[0]), *run[1:]], stdout=full, stderr=subprocess.PIPE,
                                    text=True, env=environment, timeout=60)
            said = f"{run[0]}: cannot write to standard output: No space left on device"
            ok = result.returncode == 1 and said in result.stderr
            print(("ok    " if ok else "FAIL  ") + " ".join(run) + f": exit {result.returncode}, {result.stderr.strip()!r}")
            if not ok:
                failed.append(run)
    if failed:
        sys.exit(f"{len(failed)} program(s) lost their output without a word")


main()
