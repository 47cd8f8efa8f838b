#!/usr/bin/python3
"""Benchmarks of the built program against the sensor simulator.

Runs the real executable under Xvfb (polling at 50 ms and 1000 ms, idle, start-up), the
in-process latency benchmark, and the reference poller mbpoll on the same simulator, each
several times; prints a table and writes docs/performance-figures.md (or --out).

    bench/bench.py [--runs N] [--seconds S] [--out FILE]

With --cpu only the CPU of polling at 50 ms is measured: plainly, with the trend window
open beside the window (Ctrl+T), with the accessibility bridge on (a session bus and
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1), and with a listener on that bus as a screen reader
has one. --baseline DIR adds the same for the executable in DIR (another build's bin/),
run by run in turn with this one, so both meet the same machine.

    bench/bench.py --cpu [--baseline DIR] [--runs N] [--seconds S]
"""

import argparse
import os
import platform
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = os.path.join(os.environ.get("BUILD_DIR", os.path.join(ROOT, "build")), "bin")
TICK = os.sysconf("SC_CLK_TCK")
# Places in the window, which sits at 0,0 on a display without a window manager.
TIMER_FIELD = (168, 468)
CYCLE_BUTTON = (452, 468)
STOP_BUTTON = (596, 468)


def read_log(path, kind="rx"):
    times = []
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) >= 2 and parts[1] == kind:
                times.append(float(parts[0]))
    return times


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def peak_rss_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def period_stats(times, interval):
    periods = [(b - a) * 1000 for a, b in zip(times, times[1:])]
    deviations = sorted(abs(p - interval) for p in periods)
    p99 = deviations[min(len(deviations) - 1, int(0.99 * len(deviations) + 0.999) - 1)]
    span = (times[-1] - times[0]) * 1000
    return {
        "requests": len(times),
        "mean_ms": statistics.mean(periods),
        "mean_err_pct": 100 * (statistics.mean(periods) - interval) / interval,
        "p99_dev_ms": p99,
        "max_dev_ms": deviations[-1],
        "drift_ms": span - (len(times) - 1) * interval,
    }


