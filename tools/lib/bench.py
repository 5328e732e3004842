"""tools/bench: hushpane.exe against a do-nothing baseline, under Wine in the
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

from wine_desktop import Desktop, wait_until

ROOT = Path(__file__).resolve().parents[2]
BUILD = ROOT / "build" / "windows"
EXE = BUILD / "hushpane.exe"
BASELINE = BUILD / "tests" / "bench" / "hpbaseline.exe"
BASELINE_USER32 = BUILD / "tests" / "bench" / "hpbaseline-user32.exe"
PROBE = BUILD / "tests" / "e2e" / "hpprobe.exe"
EVENT = "HushpaneBenchBaselineReady"
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def spread(values):
    return {"median": statistics.median(values), "min": min(values), "max": max(values), "runs": len(values)}


def cpu_ms(pid):
    """User plus system CPU time of a process, from /proc."""
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(") ", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * 1000 / CLOCK_TICKS


def rss_kb(pid):
    return int(re.search(r"VmRSS:\s+(\d+)", Path(f"/proc/{pid}/status").read_text()).group(1))


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


def launch(desk, exe, event=None):
    desk.probe("reset")
    args = ["launch", exe, 10000] + ([event] if event else [])
    output = desk.probe(*args)
    return float(re.search(r"ms=([\d.]+)", output).group(1))


def start_up(desk, runs):
    program = [launch(desk, EXE) for _ in range(runs)]
    baseline = [launch(desk, BASELINE, EVENT) for _ in range(runs)]
    user32 = [launch(desk, BASELINE_USER32, EVENT) for _ in range(runs)]
    desk.purge_dead_icons()
    return spread(program), spread(baseline), spread(user32)


def idle(desk, seconds, runs):
    """CPU over `seconds` of idle running and resident memory, each program
    alone with the desktop, alternating; the wineserver's CPU over the same
    time is added, as Wine's share of the cost."""
    server = wineserver_pid(desk)
    programs = (("hushpane", EXE), ("baseline", BASELINE), ("baseline_user32", BASELINE_USER32))
    results = {name: {"cpu": [], "rss": []} for name, _ in programs}
    for _ in range(runs):
        for name, exe in programs:
            desk.probe("reset")
            process = desk.popen([exe], Path(desk.state["log_dir"]) / f"{name}.log")
            if name == "hushpane":
                desk.probe("wait-alpha", 0, 10000)
            time.sleep(2)  # past start-up
            own, wine = cpu_ms(process.pid), cpu_ms(server)
            time.sleep(seconds)
            own, wine = cpu_ms(process.pid) - own, cpu_ms(server) - wine
            results[name]["cpu"].append((own + wine) * 60 / seconds)
            results[name]["rss"].append(rss_kb(process.pid))
            process.kill()
            process.wait()
    desk.purge_dead_icons()
    return results


def hot_key(desk, samples):
    """Fresh program, a random wait within the poll period, Ctrl+0, and the
    time until the taskbar reads alpha 255."""
    latencies = []
    for _ in range(samples):
        desk.probe("reset")
        process = desk.popen([EXE], Path(desk.state["log_dir"]) / "hotkey.log")
        desk.probe("wait-alpha", 0, 10000)
        time.sleep(0.5 + random.uniform(0, 0.5))
        output = desk.probe("press-wait-alpha", 255, 3000)
        latencies.append(float(re.search(r"ms=([\d.]+)", output).group(1)))
        process.kill()
        process.wait()
    desk.purge_dead_icons()
    latencies.sort()
    return {"p50": statistics.median(latencies), "p95": latencies[max(0, round(0.95 * len(latencies)) - 1)],
            "max": latencies[-1], "samples": len(latencies)}


def sizes():
    pe = pefile.PE(str(EXE))
    resources = sum(s.SizeOfRawData for s in pe.sections if s.Name.rstrip(b"\0") == b".rsrc")
    return {"exe": EXE.stat().st_size, "resources": resources, "baseline": BASELINE.stat().st_size}


