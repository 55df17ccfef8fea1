#!/usr/bin/env python3
"""Benchmarks of msfs-panel on its real binaries: knob-to-simulator latency,
detents lost while spinning, CPU and memory cost, and our SimConnect client
against node-simconnect. Started by run.sh, which builds what this needs.

Nothing here asserts on time: each section measures, prints and records.
"""

import argparse
import datetime
import json
import os
import platform
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

# The random waits of the latency benchmark come from this fixed rng start
# value, so that every run plays the same script.
RNG_START = 20240917

LATENCY_REPORTS = 500
LATENCY_WAIT_MS = (20, 80)       # uniform, between single-detent reports
# Knob spins: 200 detents at 100 reports a second, and 1000 at 1000 a second
# (one detent per report each), as (reports, wait between them in ms).
SPIN_RATES = ((200, 10), (1000, 1))
SPIN_DELAYS = (0, 1, 2, 3)       # --event-delay-frames
IDLE_SECONDS = 30
COST_SPIN_SECONDS = 10
CLIENT_EVENTS = 10000
# The latency again with a profile that answers for the knob measured: the
# event goes out from the profile layer's table instead of the built-in
# operation. The emulator's aircraft matches it by its title.
LATENCY_PROFILE = """name = "bench"
match = ["Emulated Aircraft"]
[NAV1]
outer.cw = "K:BENCH.NAV1_OUTER_INC"
"""
LATENCY_PROFILE_LABEL = "this tree, with a profile"

# Knob spins: mode prologue, one detent, the event it sends, the state
# variable it ends in, and how to turn both into a position on the knob's
# scale (with the scale's length when it wraps).
SPINS = [
    {"name": "NAV1 outer", "set": "NAV STANDBY FREQUENCY:1=113.45", "prologue": "report 2 0 0 0\n",
     "report": "report 2 0 1 0\n", "event": "NAV1_STBY_SET", "variable": "NAV STANDBY FREQUENCY:1",
     "modulus": 10},
    {"name": "heading bug", "set": "AUTOPILOT HEADING LOCK DIR=100",
     "prologue": "report 0 0x200 0 0\nreport 0 0 0 0\n", "report": "report 0 0 0 1\n",
     "event": "HEADING_BUG_SET", "variable": "AUTOPILOT HEADING LOCK DIR", "modulus": 360},
    {"name": "altitude", "set": "AUTOPILOT ALTITUDE LOCK VAR=5000", "prologue": "report 6 0 0 0\n",
     "report": "report 6 0 1 0\n", "event": "AP_ALT_VAR_SET_ENGLISH", "variable": "AUTOPILOT ALTITUDE LOCK VAR",
     "modulus": None},
    {"name": "transponder", "set": "TRANSPONDER CODE:1=0x1200", "prologue": "report 7 0 0 0\n",
     "report": "report 7 0 0 1\n", "event": "XPNDR_SET", "variable": "TRANSPONDER CODE:1", "modulus": 4096},
]


def bcd_to_int(bcd):
    value, scale = 0, 1
    while bcd:
        value += (bcd & 0xF) * scale
        bcd >>= 4
        scale *= 10
    return value


def octal_code_to_int(code):
    value, shift = 0, 0
    while code:
        value += (code & 0xF) << shift
        code >>= 4
        shift += 3
    return value


def event_position(spin, data):
    """The knob's position on its scale for an event's data."""
    name = spin["name"]
    if name == "NAV1 outer":
        return bcd_to_int(data) // 100 - 108
    if name == "heading bug":
        return data % 360
    if name == "altitude":
        return round(data / 100)
    return octal_code_to_int(data)


def state_position(spin, value):
    """The same position for the value --state-out holds."""
    name = spin["name"]
    if name == "NAV1 outer":
        return int(round(value * 100)) // 100 - 108
    if name == "heading bug":
        return int(round(value)) % 360
    if name == "altitude":
        return round(value / 100)
    return octal_code_to_int(int(value))


def steps_between(a, b, modulus):
    """Signed steps from a to b, the short way round on a wrapping scale."""
    if modulus is None:
        return b - a
    d = (b - a) % modulus
    return d - modulus if d > modulus // 2 else d


