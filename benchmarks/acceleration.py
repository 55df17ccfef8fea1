"""The acceleration rows of the benchmarks (bench.py --only accelerate):
a 2 s fast spin of the AP altitude knob with and without --accelerate (the
steps the simulator's altitude moved), and knob-to-event latency on that
knob with and without it. Measured on this tree's program only: an older
one may not know the option.
"""

import random
import statistics

import bench

# 2 s spins at 20 and 100 detents a second, one detent per report.
SPINS = ((40, 50), (200, 10))
START_FEET = 20000
LATENCY_REPORTS = 300
OPTIONS = (("off", []), ("--accelerate", ["--accelerate"]))


def spin_script(reports, wait_ms):
    return "wait 600\nreport 6 0 0 0\nwait 200\n" + f"report 6 0 1 0\nwait {wait_ms}\n" * reports


def run_spin(bins, program, args, reports, wait_ms):
    run = bench.Run(bins, program, spin_script(reports, wait_ms),
                    ["--set", f"AUTOPILOT ALTITUDE LOCK VAR={START_FEET}"], 1000, program_args=args)
    try:
        run.finish(timeout=60)
        events = [t for t in run.trace if t.get("call") == "TransmitClientEvent"
                  and t.get("sim_event") == "AP_ALT_VAR_SET_ENGLISH"]
        end = run.state["AUTOPILOT ALTITUDE LOCK VAR"] if run.state else None
        return {"sent": reports, "events": len(events),
                "steps": None if end is None else round((end - START_FEET) / 100),
                "dropped_by_queue": sum(1 for r in run.reports if not r["queued"])}
    finally:
        run.cleanup()


def latency_script():
    rng = random.Random(bench.RNG_START)
    lines = ["wait 600\nreport 6 0 0 0\nwait 200\n"]
    for _ in range(LATENCY_REPORTS):
        lines.append("report 6 0 1 0\n")
        lines.append(f"wait {rng.randint(*bench.LATENCY_WAIT_MS)}\n")
    return "".join(lines)


def run_latency(bins, program, args):
    run = bench.Run(bins, program, latency_script(), ["--set", f"AUTOPILOT ALTITUDE LOCK VAR={START_FEET}"], 400,
                    program_args=args)
    try:
        run.finish(timeout=120)
        queued = [r for r in run.reports if r["queued"] and r["bytes"].split()[5] != "00"]
        sent = [t for t in run.trace if t.get("call") == "TransmitClientEvent"]
        if len(queued) != LATENCY_REPORTS or len(sent) != len(queued):
            raise RuntimeError(f"acceleration latency: {len(queued)} reports queued, {len(sent)} events received")
        ms = [(t["t_ns"] - r["t_ns"]) / 1e6 for r, t in zip(queued, sent)]
        if min(ms) < 0:
            raise RuntimeError("acceleration latency: an event arrived before its report was queued")
        return {"reports": len(ms), "median_ms": statistics.median(ms), "p99_ms": bench.percentile(ms, 99),
                "max_ms": max(ms)}
    finally:
        run.cleanup()


def run_section(bins, program, runs, log):
    spins = []
    for reports, wait_ms in SPINS:
        for label, args in OPTIONS:
            rows = [run_spin(bins, program, args, reports, wait_ms) for _ in range(runs)]
            spins.append({"rate": bench.rate_label(reports, wait_ms), "option": label, "sent": reports,
                          "steps_median": bench.median_of(rows, "steps"), "runs": rows})
            log(f"accelerate spin {bench.rate_label(reports, wait_ms):12} {label:13}: sent {reports}, steps "
                + ", ".join(str(r["steps"]) for r in rows))
    latency = {}
    for label, args in OPTIONS:
        rows = []
        for i in range(runs):
            rows.append(run_latency(bins, program, args))
            log(f"accelerate latency {label} run {i + 1}: " + str(rows[-1]))
        latency[label] = {"runs": rows, "median": {k: bench.median_of(rows, k) for k in
                                                   ("median_ms", "p99_ms", "max_ms")}}
    return {"seconds": 2, "spin": spins, "latency": latency}


def markdown(r):
    if "accelerate" not in r:
        return []
    a = r["accelerate"]
    out = ["| AP altitude knob, 2 s spin | reports | steps moved, off | steps moved, --accelerate |",
           "|---|---|---|---|"]
    by_rate = {}
    for row in a["spin"]:
        by_rate.setdefault(row["rate"], {})[row["option"]] = row
    for rate, by in by_rate.items():
        out.append(f"| {rate} | {by['off']['sent']} | {by['off']['steps_median']} "
                   f"| {by['--accelerate']['steps_median']} |")
    out += ["", "| AP altitude knob, report queued to TransmitClientEvent received | median | p99 | max |",
            "|---|---|---|---|"]
    for label, row in a["latency"].items():
        m = row["median"]
        out.append(f"| {label} ({LATENCY_REPORTS} reports, median of runs) | {m['median_ms']:.2f} ms "
                   f"| {m['p99_ms']:.2f} ms | {m['max_ms']:.2f} ms |")
    return out + [""]


def summary(r, log):
    if "accelerate" not in r:
        return
    a = r["accelerate"]
    for row in a["spin"]:
        log(f"accelerate: AP knob 2 s spin, {row['rate']:12} {row['option']:13} steps {row['steps_median']} "
            f"of {row['sent']} detents")
    for label, row in a["latency"].items():
        m = row["median"]
        log(f"accelerate: AP knob latency {label}: median {m['median_ms']:.2f} ms, p99 {m['p99_ms']:.2f} ms, "
            f"max {m['max_ms']:.2f} ms")
