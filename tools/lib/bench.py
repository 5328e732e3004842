"""tools/bench: hushpane.exe against do-nothing baselines, under Wine in the
same headless shell desktop as the end-to-end suite. Every figure is the
median of several runs, with the minimum and maximum."""
import argparse
import datetime
import json
import os
import platform
import random
import re
import statistics
import subprocess
import sys
import time
from pathlib import Path

import pefile

from wine_desktop import Desktop

ROOT = Path(__file__).resolve().parents[2]
BUILD = ROOT / "build" / "windows"
PROBE = BUILD / "tests" / "e2e" / "hpprobe.exe"
EVENT = "HushpaneBenchBaselineReady"
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")

# Name, exe, what it is. The first baseline is the one the targets refer to;
# the others add the system DLLs that hushpane.exe loads, one step at a time.
PROGRAMS = [
    ("hushpane", BUILD / "hushpane.exe", "hushpane.exe"),
    ("baseline", BUILD / "tests" / "bench" / "hpbaseline.exe", "baseline: starts, does nothing, sleeps"),
    ("baseline_user32", BUILD / "tests" / "bench" / "hpbaseline-user32.exe", "baseline + USER32 (taskbar lookup)"),
    ("baseline_shell32", BUILD / "tests" / "bench" / "hpbaseline-shell32.exe", "baseline + USER32 + SHELL32"),
]


def spread(values):
    return {"median": statistics.median(values), "min": min(values), "max": max(values), "runs": len(values)}