def percentile(values, p):
    """Nearest-rank percentile."""
    ordered = sorted(values)
    rank = max(1, -(-len(ordered) * p // 100))
    return ordered[int(rank) - 1]


def load_average():
    with open("/proc/loadavg") as f:
        return [float(x) for x in f.read().split()[:3]]


def read_lines(path):
    try:
        with open(path) as f:
            return [json.loads(line) for line in f if line.strip()]
    except FileNotFoundError:
        return []


class Run:
    """One run of msfs-panel under virtual-panel against sim-emulator, in a
    fresh directory holding the SimConnect.cfg that names the emulator."""

    def __init__(self, bins, program, script, emulator_args, linger_ms, report_log=True, program_args=(),
                 profile=None):
        self.dir = tempfile.mkdtemp(prefix="msfs-bench-")
        self.bins = bins
        self.files = {k: os.path.join(self.dir, k) for k in
                      ("port", "trace.jsonl", "state.json", "script.txt", "reports.jsonl", "SimConnect.cfg",
                       "profile.toml")}
        with open(self.files["script.txt"], "w") as f:
            f.write(script)
        self.emulator = subprocess.Popen(
            [bins["sim-emulator"], "--port", "0", "--port-file", self.files["port"], "--once", "--quiet",
             "--trace", self.files["trace.jsonl"], "--state-out", self.files["state.json"]] + emulator_args,
            cwd=self.dir, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port = self._wait_port()
        with open(self.files["SimConnect.cfg"], "w") as f:
            f.write(f"[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort={port}\n")
        argv = [bins["virtual-panel"], "--script", self.files["script.txt"], "--linger-ms", str(linger_ms)]
        if report_log:
            argv += ["--report-log", self.files["reports.jsonl"]]
        argv += ["--", program, *program_args]
        if profile is not None:
            with open(self.files["profile.toml"], "w") as f:
                f.write(profile)
            argv += ["--profiles", self.dir]
        env = dict(os.environ, HOME=self.dir)
        self.panel = subprocess.Popen(argv, cwd=self.dir, env=env, stdin=subprocess.DEVNULL,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def _wait_port(self):
        for _ in range(500):
            try:
                with open(self.files["port"]) as f:
                    text = f.read()
                if text.endswith("\n"):
                    return int(text)
            except FileNotFoundError:
                pass
            if self.emulator.poll() is not None:
                raise RuntimeError("sim-emulator exited before listening")
            time.sleep(0.01)
        raise RuntimeError("sim-emulator did not write its port")

    def program_pid(self):
        """msfs-panel's process ID: the child virtual-panel started."""
        for _ in range(500):
            path = f"/proc/{self.panel.pid}/task/{self.panel.pid}/children"
            try:
                with open(path) as f:
                    children = f.read().split()
                if children:
                    return int(children[0])
            except FileNotFoundError:
                pass
            time.sleep(0.01)
        raise RuntimeError("virtual-panel started no program")

    def wait_for_call(self, call, count=1, timeout=10.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if sum(1 for line in read_lines(self.files["trace.jsonl"]) if line.get("call") == call) >= count:
                return
            time.sleep(0.02)
        raise RuntimeError(f"no {call} in the emulator's trace")

    def finish(self, timeout=60):
        status = self.panel.wait(timeout=timeout)
        try:
            self.emulator.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.emulator.terminate()
            self.emulator.wait()
        self.status = status
        self.trace = read_lines(self.files["trace.jsonl"])
        self.reports = read_lines(self.files["reports.jsonl"])
        try:
            with open(self.files["state.json"]) as f:
                self.state = json.load(f)
        except (FileNotFoundError, json.JSONDecodeError):
            self.state = None
        return self

    def cleanup(self):
        for process in (self.panel, self.emulator):
            if process.poll() is None:
                process.kill()
                process.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


def proc_cpu_seconds(pid):
    """utime + stime of a process, in seconds."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    return (int(fields[11]) + int(fields[12])) / ticks


def proc_peak_rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return None


# ---------------------------------------------------------------- latency

def rate_label(reports, wait_ms):
    return f"{reports} at {1000 // wait_ms}/s"


def latency_script():
    rng = random.Random(RNG_START)
    lines = ["wait 600\n"]  # the program connects after opening the panel
    for _ in range(LATENCY_REPORTS):
        lines.append("report 2 0 1 0\n")
        lines.append(f"wait {rng.randint(*LATENCY_WAIT_MS)}\n")
    return "".join(lines)


def run_latency(bins, program, profile=None):
    run = Run(bins, program, latency_script(), ["--set", "NAV STANDBY FREQUENCY:1=113.45"], 400, profile=profile)
    try:
        run.finish(timeout=120)
        queued = [r for r in run.reports if r["queued"]]
        sent = [t for t in run.trace if t.get("call") == "TransmitClientEvent"]
        if profile is not None and any(t.get("sim_event") != "BENCH.NAV1_OUTER_INC" for t in sent):
            raise RuntimeError("latency: the profile did not answer for the knob")
        if len(queued) != LATENCY_REPORTS or len(sent) != len(queued):
            raise RuntimeError(f"latency: {len(queued)} reports queued, {len(sent)} events received")
        ms = [(t["t_ns"] - r["t_ns"]) / 1e6 for r, t in zip(queued, sent)]
        if min(ms) < 0:
            raise RuntimeError("latency: an event arrived before its report was queued")
        return {"reports": len(ms), "median_ms": statistics.median(ms), "p99_ms": percentile(ms, 99),
                "max_ms": max(ms), "min_ms": min(ms), "over_25ms": sum(1 for x in ms if x > 25.0)}
    finally:
        run.cleanup()


# ---------------------------------------------------------------- spinning

def spin_script(spin, reports, wait_ms):
    body = (spin["report"] + f"wait {wait_ms}\n") * reports
    return "wait 600\n" + spin["prologue"] + "wait 200\n" + body


def run_spin(bins, program, spin, delay, reports, wait_ms):
    # The linger lets a program that reads one report per pass drain the
    # queue (64 reports at 40 a second) before it is stopped.
    run = Run(bins, program, spin_script(spin, reports, wait_ms),
              ["--set", spin["set"], "--event-delay-frames", str(delay)], 2500)
    try:
        run.finish(timeout=60)
        events = [t for t in run.trace if t.get("call") == "TransmitClientEvent" and t.get("sim_event") == spin["event"]]
        start_value = float(spin["set"].split("=", 1)[1]) if "0x" not in spin["set"] else int(spin["set"].split("=")[1], 16)
        position = state_position(spin, start_value)
        steps = 0
        for e in events:
            nxt = event_position(spin, e["data"])
            steps += steps_between(position, nxt, spin["modulus"])
            position = nxt
        end = state_position(spin, run.state[spin["variable"]]) if run.state else None
        if end is not None and end != position:
            # The simulator's last value is not the last event's: count from
            # the state instead (its delta from the last event's position).
            steps += steps_between(position, end, spin["modulus"])
        return {"sent": reports, "events": len(events), "steps": steps,
                "dropped_by_queue": sum(1 for r in run.reports if not r["queued"])}
    finally:
        run.cleanup()


# ---------------------------------------------------------------- cost

def run_cost(bins, program, spinning):
    if spinning:
        reports = COST_SPIN_SECONDS * 100
        script = "wait 1500\n" + ("report 2 0 1 0\nwait 10\n" * reports)
        span = COST_SPIN_SECONDS
    else:
        script = f"wait {(IDLE_SECONDS + 5) * 1000}\n"
        span = IDLE_SECONDS
    run = Run(bins, program, script, ["--frame-ms", "16", "--set", "NAV STANDBY FREQUENCY:1=113.45"], 200)
    try:
        pid = run.program_pid()
        run.wait_for_call("RequestDataOnSimObject", 2)
        if spinning:
            run.wait_for_call("TransmitClientEvent", 1, timeout=15)
        else:
            time.sleep(1.0)  # past start-up
        cpu0, t0 = proc_cpu_seconds(pid), time.monotonic()
        time.sleep(span - 0.5 if spinning else span)
        cpu1, t1 = proc_cpu_seconds(pid), time.monotonic()
        peak = proc_peak_rss_kib(pid)
        run.finish(timeout=60)
        return {"seconds": round(t1 - t0, 3), "cpu_ms_per_s": (cpu1 - cpu0) * 1000 / (t1 - t0),
                "peak_rss_kib": peak}
    finally:
        run.cleanup()


# ---------------------------------------------------------------- clients

def spawn_measured(argv, cwd):
    """Runs argv; returns its JSON line and its whole-process rusage CPU."""
    proc = subprocess.Popen(argv, cwd=cwd, env=dict(os.environ, HOME=cwd), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
    out = proc.stdout.read()
    err = proc.stderr.read()
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        raise RuntimeError(f"{argv[0]} failed ({proc.returncode}): {err.decode(errors='replace')}")
    result = json.loads(out.decode().strip().splitlines()[-1])
    result["process_cpu_ms"] = (usage.ru_utime + usage.ru_stime) * 1000
    result["process_user_ms"] = usage.ru_utime * 1000
    result["process_sys_ms"] = usage.ru_stime * 1000
    result["process_peak_rss_kib"] = usage.ru_maxrss
    return result


def start_emulator(bins, directory, extra):
    port_file = os.path.join(directory, "port")
    emulator = subprocess.Popen([bins["sim-emulator"], "--port", "0", "--port-file", port_file, "--quiet"] + extra,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(500):
        if os.path.exists(port_file):
            text = open(port_file).read()
            if text.endswith("\n"):
                return emulator, int(text)
        time.sleep(0.01)
    emulator.kill()
    raise RuntimeError("sim-emulator did not write its port")


def stop(process):
    if process is not None and process.poll() is None:
        process.terminate()
        process.wait()


def run_clients(bins, node, order):
    directory = tempfile.mkdtemp(prefix="msfs-bench-client-")
    emulator = None
    try:
        # The set-up the program makes, as the emulator saw it: node replays it.
        setup_trace = os.path.join(directory, "setup.jsonl")
        emulator, port = start_emulator(bins, directory, ["--frame-ms", "1", "--trace", setup_trace])
        with open(os.path.join(directory, "SimConnect.cfg"), "w") as f:
            f.write(f"[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort={port}\n")
        spawn_measured([bins["bench-client"], "0"], directory)
        stop(emulator)
        os.remove(os.path.join(directory, "port"))
        calls = [line["call"] for line in read_lines(setup_trace)]
        counts = {c: calls.count(c) for c in ("MapClientEventToSimEvent", "AddToDataDefinition",
                                             "RequestDataOnSimObject")}

        # Both clients, one after the other, against one emulator (1 ms
        # frames, no trace: neither costs the clients anything measurable).
        emulator, port = start_emulator(bins, directory, ["--frame-ms", "1"])
        with open(os.path.join(directory, "SimConnect.cfg"), "w") as f:
            f.write(f"[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort={port}\n")
        results = {}
        for who in order:
            if who == "ours":
                results["ours"] = spawn_measured([bins["bench-client"], str(CLIENT_EVENTS)], directory)
            else:
                results["node"] = spawn_measured(
                    [node, os.path.join(os.path.dirname(__file__), "node_client_bench.js"), str(port), setup_trace,
                     str(CLIENT_EVENTS)], directory)
        results["setup_calls"] = counts
        return results
    finally:
        stop(emulator)
        shutil.rmtree(directory, ignore_errors=True)


# ---------------------------------------------------------------- main

def median_of(rows, key):
    values = [r[key] for r in rows if r.get(key) is not None]
    return statistics.median(values) if values else None


def machine():
    model = ""
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        mem_kib = int(f.readline().split()[1])
    compiler = subprocess.run(["c++", "--version"], capture_output=True, text=True).stdout.splitlines()[0]
    return {"cpu": model, "cores": os.cpu_count(), "memory_gib": round(mem_kib / 1048576, 1),
            "kernel": platform.release(), "compiler": compiler, "python": platform.python_version()}


def log(text):
    print(text, flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--bin", required=True, help="build/bin of the current tree")
    parser.add_argument("--compare-program", help="msfs-panel built from another commit, measured beside this tree's")
    parser.add_argument("--compare-commit", help="that commit, for the record")
    parser.add_argument("--node", default=shutil.which("node"))
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--only", choices=["latency", "spin", "cost", "clients", "accelerate"], action="append")
    parser.add_argument("--out", required=True, help="results file (JSON)")
    args = parser.parse_args()

    bins = {name: os.path.join(os.path.abspath(args.bin), name) for name in
            ("msfs-panel", "sim-emulator", "virtual-panel", "bench-client")}
    sections = args.only or ["latency", "spin", "cost", "clients", "accelerate"]
    results = {}
    if args.only and os.path.exists(args.out):
        # Only some sections: the others stay as the file has them.
        with open(args.out) as f:
            results = json.load(f)
    results.update({"date": datetime.datetime.now().astimezone().isoformat(timespec="seconds"),
                    "machine": machine(), "runs": args.runs, "rng_start": RNG_START,
                    "load_before": load_average()})
    results.setdefault("section_dates", {})
    for section in sections:
        results["section_dates"][section] = results["date"]

    programs = [("this tree", bins["msfs-panel"])]
    if args.compare_program:
        programs.append((args.compare_commit or "compared", os.path.abspath(args.compare_program)))
    results["programs"] = [label for label, _ in programs]
    results["compare_commit"] = args.compare_commit

    if "latency" in sections:
        table = {}
        for label, program in programs:
            rows = []
            for i in range(args.runs):
                rows.append(run_latency(bins, program))
                log(f"latency {label} run {i + 1}: " + json.dumps(rows[-1]))
            table[label] = {"runs": rows, "median": {k: median_of(rows, k) for k in
                                                      ("median_ms", "p99_ms", "max_ms", "min_ms")}}
        rows = []
        for i in range(args.runs):
            rows.append(run_latency(bins, bins["msfs-panel"], LATENCY_PROFILE))
            log(f"latency {LATENCY_PROFILE_LABEL} run {i + 1}: " + json.dumps(rows[-1]))
        table[LATENCY_PROFILE_LABEL] = {"runs": rows, "median": {k: median_of(rows, k) for k in
                                                                 ("median_ms", "p99_ms", "max_ms", "min_ms")}}
        results["latency"] = table

    if "spin" in sections:
        table = []
        for label, program in programs:
            for reports, wait_ms in SPIN_RATES:
                for spin in SPINS:
                    for delay in SPIN_DELAYS:
                        rows = [run_spin(bins, program, spin, delay, reports, wait_ms) for _ in range(args.runs)]
                        table.append({"program": label, "rate": rate_label(reports, wait_ms), "knob": spin["name"],
                                      "delay_frames": delay, "sent": reports,
                                      "steps_median": median_of(rows, "steps"),
                                      "events_median": median_of(rows, "events"),
                                      "dropped_median": median_of(rows, "dropped_by_queue"), "runs": rows})
                        log(f"spin {label:12} {rate_label(reports, wait_ms):12} {spin['name']:12} delay {delay}: "
                            f"sent {reports}, steps " + ", ".join(str(r["steps"]) for r in rows)
                            + "; dropped by the full queue " + ", ".join(str(r["dropped_by_queue"]) for r in rows))
        results["spin"] = table

    if "cost" in sections:
        table = {}
        for label, program in programs:
            cost = {}
            for name, spinning in (("idle", False), ("spinning", True)):
                rows = []
                for i in range(args.runs):
                    rows.append(run_cost(bins, program, spinning))
                    log(f"cost {label} {name} run {i + 1}: " + json.dumps(rows[-1]))
                cost[name] = {"runs": rows, "cpu_ms_per_s": median_of(rows, "cpu_ms_per_s"),
                              "peak_rss_kib": median_of(rows, "peak_rss_kib")}
            table[label] = cost
        results["cost"] = table

    if "clients" in sections:
        if not args.node:
            log("clients: node not found; skipped")
        else:
            rows = []
            for i in range(max(args.runs, 5)):
                order = ("ours", "node") if i % 2 == 0 else ("node", "ours")
                rows.append(run_clients(bins, args.node, order))
                o, n = rows[-1]["ours"], rows[-1]["node"]
                log(f"clients run {i + 1}: ours wall {o['wall_ns'] / 1e6:.1f} ms cpu {o['cpu_ns'] / 1e6:.1f} ms; "
                    f"node wall {n['wall_ns'] / 1e6:.1f} ms cpu {n['cpu_ns'] / 1e6:.1f} ms "
                    f"(process {o['process_cpu_ms']:.0f} / {n['process_cpu_ms']:.0f} ms)")
            summary = {}
            for who in ("ours", "node"):
                summary[who] = {
                    "wall_ms": statistics.median(r[who]["wall_ns"] / 1e6 for r in rows),
                    "cpu_ms": statistics.median(r[who]["cpu_ns"] / 1e6 for r in rows),
                    "process_cpu_ms": statistics.median(r[who]["process_cpu_ms"] for r in rows),
                    "process_user_ms": statistics.median(r[who]["process_user_ms"] for r in rows),
                    "process_sys_ms": statistics.median(r[who]["process_sys_ms"] for r in rows),
                    "process_peak_rss_kib": statistics.median(r[who]["process_peak_rss_kib"] for r in rows)}
            summary["wall_ratio"] = summary["node"]["wall_ms"] / summary["ours"]["wall_ms"]
            summary["cpu_ratio"] = summary["node"]["cpu_ms"] / summary["ours"]["cpu_ms"]
            results["clients"] = {"events": CLIENT_EVENTS, "setup_calls": rows[0]["setup_calls"], "runs": rows,
                                  "median": summary}

    if "accelerate" in sections:
        import acceleration  # the acceleration rows: benchmarks/acceleration.py
        results["accelerate"] = acceleration.run_section(bins, bins["msfs-panel"], args.runs, log)

    results["load_after"] = load_average()
    with open(args.out, "w") as f:
        json.dump(results, f, indent=1)
    markdown = os.path.splitext(args.out)[0] + ".md"
    with open(markdown, "w") as f:
        f.write(markdown_tables(results))
    print_summary(results)
    log(f"results: {args.out}, {markdown}")


def spin_rows(r):
    """The spin rows by (knob, rate, delay), then by program."""
    rows = {}
    for row in r["spin"]:
        rows.setdefault((row["knob"], row["rate"], row["delay_frames"]), {})[row["program"]] = row
    return rows


def markdown_tables(r):
    """The figures as Markdown tables, for BENCHMARKS.md."""
    m = r["machine"]
    dates = ", ".join(f"{k} {v}" for k, v in r.get("section_dates", {}).items())
    out = [f"Run {r['date']} ({dates}) on {m['cpu']}, {m['cores']} cores, {m['memory_gib']} GiB, Linux {m['kernel']}, "
           f"{m['compiler']}; {r['runs']} runs per figure (clients: {max(r['runs'], 5)}), medians over runs; "
           f"load average {r['load_before'][0]:.2f} before, {r['load_after'][0]:.2f} after.", ""]
    programs = r.get("programs", ["this tree"])
    if "latency" in r:
        out += ["| latency, report queued to TransmitClientEvent received | median | p99 | max |", "|---|---|---|---|"]
        for label in r["latency"]:
            for i, row in enumerate(r["latency"][label]["runs"]):
                out.append(f"| {label}, run {i + 1} ({row['reports']} reports) | {row['median_ms']:.2f} ms "
                           f"| {row['p99_ms']:.2f} ms | {row['max_ms']:.2f} ms |")
            med = r["latency"][label]["median"]
            out.append(f"| **{label}, median of runs** | **{med['median_ms']:.2f} ms** | **{med['p99_ms']:.2f} ms** "
                       f"| **{med['max_ms']:.2f} ms** |")
        out.append("")
    if "spin" in r:
        out += ["| knob | reports | --event-delay-frames | " + " | ".join(f"{p}: steps of sent (dropped)" for p in programs)
                + " |", "|---|---|---|" + "---|" * len(programs)]
        for key, by in spin_rows(r).items():
            knob, rate, delay = key
            cells = [f"{by[p]['steps_median']} of {by[p]['sent']} ({by[p]['dropped_median']})" if p in by else "-"
                     for p in programs]
            out.append(f"| {knob} | {rate} | {delay} | " + " | ".join(cells) + " |")
        out.append("")
    if "cost" in r:
        out += ["| msfs-panel against a 60 Hz emulator | " + " | ".join(f"{p}: CPU per second, peak memory" for p in programs)
                + " |", "|---|" + "---|" * len(programs)]
        for name, label in (("idle", f"idle, {IDLE_SECONDS} s"),
                            ("spinning", f"spinning, 100 reports/s, {COST_SPIN_SECONDS} s")):
            cells = []
            for p in programs:
                c = r["cost"][p][name]
                cells.append(f"{c['cpu_ms_per_s']:.2f} ms/s, {c['peak_rss_kib']} KiB")
            out.append(f"| {label} | " + " | ".join(cells) + " |")
        out.append("")
    if "clients" in r:
        c = r["clients"]["median"]
        out += [f"| {CLIENT_EVENTS} events after the program's set-up | wall | CPU (the work) | CPU (whole process) "
                "| of which kernel | peak RSS |", "|---|---|---|---|---|---|"]
        for who, label in (("ours", "simconnect-net (C++)"), ("node", "node-simconnect 4.2.0")):
            x = c[who]
            out.append(f"| {label} | {x['wall_ms']:.1f} ms | {x['cpu_ms']:.1f} ms | {x['process_cpu_ms']:.0f} ms "
                       f"| {x['process_sys_ms']:.0f} ms | {x['process_peak_rss_kib']} KiB |")
        out += [f"| **node-simconnect / ours** | **{c['wall_ratio']:.1f}x** | **{c['cpu_ratio']:.1f}x** | "
                f"{c['node']['process_cpu_ms'] / c['ours']['process_cpu_ms']:.1f}x | | |", ""]
    import acceleration
    out += acceleration.markdown(r)
    return "\n".join(out) + "\n"


def print_summary(r):
    log("")
    log(f"== {r['date']}  {r['machine']['cpu']} ({r['machine']['cores']} cores)  runs: {r['runs']}  "
        f"load before {r['load_before'][0]:.2f}, after {r['load_after'][0]:.2f}")
    programs = r.get("programs", ["this tree"])
    if "latency" in r:
        for p in r["latency"]:
            m = r["latency"][p]["median"]
            log(f"latency {p} (report queued -> TransmitClientEvent received), median of runs: "
                f"median {m['median_ms']:.2f} ms, p99 {m['p99_ms']:.2f} ms, max {m['max_ms']:.2f} ms")
    if "spin" in r:
        log("spin: steps the simulator ends with, of the detents sent (dropped by the full queue), median of runs")
        log(f"  {'knob':12} {'reports':12} {'delay':>5} " + " ".join(f"{p:>18}" for p in programs))
        for (knob, rate, delay), by in spin_rows(r).items():
            cells = [f"{by[p]['steps_median']}/{by[p]['sent']} ({by[p]['dropped_median']})" if p in by else "-"
                     for p in programs]
            log(f"  {knob:12} {rate:12} {delay:>5} " + " ".join(f"{c:>18}" for c in cells))
    if "cost" in r:
        for p in programs:
            for name in ("idle", "spinning"):
                c = r["cost"][p][name]
                log(f"cost {p} {name}: {c['cpu_ms_per_s']:.2f} ms CPU per s, peak RSS {c['peak_rss_kib']} KiB")
    if "clients" in r:
        m = r["clients"]["median"]
        log(f"clients, {CLIENT_EVENTS} events: ours wall {m['ours']['wall_ms']:.1f} ms cpu {m['ours']['cpu_ms']:.1f} ms; "
            f"node-simconnect wall {m['node']['wall_ms']:.1f} ms cpu {m['node']['cpu_ms']:.1f} ms; "
            f"ratio wall {m['wall_ratio']:.1f}x cpu {m['cpu_ratio']:.1f}x")
    import acceleration
    acceleration.summary(r, log)


if __name__ == "__main__":
    sys.exit(main())