class Rig:
    """Xvfb, a program directory with comm.set, the simulator linked as COM4; with a11y, a
    session bus for the accessibility bridge ("bridge"), and a listener on it ("reader")."""

    def __init__(self, bin_dir=BIN, a11y=None):
        self.work = tempfile.mkdtemp(prefix="bench-")
        self.procs = []
        shutil.copy(os.path.join(bin_dir, "sensor-companion"), self.work)
        with open(os.path.join(self.work, "comm.set"), "w") as f:
            f.write("4,19200\r\n")
        number = next(n for n in range(50, 200) if not os.path.exists(f"/tmp/.X{n}-lock"))
        self.display = f":{number}"
        xvfb = subprocess.Popen(
            # Room for the trend window beside the window, so both are painted.
            ["Xvfb", self.display, "-screen", "0", "1600x768x24", "-nolisten", "tcp"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(xvfb)
        self.env = dict(os.environ, DISPLAY=self.display, QT_QPA_PLATFORM="xcb")
        if a11y:
            bus = self.spawn(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                             stdout=subprocess.PIPE, text=True)
            self.env.update(DBUS_SESSION_BUS_ADDRESS=bus.stdout.readline().strip(),
                            QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        if a11y == "reader":
            reader = self.spawn([sys.executable, os.path.join(ROOT, "bench", "a11y_listener.py")],
                                stdout=subprocess.PIPE, text=True)
            reader.stdout.readline()  # registered
        # Wait until the server takes connections.
        for _ in range(500):
            if subprocess.run(["xwininfo", "-root"], env=self.env, capture_output=True).returncode == 0:
                break
            time.sleep(0.01)
        self.log = os.path.join(self.work, "sim.log")
        self.sim = self.spawn([os.path.join(BIN, "sensor-sim"), "--link",
                               os.path.join(self.work, "COM4"), "--log", self.log],
                              stdout=subprocess.PIPE)
        self.sim.stdout.readline()  # the ready line

    def spawn(self, argv, **kw):
        p = subprocess.Popen(argv, env=self.env, stderr=subprocess.DEVNULL, **kw)
        self.procs.append(p)
        return p

    def window_shown(self):
        out = subprocess.run(["xwininfo", "-root", "-tree"], env=self.env,
                             capture_output=True, text=True).stdout
        shown = re.search(r" 834x(6[0-9]{2})[+ ]", out)
        if shown:  # the client area of 653 pixels sits under the menu bar
            self.menu = int(shown.group(1)) - 653
        return shown is not None

    def start_program(self):
        """Starts the program; returns it and the seconds until its window was mapped."""
        begin = time.monotonic()
        err = open(os.path.join(self.work, "program.err"), "w")
        p = subprocess.Popen([os.path.join(self.work, "sensor-companion")], env=self.env,
                             stdout=subprocess.DEVNULL, stderr=err)
        self.procs.append(p)
        while not self.window_shown():
            if time.monotonic() - begin > 20 or p.poll() is not None:
                with open(err.name) as f:
                    raise RuntimeError(f"no window (exit {p.poll()}): {f.read()}")
            time.sleep(0.002)
        return p, time.monotonic() - begin

    def xdo(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self.env, check=True)

    def click(self, place):
        self.xdo("mousemove", place[0], place[1] + getattr(self, "menu", 0), "click", "1")

    def close(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()
        shutil.rmtree(self.work, ignore_errors=True)


def run_program(interval, seconds, bin_dir=BIN, a11y=None, trend=False):
    """The program polls at `interval` ms (or idles with None) for `seconds`; with trend,
    the trend window is open."""
    rig = Rig(bin_dir, a11y)
    try:
        program, startup = rig.start_program()
        time.sleep(1)
        if interval is not None:
            rig.click(TIMER_FIELD)
            rig.xdo("key", "ctrl+a", "type", str(interval))
            rig.click(CYCLE_BUTTON)
        if trend:
            rig.xdo("key", "ctrl+t")
            time.sleep(1)
        cpu0, t0 = cpu_seconds(program.pid), time.monotonic()
        time.sleep(seconds)
        cpu = (cpu_seconds(program.pid) - cpu0) / (time.monotonic() - t0)
        result = {"cpu_pct": 100 * cpu, "rss_mib": peak_rss_mib(program.pid),
                  "startup_ms": startup * 1000}
        if interval is not None:
            rig.click(STOP_BUTTON)
            time.sleep(0.3)
            result.update(period_stats(read_log(rig.log), interval))
        return result
    finally:
        rig.close()


def run_startup():
    rig = Rig()
    try:
        _, startup = rig.start_program()
        return {"startup_ms": startup * 1000}
    finally:
        rig.close()


def run_mbpoll(interval, seconds):
    rig = Rig()
    try:
        argv = ["mbpoll", "-m", "rtu", "-b", "19200", "-P", "none", "-a", "1", "-t", "4", "-0",
                "-r", "0", "-c", "2", "-l", str(interval), os.path.join(rig.work, "COM4")]
        p = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        t0 = time.monotonic()
        time.sleep(seconds)
        p.send_signal(signal.SIGINT)
        _, _, usage = os.wait4(p.pid, 0)
        wall = time.monotonic() - t0
        result = {"cpu_pct": 100 * (usage.ru_utime + usage.ru_stime) / wall,
                  "rss_mib": usage.ru_maxrss / 1024}
        result.update(period_stats(read_log(rig.log), interval))
        return result
    finally:
        rig.close()


def run_latency():
    out = subprocess.run([os.path.join(BIN, "bench_latency"), "1000"], capture_output=True,
                         text=True, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"),
                         check=True).stdout
    return {k: float(v) for k, v in re.findall(r"(\w+) ([\d.]+)", out)}


def run_search():
    out = subprocess.run([os.path.join(BIN, "bench_search"), "20"], capture_output=True,
                         text=True, check=True).stdout
    return {k: float(v) for k, v in re.findall(r"(\w+) ([\d.]+)", out)}


def run_trendstore():
    out = subprocess.run([os.path.join(BIN, "bench_trendstore")], capture_output=True,
                         text=True, check=True).stdout
    return {k: float(v) for k, v in re.findall(r"(\w+) ([\d.]+)", out)}


def summary(runs, key):
    values = [r[key] for r in runs]
    median = statistics.median(values)
    return f"{median:.3f} ({min(values):.3f}–{max(values):.3f})"


def machine():
    model = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    qt = subprocess.run(["pkg-config", "--modversion", "Qt6Core"], capture_output=True,
                        text=True).stdout.strip()
    return f"{model}, {os.cpu_count()} cores, Linux {platform.release()}, Qt {qt}"


CPU_CONFIGS = [((None, False), "plain"), ((None, True), "trend window open"),
               (("bridge", False), "accessibility bridge on"),
               (("reader", False), "bridge on, a screen reader listening")]


def cpu_table(args):
    builds = [("this build", BIN)]
    if args.baseline:
        builds.append(("baseline", args.baseline))
    results = {(b, c): [] for b, _ in builds for c, _ in CPU_CONFIGS}
    for run in range(args.runs):
        print(f"run {run + 1} of {args.runs}", file=sys.stderr)
        for config, _ in CPU_CONFIGS:
            for build, bin_dir in builds:
                results[(build, config)].append(
                    run_program(50, args.seconds, bin_dir, *config))
    table = ["| CPU while polling at 50 ms (% of one core) | "
             + " | ".join(b for b, _ in builds) + " |", "|---" * (len(builds) + 1) + "|"]
    for config, label in CPU_CONFIGS:
        cells = [summary(results[(b, config)], "cpu_pct") for b, _ in builds]
        table.append(f"| {label} | " + " | ".join(cells) + " |")
    text = "\n".join(table)
    print(text)
    print(f"Measured on {time.strftime('%Y-%m-%d')}: {machine()}; {args.runs} runs of "
          f"{args.seconds} s, median (min–max).")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--seconds", type=int, default=60)
    ap.add_argument("--out", default=os.path.join(ROOT, "docs", "performance-figures.md"))
    ap.add_argument("--cpu", action="store_true", help="only the CPU of polling at 50 ms")
    ap.add_argument("--baseline", help="bin/ of another build to measure beside this one")
    args = ap.parse_args()
    if args.cpu:
        cpu_table(args)
        return

    results = {name: [] for name in ("latency", "poll50", "poll1000", "idle", "mbpoll50",
                                     "startup", "search", "trendstore")}
    for run in range(args.runs):
        print(f"run {run + 1} of {args.runs}", file=sys.stderr)
        results["latency"].append(run_latency())
        results["search"].append(run_search())
        results["poll50"].append(run_program(50, args.seconds))
        results["poll1000"].append(run_program(1000, args.seconds))
        results["idle"].append(run_program(None, args.seconds))
        results["mbpoll50"].append(run_mbpoll(50, args.seconds))
        results["trendstore"].append(run_trendstore())
    for _ in range(10):
        results["startup"].append(run_startup())

    s = lambda name, key: summary(results[name], key)
    rows = [
        ("Reply latency, last reply byte to window updated, median (ms)", s("latency", "reply_to_window_p50_ms"), "< 1"),
        ("Reply latency, p99 (ms)", s("latency", "reply_to_window_p99_ms"), ""),
        ("Click to request on the wire, median (ms)", s("latency", "click_to_wire_p50_ms"), ""),
        ("Click to request on the wire, p99 (ms)", s("latency", "click_to_wire_p99_ms"), ""),
        ("Simulator's own time, request to reply, median (ms)", s("latency", "simulator_p50_ms"), ""),
    ]
    for name, label in (("poll50", "program, 50 ms"), ("poll1000", "program, 1000 ms"),
                        ("mbpoll50", "mbpoll -l 50")):
        rows += [
            (f"Poll period, {label}: mean (ms)", s(name, "mean_ms"), ""),
            (f"Poll period, {label}: mean error (%)", s(name, "mean_err_pct"), "within ±0.1"),
            (f"Poll period, {label}: p99 deviation (ms)", s(name, "p99_dev_ms"), "< 2"),
            (f"Poll period, {label}: max deviation (ms)", s(name, "max_dev_ms"), ""),
            (f"Poll period, {label}: drift over the run (ms)", s(name, "drift_ms"), "none"),
        ]
    rows += [
        ("CPU while polling at 50 ms, program (% of one core)", s("poll50", "cpu_pct"), "< 2"),
        ("CPU while polling at 50 ms, mbpoll (% of one core)", s("mbpoll50", "cpu_pct"), ""),
        ("CPU while idle, program (% of one core)", s("idle", "cpu_pct"), ""),
        ("Peak resident memory, program polling at 50 ms (MiB)", s("poll50", "rss_mib"), "< 60"),
        ("Peak resident memory, program idle (MiB)", s("idle", "rss_mib"), ""),
        ("Peak resident memory, mbpoll (MiB)", s("mbpoll50", "rss_mib"), ""),
        ("Start-up, process start to window mapped (ms), 10 starts", s("startup", "startup_ms"), "< 300"),
        ("Search, a device where nothing answers, four rates, max (ms)", s("search", "silent_max_ms"), "≤ 600"),
        ("Search, a device that babbles at every rate, max (ms)", s("search", "babbling_max_ms"), "≤ 600"),
        ("Trend store, memory grown by 24 h at 20 Hz (1.7 M readings, MiB)", s("trendstore", "store_growth_mib"), "< 50"),
        ("Trend store, time to add a reading (µs)", s("trendstore", "add_us"), ""),
        ("Trend store, one refresh of everything after 24 h (ms)", s("trendstore", "refresh_everything_ms"), ""),
    ]
    rows += [(f"Search, module found at {rate} baud, median (ms)", s("search", f"found_{rate}_p50_ms"), "")
             for rate in (19200, 9600, 4800, 14400)]
    table = ["| measure | median (min–max) | target |", "|---|---|---|"]
    table += [f"| {a} | {b} | {c} |" for a, b, c in rows]
    text = "\n".join(table)
    print(text)
    with open(args.out, "w") as f:
        f.write(f"Measured on {time.strftime('%Y-%m-%d')}: {machine()}.\n"
                f"{args.runs} runs of {args.seconds} s per polling figure, 1000 one-shot "
                f"queries per latency run, 10 starts.\n\n{text}\n")


if __name__ == "__main__":
    main()