def table(figures):
    s, i, h, z = figures["start_up_ms"], figures["idle"], figures["hot_key_ms"], figures["size_bytes"]
    row = lambda d, unit="": f"{d['median']:.1f}{unit} (min {d['min']:.1f}, max {d['max']:.1f})"
    lines = [
        f"Hushpane footprint, {figures['date']}, {figures['machine']}",
        "",
        "| figure | hushpane.exe | baseline | baseline + taskbar lookup | comparison |",
        "|---|---|---|---|---|",
        f"| start-up to taskbar hidden / first sign of life | {row(s['hushpane'], ' ms')} | {row(s['baseline'], ' ms')}"
        f" | {row(s['baseline_user32'], ' ms')} | ratio {s['ratio']:.2f} (target <= 1.3);"
        f" {s['ratio_user32']:.2f} against the lookup baseline |",
        f"| idle CPU, ms per minute incl. wineserver | {row(i['hushpane']['cpu_ms_per_min'])} |"
        f" {row(i['baseline']['cpu_ms_per_min'])} | {row(i['baseline_user32']['cpu_ms_per_min'])} | target <= 100 |",
        f"| resident memory | {row(i['hushpane']['rss_kb'], ' KB')} | {row(i['baseline']['rss_kb'], ' KB')} |"
        f" {row(i['baseline_user32']['rss_kb'], ' KB')} | +{i['rss_difference_kb']:.0f} KB (target <= 2048);"
        f" +{i['rss_difference_user32_kb']:.0f} KB against the lookup baseline |",
        f"| Ctrl+0 to alpha 255 | p50 {h['p50']:.0f} ms, p95 {h['p95']:.0f} ms, max {h['max']:.0f} ms"
        f" ({h['samples']} presses) | | | p95 target <= 600 |",
        f"| exe size | {z['exe'] / 1024:.1f} KB, of which resources {z['resources'] / 1024:.1f} KB |"
        f" {z['baseline'] / 1024:.1f} KB | | target <= 300 KB |",
    ]
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--quick", action="store_true", help="fewer, shorter runs: rough figures")
    args = parser.parse_args()
    runs, idle_seconds, presses = (3, 10, 10) if args.quick else (7, 60, 20)

    desk = Desktop.start(ROOT / "build" / "bench" / "prefix", PROBE, ROOT / "build" / "bench" / "logs")
    try:
        print(f"Desktop up on {desk.state['display']}; measuring ({'quick' if args.quick else 'full'})...",
              flush=True)
        program, baseline, user32 = start_up(desk, runs)
        print("start-up measured", flush=True)
        idle_results = idle(desk, idle_seconds, max(3, runs // 2))
        print("idle CPU and memory measured", flush=True)
        hot = hot_key(desk, presses)
    finally:
        desk.stop()

    cpu = {name: spread(values["cpu"]) for name, values in idle_results.items()}
    rss = {name: spread(values["rss"]) for name, values in idle_results.items()}
    figures = {
        "date": datetime.date.today().isoformat(),
        "machine": f"{platform.machine()}, {os.cpu_count()} cores, {platform.system()} {platform.release()}, "
                   + subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip(),
        "quick": args.quick,
        "start_up_ms": {"hushpane": program, "baseline": baseline, "baseline_user32": user32,
                        "ratio": program["median"] / baseline["median"],
                        "ratio_user32": program["median"] / user32["median"]},
        "idle": {
            "seconds": idle_seconds,
            "hushpane": {"cpu_ms_per_min": cpu["hushpane"], "rss_kb": rss["hushpane"]},
            "baseline": {"cpu_ms_per_min": cpu["baseline"], "rss_kb": rss["baseline"]},
            "baseline_user32": {"cpu_ms_per_min": cpu["baseline_user32"], "rss_kb": rss["baseline_user32"]},
            "rss_difference_kb": rss["hushpane"]["median"] - rss["baseline"]["median"],
            "rss_difference_user32_kb": rss["hushpane"]["median"] - rss["baseline_user32"]["median"],
        },
        "hot_key_ms": hot,
        "size_bytes": sizes(),
    }
    output = ROOT / "build" / "bench.json"
    output.write_text(json.dumps(figures, indent=2) + "\n")
    print(table(figures))
    print(f"\nWritten to {output.relative_to(ROOT)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
