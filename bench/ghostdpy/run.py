#!/usr/bin/env python3
"""ghostdpy against Xvfb, side by side in one run.

Every repetition starts each server in turn (Xvfb, ghostdpy with standard
output to /dev/null, ghostdpy with standard output to a file, and the static
ghostdpy with standard output to /dev/null; the order rotates from one
repetition to the next) and runs the same client program, xbench, against
it. The table shows the median over the repetitions of each measurement, and
the median of the per-repetition ratios to Xvfb.

Usage: bench/ghostdpy/run.py [--quick] [--reps N] [--build-dir DIR] [--displays A-B]

Needs the default build (cmake --workflow --preset default, or at least the
ghostdpy, xbench and run_in_private_tmp targets) and builds the static
ghostdpy (preset static) unless --no-static; installs Debian's xvfb package
when Xvfb is missing. Writes results.md and results.svg beside this script.

The servers run in a private /tmp and network namespace (run_in_private_tmp
of the build): their sockets, lock files and abstract socket names are seen
by nobody else on the machine, and the machine's displays by none of them.
"""

import argparse
import datetime
import os
import platform
import resource
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SOCKET_DIR = "/tmp/.X11-unix"

# Server configurations, in the order of the first repetition.
XVFB, GD_NULL, GD_FILE, GD_STATIC = "xvfb", "gd_null", "gd_file", "gd_static"
CONFIGS = [XVFB, GD_NULL, GD_FILE, GD_STATIC]
GHOSTDPYS = [GD_NULL, GD_FILE, GD_STATIC]

live = {}  # pid -> (Popen, display, signal): servers to stop on every exit path


def log(*parts):
    print(*parts, file=sys.stderr, flush=True)


def socket_path(display):
    return f"{SOCKET_DIR}/X{display}"


def lock_path(display):
    return f"/tmp/.X{display}-lock"


def display_free(display):
    return not os.path.exists(socket_path(display)) and not os.path.exists(lock_path(display))


def raise_nofile():
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))


def server_argv(config, display, programs):
    """programs: the ghostdpy program of each ghostdpy configuration."""
    if config == XVFB:
        # -maxclients 2048: Xvfb refuses the 256th client by default, and
        # two measurements hold 1,000 clients.
        return ["Xvfb", f":{display}", "-nolisten", "tcp", "-noreset", "-screen", "0", "1280x1024x24",
                "-maxclients", "2048"]
    return [programs[config], f":{display}"]


def stop_signal(config):
    return signal.SIGTERM if config == XVFB else signal.SIGINT


def xbench(args, xb, timeout=120, check=True, stdin=None):
    """Runs one xbench sub-command; returns its "key value" lines as a dict."""
    p = subprocess.run([xb] + args, capture_output=True, text=True, timeout=timeout, input=stdin,
                       preexec_fn=raise_nofile)
    if check and p.returncode != 0:
        raise RuntimeError(f"xbench {' '.join(args)} failed: {p.stderr.strip()}")
    out = {}
    for line in p.stdout.splitlines():
        key, _, value = line.partition(" ")
        out[key] = float(value)
    return out


def proc_status(pid):
    fields = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, value = line.partition(":")
            fields[key] = value.split()[0] if value.split() else ""
    return fields


def start_server(config, display, programs, trace_path, xb):
    if not display_free(display):
        raise RuntimeError(f"display :{display} is taken")
    out = open(trace_path, "wb") if config == GD_FILE else subprocess.DEVNULL
    try:
        p = subprocess.Popen(server_argv(config, display, programs), stdout=out, stderr=subprocess.DEVNULL,
                             stdin=subprocess.DEVNULL, preexec_fn=raise_nofile)
    finally:
        if out is not subprocess.DEVNULL:
            out.close()
    live[p.pid] = (p, display, stop_signal(config))
    xbench(["wait-ready", "-d", f":{display}", "-t", "30"], xb)
    return p


def stop_server(pid):
    p, display, sig = live.pop(pid)
    if p.poll() is None:
        p.send_signal(sig)
        try:
            p.wait(timeout=10)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
    # A server that died without its clean-up leaves its files: ours to remove.
    for path in (socket_path(display), lock_path(display)):
        if os.path.exists(path):
            try:
                os.unlink(path)
            except OSError:
                pass


