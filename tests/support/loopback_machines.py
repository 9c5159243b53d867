"""Machines for the scripts that check programs over loopback: a POSIX
machine is a platform root with the component registered, a Windows one a
private Wine prefix; on each the sample host publishes a steady load and
perf_exporter serves it. Everything started is stopped by Machines.stop."""
import os
import shutil
import signal
import subprocess
import time
import urllib.request

from loopback_checks import check, failures, free_port, run_in_wine


def windows_path(path):
    return "Z:" + os.path.realpath(path).replace("/", "\\")


def fetch(url, timeout=5):
    with urllib.request.urlopen(url, timeout=timeout) as answer:
        return answer.read().decode("utf-8")


def wait_for(what, test, limit):
    until = time.monotonic() + limit
    while time.monotonic() < until:
        try:
            if test():
                return True
        except OSError:
            pass
        time.sleep(0.5)
    check(False, f"{what} within {limit} s")
    return False


class Machines:
    """The processes and folders of the run, stopped and removed at its end."""

    def __init__(self, work):
        self.work = work
        self.processes = []
        self.wine_prefix = None
        self.wine_run = None
        self.service_installed = None

    def start(self, arguments, environment=None, log=None):
        output = open(os.path.join(self.work, log), "a") if log else subprocess.DEVNULL
        process = subprocess.Popen(arguments, env=environment, stdout=output, stderr=subprocess.STDOUT)
        self.processes.append(process)
        return process

    @staticmethod
    def end(process):
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()

    def stop_one(self, process):
        """Stops one process started here, before the others."""
        self.end(process)
        self.processes.remove(process)

    def stop(self):
        if self.service_installed:
            self.wine("net", "stop", "perf_exporter")
            self.wine(self.service_installed, "--uninstall-service")
        for process in reversed(self.processes):
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
        for process in reversed(self.processes):
            self.end(process)
        if self.wine_prefix:
            subprocess.run([self.wine_run, self.wine_prefix, "--stop"], timeout=60)

    def close(self):
        """Stops everything, shows the end of each log when a check failed,
        and removes the run's folder."""
        self.stop()
        if failures:
            for log in sorted(os.listdir(self.work)):
                if log.endswith(".log"):
                    with open(os.path.join(self.work, log), errors="replace") as file:
                        print(f"--- {log} (last lines)\n" + "".join(file.readlines()[-15:]))
        shutil.rmtree(self.work, ignore_errors=True)

    def wine(self, *arguments, timeout=120):
        return run_in_wine(self.wine_run, self.wine_prefix, *arguments, timeout=timeout)


def posix_root(machines, bin_dir, name):
    """A platform root with the component registered and the sample host's
    definitions: the environment of its programs."""
    root = os.path.join(machines.work, name)
    os.makedirs(os.path.join(root, "definitions"))
    shutil.copy(os.path.join(bin_dir, "sample", "RVCounters.xml"), os.path.join(root, "definitions"))
    environment = dict(os.environ, WINPLATFORM_ROOT=root)
    registered = subprocess.run([os.path.join(bin_dir, "regsvr32"), "/s", os.path.join(bin_dir, "rvZedaZuvivurAzodav.so")],
                                env=environment, timeout=60)
    check(registered.returncode == 0, f"{name}: the component registered")
    return environment


def posix_host(machines, bin_dir, environment, factor):
    """The sample host's steady load in a platform root, as a process."""
    name = os.path.basename(environment["WINPLATFORM_ROOT"])
    return machines.start([os.path.join(bin_dir, "sample_host"), "--definitions",
                           os.path.join(environment["WINPLATFORM_ROOT"], "definitions"), "--steady", str(factor)],
                          environment, f"{name}-host.log")


def posix_exporter(machines, bin_dir, environment):
    """perf_exporter of a platform root, on a free loopback port: the port."""
    name = os.path.basename(environment["WINPLATFORM_ROOT"])
    port = free_port()
    machines.start([os.path.join(bin_dir, "perf_exporter"), "--web.listen-address", f"127.0.0.1:{port}"],
                   environment, f"{name}-exporter.log")
    return port


def posix_machine(machines, bin_dir, name, factor):
    environment = posix_root(machines, bin_dir, name)
    posix_host(machines, bin_dir, environment, factor)
    return posix_exporter(machines, bin_dir, environment)


def windows_prefix(machines, bin_dir, wine_run):
    """A private Wine prefix, kept up, with the component registered and the
    sample host's definitions."""
    prefix = os.path.join(machines.work, "wine")
    machines.wine_prefix, machines.wine_run = prefix, wine_run
    # Services live as long as the prefix's wineserver.
    subprocess.run([wine_run, prefix, "--persist"], check=True, timeout=300)
    result = machines.wine("regsvr32", "/s", windows_path(os.path.join(bin_dir, "rvZedaZuvivurAzodav.dll")))
    check(result.returncode == 0, "windows: the component registered")
    definitions = os.path.join(machines.work, "wine-definitions")
    os.makedirs(definitions)
    shutil.copy(os.path.join(bin_dir, "sample", "RVCounters.xml"), definitions)


def windows_host(machines, bin_dir, factor):
    """sample_host.exe's steady load in the prefix, as a process."""
    return machines.start([machines.wine_run, machines.wine_prefix, os.path.join(bin_dir, "sample_host.exe"),
                           "--definitions", windows_path(os.path.join(machines.work, "wine-definitions")),
                           "--steady", str(factor), "--duration", "600"], log="windows-host.log")


def windows_exporter(machines, bin_dir):
    """perf_exporter.exe installed and started as the service perf_exporter
    in the prefix, on a free loopback port: the port."""
    port = free_port()
    exporter = os.path.join(bin_dir, "perf_exporter.exe")
    result = machines.wine(exporter, "--install-service", "--web.listen-address", f"127.0.0.1:{port}")
    check(result.returncode == 0, "windows: perf_exporter.exe installed as a service")
    machines.service_installed = exporter
    result = machines.wine("net", "start", "perf_exporter")
    check(result.returncode == 0, "windows: the service started")
    return port


def windows_machine(machines, bin_dir, wine_run, factor):
    windows_prefix(machines, bin_dir, wine_run)
    windows_host(machines, bin_dir, factor)
    return windows_exporter(machines, bin_dir)