def cpu_ms(pid):
    """User plus system CPU time of a process, from /proc."""
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(") ", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * 1000 / CLOCK_TICKS


def memory_kb(pid):
    """Resident memory, and the part of it that is the process's own (not
    shared with other processes, such as DLL pages mapped from files)."""
    rss = int(re.search(r"VmRSS:\s+(\d+)", Path(f"/proc/{pid}/status").read_text()).group(1))
    rollup = Path(f"/proc/{pid}/smaps_rollup").read_text()
    private = sum(int(v) for v in re.findall(r"Private_(?:Clean|Dirty):\s+(\d+)", rollup))
    return rss, private


def wineserver_pid(desk):
    prefix = os.path.realpath(desk.state["prefix"])
    for entry in Path("/proc").iterdir():
        if entry.name.isdigit():
            try:
                if "wineserver" in (entry / "comm").read_text():
                    environ = (entry / "environ").read_bytes().split(b"\0")
                    if f"WINEPREFIX={prefix}".encode() in environ:
                        return int(entry.name)
            except OSError:
                continue
    raise RuntimeError("no wineserver for the bench prefix")


def start_up(desk, runs):
    """Launch to the taskbar's alpha read back as 0 (hushpane.exe), or to the
    named event the baseline sets; timed inside Wine by hpprobe.exe."""
    times = {name: [] for name, _, _ in PROGRAMS}
    for _ in range(runs):
        for name, exe, _ in PROGRAMS:
            desk.probe("reset")
            args = ["launch", exe, 10000] + ([] if name == "hushpane" else [EVENT])
            times[name].append(float(re.search(r"ms=([\d.]+)", desk.probe(*args)).group(1)))
    desk.purge_dead_icons()
    return {name: spread(values) for name, values in times.items()}


def idle(desk, seconds, runs):
    """CPU over `seconds` of idle running, and memory, each program alone with
    the desktop, in turn; the wineserver's CPU over the same time is Wine's
    share of the cost and is reported beside the process's own."""
    server = wineserver_pid(desk)
    samples = {name: {"own": [], "with_wineserver": [], "rss": [], "private": []} for name, _, _ in PROGRAMS}
    for _ in range(runs):
        for name, exe, _ in PROGRAMS:
            desk.probe("reset")
            process = desk.popen([exe], Path(desk.state["log_dir"]) / f"{name}.log")
            if name == "hushpane":
                desk.probe("wait-alpha", 0, 10000)
            time.sleep(2)  # past start-up
            own, wine = cpu_ms(process.pid), cpu_ms(server)
            time.sleep(seconds)
            own, wine = cpu_ms(process.pid) - own, cpu_ms(server) - wine
            rss, private = memory_kb(process.pid)
            sample = samples[name]
            sample["own"].append(own * 60 / seconds)
            sample["with_wineserver"].append((own + wine) * 60 / seconds)
            sample["rss"].append(rss)
            sample["private"].append(private)
            process.kill()
            process.wait()
    desk.purge_dead_icons()
    return {name: {key: spread(values) for key, values in sample.items()} for name, sample in samples.items()}


def hot_key(desk, presses):
    """A fresh program, a random wait within the poll period, Ctrl+0, and the
    time until the taskbar reads alpha 255."""
    latencies = []
    for _ in range(presses):
        desk.probe("reset")
        process = desk.popen([PROGRAMS[0][1]], Path(desk.state["log_dir"]) / "hotkey.log")
        desk.probe("wait-alpha", 0, 10000)
        time.sleep(0.5 + random.uniform(0, 0.5))
        output = desk.probe("press-wait-alpha", 255, 3000)
        latencies.append(float(re.search(r"ms=([\d.]+)", output).group(1)))
        process.kill()
        process.wait()
    desk.purge_dead_icons()
    latencies.sort()
    return {"p50": statistics.median(latencies), "p95": latencies[max(0, round(0.95 * len(latencies)) - 1)],
            "max": latencies[-1], "presses": len(latencies)}


def sizes():
    exe = PROGRAMS[0][1]
    pe = pefile.PE(str(exe))
    resources = sum(s.SizeOfRawData for s in pe.sections if s.Name.rstrip(b"\0") == b".rsrc")
    return {"exe": exe.stat().st_size, "resources": resources, "baseline": PROGRAMS[1][1].stat().st_size}


def table(figures):
    s, i, h, z, c = (figures[k] for k in ("start_up_ms", "idle", "hot_key_ms", "size_bytes", "comparison"))
    f = lambda d, digits=1: f"{d['median']:.{digits}f} ({d['min']:.{digits}f}–{d['max']:.{digits}f})"
    lines = [
        f"Hushpane footprint, {figures['date']}: {figures['machine']}",
        f"Median (min–max); start-up over {s['hushpane']['runs']} runs, idle over "
        f"{i['hushpane']['own']['runs']} runs of {figures['idle_seconds']} s.",
        "",
        "| program | start-up, ms | idle CPU, ms/min: own | idle CPU, ms/min: with wineserver"
        " | resident, KB | private, KB |",
        "|---|---|---|---|---|---|",
    ]
    for name, _, label in PROGRAMS:
        lines.append(f"| {label} | {f(s[name])} | {f(i[name]['own'], 0)} | {f(i[name]['with_wineserver'], 0)}"
                     f" | {f(i[name]['rss'], 0)} | {f(i[name]['private'], 0)} |")
    lines += [
        "",
        "| measure | figure | target |",
        "|---|---|---|",
        f"| start-up, hushpane.exe / baseline | {c['start_up_ratio']:.2f}"
        f" ({c['start_up_ratio_shell32']:.2f} against baseline + USER32 + SHELL32) | <= 1.3 |",
        f"| idle CPU of hushpane.exe with wineserver | {i['hushpane']['with_wineserver']['median']:.0f} ms/min"
        f" (baseline {i['baseline']['with_wineserver']['median']:.0f}) | <= 100 ms/min |",
        f"| resident memory above the baseline | {c['rss_above_baseline_kb']:.0f} KB"
        f" ({c['rss_above_shell32_kb']:.0f} KB above baseline + USER32 + SHELL32) | <= 2048 KB |",
        f"| Ctrl+0 to alpha 255, {h['presses']} presses | p50 {h['p50']:.0f} ms, p95 {h['p95']:.0f} ms,"
        f" max {h['max']:.0f} ms | p95 <= 600 ms |",
        f"| exe size | {z['exe'] / 1024:.1f} KB, of which resources {z['resources'] / 1024:.1f} KB"
        f" (baseline {z['baseline'] / 1024:.1f} KB) | <= 300 KB |",
    ]
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--quick", action="store_true", help="fewer, shorter runs: rough figures")
    args = parser.parse_args()
    runs, idle_runs, idle_seconds, presses = (3, 1, 10, 10) if args.quick else (7, 3, 60, 20)

    desk = Desktop.start(ROOT / "build" / "bench" / "prefix", PROBE, ROOT / "build" / "bench" / "logs")
    try:
        print(f"Desktop up on {desk.state['display']}; measuring ({'quick' if args.quick else 'full'})...",
              flush=True)
        start = start_up(desk, runs)
        print("start-up measured", flush=True)
        quiet = idle(desk, idle_seconds, idle_runs)
        print("idle CPU and memory measured", flush=True)
        hot = hot_key(desk, presses)
    finally:
        desk.stop()

    median = lambda d: d["median"]
    figures = {
        "date": datetime.date.today().isoformat(),
        "machine": f"{platform.machine()}, {os.cpu_count()} cores, Debian, "
                   + subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip(),
        "quick": args.quick,
        "idle_seconds": idle_seconds,
        "start_up_ms": start,
        "idle": quiet,
        "hot_key_ms": hot,
        "size_bytes": sizes(),
        "comparison": {
            "start_up_ratio": median(start["hushpane"]) / median(start["baseline"]),
            "start_up_ratio_shell32": median(start["hushpane"]) / median(start["baseline_shell32"]),
            "rss_above_baseline_kb": median(quiet["hushpane"]["rss"]) - median(quiet["baseline"]["rss"]),
            "rss_above_shell32_kb": median(quiet["hushpane"]["rss"]) - median(quiet["baseline_shell32"]["rss"]),
        },
    }
    output = ROOT / "build" / "bench.json"
    output.write_text(json.dumps(figures, indent=2) + "\n")
    print(table(figures))
    print(f"\nWritten to {output.relative_to(ROOT)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