def stop_all():
    for pid in list(live):
        stop_server(pid)


def server_cpu_s(pid):
    """User + system CPU time of the server, all its threads, ended ones too."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def wait_threads(pid, seconds=10.0):
    """Waits until the server's thread count has stopped falling: the
    threads of connections that were closed take a moment to end."""
    end = time.monotonic() + seconds
    last, steady_since = None, time.monotonic()
    while time.monotonic() < end:
        threads = int(proc_status(pid)["Threads"])
        if threads != last:
            last, steady_since = threads, time.monotonic()
        elif time.monotonic() - steady_since >= 0.3:
            return
        time.sleep(0.02)


def measure_server(config, display, programs, trace_path, xb, n):
    """All measurements of one server instance (ready time aside)."""
    r = {}
    p = start_server(config, display, programs, trace_path, xb)
    d = f":{display}"
    try:
        time.sleep(0.1)
        st = proc_status(p.pid)
        r["rss_idle_kb"] = float(st["VmRSS"])

        idle = subprocess.Popen([xb, "idle", "-d", d, "-n", str(n["clients"]), "-t", "60"], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, text=True, preexec_fn=raise_nofile)
        try:
            line = idle.stdout.readline()
            if not line.startswith("connected"):
                raise RuntimeError("idle clients did not connect")
            time.sleep(0.2)
            r["rss_clients_kb"] = float(proc_status(p.pid)["VmRSS"])
            idle.stdin.write("go\n")
            idle.stdin.close()
            if idle.wait(timeout=60) != 0:
                raise RuntimeError("idle clients failed")
        finally:
            if idle.poll() is None:
                idle.kill()
                idle.wait()
        wait_threads(p.pid)
        time.sleep(0.1)
        st = proc_status(p.pid)
        r["rss_after_kb"] = float(st["VmRSS"])
        r["rss_peak_kb"] = float(st["VmHWM"])

        def timed(args, count, name):
            cpu0 = server_cpu_s(p.pid)
            out = xbench(args, xb)
            r[f"cpu_server_{name}_us"] = (server_cpu_s(p.pid) - cpu0) / count * 1e6
            r[f"cpu_client_{name}_us"] = out["client_cpu_us"]
            return out

        oc = timed(["openclose", "-d", d, "-n", str(n["cycles"])], n["cycles"], "openclose")
        r["openclose_per_s"] = oc["cycles_per_s"]
        lat = timed(["latency", "-d", d, "-n", str(n["round_trips"])], n["round_trips"] + 200, "latency")
        r["latency_median_us"] = lat["median_us"]
        r["latency_p99_us"] = lat["p99_us"]
        pl = timed(["pipeline", "-d", d, "-n", str(n["requests"])], n["requests"], "pipeline")
        r["pipeline_per_s"] = pl["requests_per_s"]
        burst = xbench(["burst", "-d", d, "-n", str(n["clients"])], xb)
        if burst["clients"] != n["clients"]:
            raise RuntimeError("burst: not every client was served")
        r["burst_ms"] = burst["total_ms"]
        if p.poll() is not None:
            raise RuntimeError(f"{config} ended during the run")
    finally:
        stop_server(p.pid)
    return r


def measure_ready(config, display, programs, trace_path, xb):
    if not display_free(display):
        raise RuntimeError(f"display :{display} is taken")
    args = ["spawn-ready", "-d", f":{display}", "-s", "TERM" if config == XVFB else "INT", "-t", "30"]
    if config == GD_FILE:
        args += ["-o", trace_path]
    try:
        return xbench(args + ["--"] + server_argv(config, display, programs), xb)["ready_us"] / 1000.0
    finally:
        for path in (socket_path(display), lock_path(display)):  # only after a failed stop
            if os.path.exists(path):
                os.unlink(path)


# Metric: (key, label, unit, better, target ratio or None, target text)
METRICS = [
    ("ready_ms", "Ready time (spawn to first completed setup)", "ms", "lower", 0.1, "<= 0.1x, floor + 5 ms"),
    ("rss_idle_kb", "Resident set, idle", "KiB", "lower", 0.05, "<= 0.05x"),
    ("rss_clients_kb", "Resident set, 1,000 idle clients", "KiB", "lower", None, "-"),
    ("rss_peak_kb", "Resident set, peak after they left", "KiB", "lower", None, "-"),
    ("rss_after_kb", "Resident set, after they left", "KiB", "lower", None, "-"),
    ("openclose_per_s", "XOpenDisplay + XCloseDisplay", "cycles/s", "higher", 2.0, ">= 2x"),
    ("latency_median_us", "GetInputFocus round trip, median", "us", "lower", 0.8, "<= 0.8x"),
    ("latency_p99_us", "GetInputFocus round trip, p99", "us", "lower", None, "-"),
    ("pipeline_per_s", "Pipelined GetInputFocus", "requests/s", "higher", 1.0, ">= 1x (/dev/null)"),
    ("burst_ms", "1,000 clients at once, setup + round trip", "ms", "lower", 1.0, "<= 1x"),
]
READY_SLACK_MS = 5.0
FLOORS = {"ready_ms": "spawn_ms", "latency_median_us": "pingpong_median_us", "latency_p99_us": "pingpong_p99_us"}


def fmt(v):
    if v is None:
        return "-"
    if v >= 100000:
        return f"{v:,.0f}"
    if v >= 100:
        return f"{v:.0f}"
    if v >= 10:
        return f"{v:.1f}"
    return f"{v:.2f}"


def met(key, ratio, target, better, config):
    if target is None or ratio is None:
        return "-"
    if key == "pipeline_per_s" and config == GD_FILE:
        return "-"
    ok = ratio <= target if better == "lower" else ratio >= target
    return "yes" if ok else "**no**"


def summarise(samples):
    """samples[config][key] -> list; returns medians and median ratios."""
    med = {c: {k: statistics.median(v) for k, v in samples[c].items() if v} for c in samples}
    ratios = {}
    for c in GHOSTDPYS:
        if c not in samples:
            continue
        ratios[c] = {}
        for key, *_ in METRICS:
            pairs = list(zip(samples[c].get(key, []), samples[XVFB].get(key, [])))
            ratios[c][key] = statistics.median(a / b for a, b in pairs) if pairs else None
    return med, ratios


COLUMN_NAMES = {GD_NULL: "ghostdpy >/dev/null", GD_FILE: "ghostdpy >file", GD_STATIC: "static ghostdpy >/dev/null"}
MET_NAMES = {GD_NULL: "null", GD_FILE: "file", GD_STATIC: "static"}


def table(med, ratios, floors, n):
    configs = [c for c in GHOSTDPYS if c in ratios]
    lines = [
        "| Measurement | Unit | Xvfb | " + " | ".join(f"{COLUMN_NAMES[c]} | ratio" for c in configs) +
        f" | floor | target | met ({' / '.join(MET_NAMES[c] for c in configs)}) |",
        "|---|---|--:|" + "--:|--:|" * len(configs) + "--:|---|---|",
    ]
    for key, label, unit, better, target, target_text in METRICS:
        floor = floors.get(FLOORS.get(key)) if key in FLOORS else None
        cells, verdicts = [], []
        for c in configs:
            r = ratios[c][key]
            verdict = met(key, r, target, better, c)
            if key == "ready_ms" and floor is not None:  # also within a few milliseconds of the floor
                verdict = verdict if med[c][key] - floor <= READY_SLACK_MS else "**no**"
            cells.append(f"{fmt(med[c].get(key))} | {fmt(r)}x")
            verdicts.append(verdict)
        m = " / ".join(verdicts) if target is not None else "-"
        lines.append(f"| {label} | {unit} | {fmt(med[XVFB].get(key))} | {' | '.join(cells)} | {fmt(floor)} | "
                     f"{target_text} | {m} |")
    return "\n".join(lines)


def static_table(samples):
    """The static program against the dynamic one, both with standard output to /dev/null: the
    median of the per-repetition ratios."""
    lines = ["| Static / dynamic ghostdpy (median per-repetition ratio) | ratio |", "|---|--:|"]
    for key, label, *_ in METRICS:
        pairs = list(zip(samples[GD_STATIC].get(key, []), samples[GD_NULL].get(key, [])))
        if pairs:
            lines.append(f"| {label} | {fmt(statistics.median(a / b for a, b in pairs))}x |")
    return "\n".join(lines)


CPU_ROWS = [("openclose", "XOpenDisplay + XCloseDisplay cycle"), ("latency", "GetInputFocus round trip"),
            ("pipeline", "Pipelined GetInputFocus")]


def cpu_table(med):
    """CPU time per operation, client and server: where the time of a serial exchange goes."""
    configs = [c for c in GHOSTDPYS if c in med]
    lines = ["| CPU per operation (us) | client, Xvfb | Xvfb | client, ghostdpy | " +
             " | ".join(COLUMN_NAMES[c] for c in configs) + " | client-bound ceiling |",
             "|---|--:|--:|--:|" + "--:|" * len(configs) + "--:|"]
    for name, label in CPU_ROWS:
        cx = med[XVFB].get(f"cpu_client_{name}_us")
        cg = med[GD_NULL].get(f"cpu_client_{name}_us")
        ceiling = f"{1e6 / cg:,.0f}/s" if cg else "-"
        servers = " | ".join(fmt(med[c].get(f"cpu_server_{name}_us")) for c in configs)
        lines.append(f"| {label} | {fmt(cx)} | {fmt(med[XVFB].get(f'cpu_server_{name}_us'))} | {fmt(cg)} | "
                     f"{servers} | {ceiling} |")
    return "\n".join(lines)


def svg_chart(ratios, path, subtitle):
    """Horizontal bars: how many times better than Xvfb (log scale), target marked."""
    rows = [(key, label, better, target) for key, label, _, better, target, _ in METRICS if target is not None]
    bars = [(c, colour) for c, colour in ((GD_NULL, "#3b7dd8"), (GD_FILE, "#9bbcf0"), (GD_STATIC, "#e08a2c"))
            if c in ratios]
    width, left, bar_h, gap, top = 760, 300, 12, 14, 52
    height = top + len(rows) * (len(bars) * bar_h + gap) + 40
    lo, hi = 0.1, 1000.0
    import math

    def x(v):
        v = min(max(v, lo), hi)
        return left + (math.log10(v) - math.log10(lo)) / (math.log10(hi) - math.log10(lo)) * (width - left - 20)

    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" font-family="sans-serif" '
           'font-size="12">',
           f'<rect width="{width}" height="{height}" fill="white"/>',
           '<text x="10" y="20" font-size="14" font-weight="bold">ghostdpy vs Xvfb: times better than Xvfb '
           '(log scale; red | = target)</text>',
           f'<text x="10" y="{top - 8}" font-size="10" fill="#555">{subtitle}</text>']
    for tick in (0.1, 1, 10, 100, 1000):
        out.append(f'<line x1="{x(tick):.1f}" y1="{top - 5}" x2="{x(tick):.1f}" y2="{height - 30}" '
                   f'stroke="{"#444" if tick == 1 else "#ddd"}"/>')
        out.append(f'<text x="{x(tick):.1f}" y="{height - 15}" text-anchor="middle">{tick:g}x</text>')
    y = top
    for key, label, better, target in rows:
        out.append(f'<text x="10" y="{y + bar_h + 4}">{label}</text>')
        for i, (config, colour) in enumerate(bars):
            r = ratios[config][key]
            if r is None:
                continue
            adv = 1 / r if better == "lower" else r
            yy = y + i * bar_h
            x0, x1 = sorted((x(1), x(adv)))
            out.append(f'<rect x="{x0:.1f}" y="{yy}" width="{max(x1 - x0, 1):.1f}" height="{bar_h - 2}" '
                       f'fill="{colour}"/>')
            if adv >= 1:
                out.append(f'<text x="{x1 + 4:.1f}" y="{yy + bar_h - 3}" font-size="10">{fmt(adv)}x</text>')
            else:
                out.append(f'<text x="{x0 - 4:.1f}" y="{yy + bar_h - 3}" font-size="10" text-anchor="end">'
                           f'{fmt(adv)}x</text>')
        adv_target = 1 / target if better == "lower" else target
        out.append(f'<line x1="{x(adv_target):.1f}" y1="{y - 2}" x2="{x(adv_target):.1f}" '
                   f'y2="{y + len(bars) * bar_h}" stroke="#d33" stroke-width="2"/>')
        y += len(bars) * bar_h + gap
    legend = {GD_NULL: "stdout to /dev/null", GD_FILE: "stdout to a file", GD_STATIC: "static, to /dev/null"}
    for i, (config, colour) in enumerate(bars):
        out.append(f'<rect x="{left + 140 * i}" y="{height - 12}" width="10" height="8" fill="{colour}"/>'
                   f'<text x="{left + 140 * i + 14}" y="{height - 4}" font-size="10">{legend[config]}</text>')
    out.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


def machine():
    model = platform.processor() or "?"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return f"{os.cpu_count()} cores, {model}, Linux {platform.release()}"


def ensure_xvfb():
    if shutil.which("Xvfb"):
        return
    log("Xvfb missing: installing Debian's xvfb package")
    subprocess.run(["apt-get", "update", "-qq"], check=True)
    subprocess.run(["apt-get", "install", "-y", "-qq", "xvfb"], check=True,
                   env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--quick", action="store_true", help="one repetition, fewer requests: a smoke run")
    ap.add_argument("--reps", type=int, default=None, help="repetitions (default 7, --quick 1)")
    ap.add_argument("--build-dir", default=os.path.join(ROOT, "build", "default"))
    ap.add_argument("--ghostdpy", help="the ghostdpy program (default: the build directory's)")
    ap.add_argument("--static-build-dir", default=os.path.join(ROOT, "build", "static"))
    ap.add_argument("--no-static", action="store_true", help="leave the static ghostdpy out")
    ap.add_argument("--no-build", action="store_true", help="do not (re)build ghostdpy and xbench first")
    ap.add_argument("--displays", default="81-89", help="display numbers to choose from, FIRST-LAST")
    ap.add_argument("--out", default=HERE, help="where results.md and results.svg go")
    a = ap.parse_args()
    first, _, last = a.displays.partition("-")
    displays = range(int(first), int(last or first) + 1)
    configs = [c for c in CONFIGS if not (a.no_static and c == GD_STATIC)]
    reps = a.reps or (1 if a.quick else 7)
    n = ({"clients": 1000, "cycles": 300, "round_trips": 3000, "requests": 20000, "ready": 1} if a.quick else
         {"clients": 1000, "cycles": 2000, "round_trips": 20000, "requests": 100000, "ready": 3})

    if not a.no_build:
        subprocess.run(["cmake", "--build", a.build_dir, "--target", "ghostdpy", "xbench", "run_in_private_tmp"],
                       check=True, stdout=subprocess.DEVNULL)
        if GD_STATIC in configs:
            if not os.path.exists(os.path.join(a.static_build_dir, "CMakeCache.txt")):
                subprocess.run(["cmake", "--preset", "static", "-B", a.static_build_dir], cwd=ROOT, check=True,
                               stdout=subprocess.DEVNULL)
            subprocess.run(["cmake", "--build", a.static_build_dir, "--target", "ghostdpy"], check=True,
                           stdout=subprocess.DEVNULL)
    if os.environ.get("GHOSTDPY_BENCH_PRIVATE") != "1":
        # Once more, isolated; run_in_private_tmp exits 77 saying why when the
        # kernel refuses the namespaces. Paths given here stay reachable.
        helper = os.path.abspath(os.path.join(a.build_dir, "ghostdpy", "test", "run_in_private_tmp"))
        argv = [helper, sys.executable, os.path.abspath(__file__), "--no-build",
                "--build-dir", os.path.abspath(a.build_dir), "--static-build-dir", os.path.abspath(a.static_build_dir),
                "--out", os.path.abspath(a.out)] + [arg for arg in sys.argv[1:] if arg != "--no-build"]
        os.execve(helper, argv, dict(os.environ, GHOSTDPY_BENCH_PRIVATE="1"))
    ghostdpy = a.ghostdpy or os.path.join(a.build_dir, "ghostdpy", "ghostdpy")
    programs = {GD_NULL: ghostdpy, GD_FILE: ghostdpy, GD_STATIC: os.path.join(a.static_build_dir, "ghostdpy", "ghostdpy")}
    xb = os.path.join(a.build_dir, "bench", "ghostdpy", "xbench")
    for exe in [programs[c] for c in configs if c != XVFB] + [xb]:
        if not os.access(exe, os.X_OK):
            sys.exit(f"missing {exe}: build first (cmake --workflow --preset default, and --preset static)")
    ensure_xvfb()
    os.makedirs(SOCKET_DIR, exist_ok=True)
    free = [d for d in displays if display_free(d)]
    if not free:
        sys.exit(f"no free display among :{displays[0]}-:{displays[-1]}")
    display = free[0]
    raise_nofile()

    def on_signal(signum, _frame):
        raise KeyboardInterrupt(f"signal {signum}")

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGHUP, on_signal)

    samples = {c: {} for c in configs}
    floors_samples = {"spawn_ms": [], "pingpong_median_us": [], "pingpong_p99_us": []}
    tmp = tempfile.mkdtemp(prefix="ghostdpy-bench-")
    trace_path = os.path.join(tmp, "trace.out")
    started = time.monotonic()
    load_before = os.getloadavg()[0]
    try:
        for rep in range(reps):
            order = configs[rep % len(configs):] + configs[:rep % len(configs)]
            log(f"repetition {rep + 1}/{reps} on :{display}, order {', '.join(order)}")
            for _ in range(n["ready"]):
                floors_samples["spawn_ms"].append(xbench(["spawn-exit", "--", "/bin/true"], xb)["spawn_us"] / 1000)
                for config in order:
                    samples[config].setdefault("ready_ms", []).append(
                        measure_ready(config, display, programs, trace_path, xb))
            pp = xbench(["pingpong", "-n", str(n["round_trips"])], xb)
            floors_samples["pingpong_median_us"].append(pp["median_us"])
            floors_samples["pingpong_p99_us"].append(pp["p99_us"])
            for config in order:
                for key, value in measure_server(config, display, programs, trace_path, xb, n).items():
                    samples[config].setdefault(key, []).append(value)
                if os.path.exists(trace_path):
                    os.unlink(trace_path)
    finally:
        stop_all()
        shutil.rmtree(tmp, ignore_errors=True)

    # The ready ratio pairs each sample with Xvfb's of the same round.
    med, ratios = summarise(samples)
    floors = {k: statistics.median(v) for k, v in floors_samples.items()}
    date = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    head = (f"{date}; {machine()}; {reps} repetition(s){' (--quick)' if a.quick else ''}, "
            f"{time.monotonic() - started:.0f} s; {n['clients']} clients, {n['cycles']} open/close cycles, "
            f"{n['round_trips']} round trips, {n['requests']} pipelined requests; load average "
            f"{load_before:.1f} before, {os.getloadavg()[0]:.1f} after (the machine is shared).")
    notes = ("Medians over the repetitions; ratio = median of the per-repetition ratios ghostdpy / Xvfb "
             "(servers interleaved in one run, order rotated). Floors: spawning /bin/true until it exits "
             "(ready time); a 4-byte / 32-byte ping-pong between two processes over a Unix socket pair "
             "(latency). ghostdpy's standard error goes to /dev/null. The static ghostdpy is the same code "
             "linked as one static PIE (preset static).")
    t = table(med, ratios, floors, n) + "\n\n" + cpu_table(med)
    if GD_STATIC in samples:
        t += "\n\n" + static_table(samples)
    notes += (" The client-bound ceiling is the rate the client alone allows (1 / its CPU time per operation "
              "against ghostdpy): no server, however fast, goes beyond it in a serial exchange.")
    print(f"\n{head}\n\n{t}\n\n{notes}")
    with open(os.path.join(a.out, "results.md"), "w") as f:
        f.write(f"# ghostdpy vs Xvfb\n\n{head}\n\n{t}\n\n{notes}\n\n![chart](results.svg)\n")
    svg_chart(ratios, os.path.join(a.out, "results.svg"), f"{date}; {machine()}")


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        stop_all()
        sys.exit(130)
