"""tools/bench: hushpane.exe under Wine, in the same headless shell desktop as
the end-to-end suite, side by side with a baseline that makes the same kinds
of system calls (what Hushpane's own logic costs is the difference) and with
do-nothing baselines (the floor that Wine itself sets); then a long day of
menus, boxes, Pause and peeks, to see whether the program grows. Every timed
figure is the median of several runs, with the minimum and maximum."""
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
import traceback
from pathlib import Path

import pefile
import psutil

from wine_desktop import Desktop, wait_until

ROOT = Path(__file__).resolve().parents[2]
BUILD = ROOT / "build" / "windows"
PROBE = BUILD / "tests" / "e2e" / "hpprobe.exe"
EVENT = "HushpaneBenchBaselineReady"

# Name, exe, what it is, its sign of life for the start-up time. The
# same-calls baseline is the one the targets refer to; the do-nothing ones add
# the system DLLs that hushpane.exe loads, one step at a time, and show
# Wine's own floor. A program of ours is alive once its message-only window
# exists: the last step of start-up before the icon is added.
PROGRAMS = [
    ("hushpane", BUILD / "hushpane.exe", "hushpane.exe", "window=TrayIconApp"),
    ("hushpane_unprotected", BUILD / "tests" / "bench" / "hushpane-unprotected.exe",
     "hushpane.exe without the stack protector", "window=TrayIconApp"),
    ("baseline_samecalls", BUILD / "tests" / "bench" / "hpbaseline-samecalls.exe",
     "baseline: same system calls (hot key, icon, window, 500 ms poll)", "window=HushpaneBenchSameCalls"),
    ("baseline", BUILD / "tests" / "bench" / "hpbaseline.exe", "baseline: starts, does nothing, sleeps", EVENT),
    ("baseline_user32", BUILD / "tests" / "bench" / "hpbaseline-user32.exe", "baseline + USER32 (taskbar lookup)",
     EVENT),
    ("baseline_shell32", BUILD / "tests" / "bench" / "hpbaseline-shell32.exe", "baseline + USER32 + SHELL32", EVENT),
]
HUSHPANE_EXE = PROGRAMS[0][1]
STEP_FILE = ROOT / "build" / "bench" / "step"  # the step under way, for tools/bench to name if this ends by a signal
CRYPTOGRAPHY_KEYS = r"Software\Microsoft\Cryptography"  # the cryptographic provider's, read by CryptAcquireContext


def spread(values):
    return {"median": statistics.median(values), "min": min(values), "max": max(values), "runs": len(values)}


class BenchError(RuntimeError):
    pass


def thread_times(pid, proc=Path("/proc")):
    """Each thread's time on the CPU, in ns, by thread id: the scheduler's own
    count (/proc's utime and stime move in 10 ms ticks, and one tick would
    decide a target of 10 ms a minute). A reading that gives nothing, or only
    zeros, fails: a figure made of no reading would say "met"."""
    times = {}
    for task in (proc / str(pid) / "task").iterdir():
        try:
            times[task.name] = int((task / "schedstat").read_text().split()[0])
        except (OSError, ValueError, IndexError):  # ended meanwhile, or unreadable
            pass
    if not times:
        raise BenchError(f"no thread of process {pid} has a readable {proc}/{pid}/task/*/schedstat")
    if not any(times.values()):
        raise BenchError(f"every thread of process {pid} reads 0 ns in {proc}/{pid}/task/*/schedstat")
    return times


def cpu_between(before, after):
    """The ms of CPU that the threads used between two readings, and how many
    ended between them: their time after the first reading is not counted, so
    the figure is then too low, and the bench says so."""
    used = sum(ns - before.get(thread, 0) for thread, ns in after.items())
    return used / 1e6, sum(1 for thread in before if thread not in after)


def memory_kb(pid):
    """Resident memory, the part of it that is the process's own (not shared
    with other processes, such as DLL pages mapped from files: its unique set),
    and the anonymous part (heaps and stacks: resident less what is shared),
    each in KB."""
    memory = psutil.Process(pid).memory_full_info()
    return memory.rss // 1024, memory.uss // 1024, (memory.rss - memory.shared) // 1024


def wineserver_pid(desk):
    for process in psutil.process_iter(["name", "environ"]):
        environ = process.info["environ"] or {}
        if "wineserver" in (process.info["name"] or "") and environ.get("WINEPREFIX") == desk.prefix:
            return process.pid
    raise BenchError("no wineserver for the bench prefix")


def start_up(desk, runs):
    """Launch to each program's sign of life, timed inside Wine by hpprobe.exe."""
    times = {name: [] for name, _, _, _ in PROGRAMS}
    for _ in range(runs):
        for name, exe, _, sign in PROGRAMS:
            desk.probe("reset")
            times[name].append(float(re.search(r"ms=([\d.]+)", desk.probe("launch", exe, 10000, sign)).group(1)))
    desk.purge_dead_icons()
    return {name: spread(values) for name, values in times.items()}


def start_alive(desk, name, exe, sign):
    """Starts a program and waits for its sign of life, as the start-up figure
    does: hpprobe makes the event first, then the program sets it."""
    log_dir = desk.log_dir
    said = log_dir / f"{name}-sign.stdout"
    waiter = desk.popen([PROBE, "await-sign", sign, 10000], log_dir / f"{name}-sign.log", stdout_path=said)
    wait_until(f"hpprobe await-sign {sign}", lambda: "waiting" in said.read_text(), 30)
    process = desk.popen([exe], log_dir / f"{name}.log")
    if waiter.wait(timeout=30) != 0:
        process.kill()
        raise BenchError(f"{name} gave no sign of life ({sign}) within 10 s: {said.read_text().strip()}")
    return process


def idle(desk, seconds, runs):
    """CPU over `seconds` of idle running, and memory, each program alone with
    the desktop, in turn, from its sign of life on; the wineserver's CPU over
    the same time is Wine's share of the cost and is reported beside the
    process's own."""
    server = wineserver_pid(desk)
    samples = {name: {"own": [], "with_wineserver": [], "rss": [], "private": []} for name, _, _, _ in PROGRAMS}
    ended = 0
    for _ in range(runs):
        for name, exe, _, sign in PROGRAMS:
            desk.probe("reset")
            process = start_alive(desk, name, exe, sign)
            time.sleep(2)  # past start-up
            own, wine = thread_times(process.pid), thread_times(server)
            time.sleep(seconds)
            (own, own_ended), (wine, wine_ended) = (cpu_between(own, thread_times(process.pid)),
                                                    cpu_between(wine, thread_times(server)))
            ended += own_ended + wine_ended
            rss, private, _ = memory_kb(process.pid)
            sample = samples[name]
            sample["own"].append(own * 60 / seconds)
            sample["with_wineserver"].append((own + wine) * 60 / seconds)
            sample["rss"].append(rss)
            sample["private"].append(private)
            process.kill()
            process.wait()
    desk.purge_dead_icons()
    figures = {name: {key: spread(values) for key, values in sample.items()} for name, sample in samples.items()}
    figures["threads_ended_during_a_reading"] = ended
    return figures


def hot_key(desk, presses):
    """A fresh program, a random wait within the poll period, Ctrl+0, and the
    time until the taskbar reads alpha 255."""
    latencies = []
    for _ in range(presses):
        desk.probe("reset")
        process = desk.popen([HUSHPANE_EXE], desk.log_dir / "hotkey.log")
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


def peek(desk):
    desk.probe("press-wait-alpha", 255, 3000)
    desk.probe("wait-alpha", 0, 22000)


def growth(desk, rounds, menus, boxes, pauses, peeks):
    """One program through many uses of its icon, as the shell and a user
    would make them, in rounds; its memory, kernel handles and windows after
    a warm-up and after every round. An even number of Pauses a round, so
    each round ends hidden, as it began."""
    desk.probe("reset")
    process = desk.popen([HUSHPANE_EXE], desk.log_dir / "growth.log")
    try:
        desk.probe("wait-alpha", 0, 10000)
        windows_pid = re.search(r"pid=(\d+)", desk.probe("hidden")).group(1)

        def sample(label):
            time.sleep(1)
            _, private, anonymous = memory_kb(process.pid)
            objects = dict(pair.split("=") for pair in desk.probe("objects", windows_pid).split())
            return {"after": label, "private_kb": private, "anonymous_kb": anonymous,
                    "handles": int(objects["handles"]), "windows": int(objects["windows"])}

        for kind, times in (("menu", 10), ("box", 10), ("pause", 2)):
            desk.probe("use-icon", kind, times)
        peek(desk)
        samples = [sample("warm-up: 10 menus, 10 boxes, 2 Pauses, 1 peek")]
        print(f"  {samples[-1]}", flush=True)
        for round_number in range(1, rounds + 1):
            for kind, times in (("menu", menus), ("box", boxes), ("pause", pauses)):
                desk.probe("use-icon", kind, times)
            if round_number <= peeks:
                peek(desk)
            samples.append(sample(f"round {round_number}"))
            print(f"  {samples[-1]}", flush=True)
    finally:
        process.kill()
        process.wait()
        desk.purge_dead_icons()
    first, last = samples[0], samples[-1]
    return {
        "uses": {"menus": rounds * menus, "boxes": rounds * boxes, "pauses": rounds * pauses,
                 "peeks": min(peeks, rounds)},
        "samples": samples,
        "private_growth_kb": last["private_kb"] - first["private_kb"],
        "anonymous_growth_kb": last["anonymous_kb"] - first["anonymous_kb"],
        "handles_growth": last["handles"] - first["handles"],
        "windows_growth": last["windows"] - first["windows"],
    }


def registry_keys(desk):
    """The registry keys that a start of hushpane.exe opens, by Wine's trace
    (WINEDEBUG=+reg, one line a key opened), from its launch until its icon
    is added: a second after its message-only window, the step right before."""
    trace = desk.log_dir / "registry.trace"
    trace.unlink(missing_ok=True)  # the log of a program started in the desktop is appended to
    desk.probe("reset")
    process = desk.popen([HUSHPANE_EXE], trace, env={"WINEDEBUG": "+reg"})
    try:
        desk.probe("wait-alpha", 0, 10000)
        wait_until("its message-only window", lambda: "pid=" in desk.probe("hidden", check=False), 10)
        time.sleep(1)
    finally:
        process.kill()
        process.wait()
    desk.purge_dead_icons()
    # Each key as the trace writes it, its backslashes doubled.
    opened = [key.replace("\\\\", "\\") for key in
              re.findall(r'trace:reg:NtOpenKeyEx \([^,]*,L"([^"]*)"', trace.read_text(errors="replace"))]
    if not opened:
        raise BenchError(f"Wine's registry trace in {trace} names no key opened")
    return {"opened": len(opened), "cryptography": sum(CRYPTOGRAPHY_KEYS.lower() in key.lower() for key in opened)}


def sizes():
    exe = HUSHPANE_EXE
    pe = pefile.PE(str(exe))
    resources = sum(s.SizeOfRawData for s in pe.sections if s.Name.rstrip(b"\0") == b".rsrc")
    program = {name: path for name, path, _, _ in PROGRAMS}
    return {"exe": exe.stat().st_size, "resources": resources,
            "baseline_samecalls": program["baseline_samecalls"].stat().st_size,
            "baseline": program["baseline"].stat().st_size}


def comparison(start, quiet):
    median = lambda d: d["median"]
    own = lambda name, key: median(quiet[name][key])
    return {
        "start_up_ratio_samecalls": median(start["hushpane"]) / median(start["baseline_samecalls"]),
        "private_above_samecalls_kb": own("hushpane", "private") - own("baseline_samecalls", "private"),
        "rss_above_samecalls_kb": own("hushpane", "rss") - own("baseline_samecalls", "rss"),
        "idle_own_above_samecalls_ms_per_min": own("hushpane", "own") - own("baseline_samecalls", "own"),
        "idle_with_wineserver_above_samecalls_ms_per_min":
            own("hushpane", "with_wineserver") - own("baseline_samecalls", "with_wineserver"),
        "start_up_ratio": median(start["hushpane"]) / median(start["baseline"]),
        "rss_above_baseline_kb": own("hushpane", "rss") - own("baseline", "rss"),
        "private_above_baseline_kb": own("hushpane", "private") - own("baseline", "private"),
        "private_above_shell32_kb": own("hushpane", "private") - own("baseline_shell32", "private"),
        "protector_private_kb": own("hushpane", "private") - own("hushpane_unprotected", "private"),
        "protector_start_up_ratio": median(start["hushpane"]) / median(start["hushpane_unprotected"]),
    }


def table(figures):
    s, i, h, z, c, g, r = (figures[k] for k in ("start_up_ms", "idle", "hot_key_ms", "size_bytes", "comparison",
                                                 "growth", "registry_keys"))
    f = lambda d, digits=1: f"{d['median']:.{digits}f} ({d['min']:.{digits}f}–{d['max']:.{digits}f})"
    ok = lambda met: "met" if met else "missed"
    uses = g["uses"]
    lines = [
        f"Hushpane footprint, {figures['date']}: {figures['machine']}",
        f"Median (min–max); start-up over {s['hushpane']['runs']} runs, idle over "
        f"{i['hushpane']['own']['runs']} runs of {figures['idle_seconds']} s.",
        "",
        "| measure, hushpane.exe against the same-calls baseline | figure | target | |",
        "|---|---|---|---|",
        f"| start-up, ratio | {c['start_up_ratio_samecalls']:.2f} | <= 1.1 | {ok(c['start_up_ratio_samecalls'] <= 1.1)} |",
        f"| private memory, above | {c['private_above_samecalls_kb']:.0f} KB | <= 512 KB"
        f" | {ok(c['private_above_samecalls_kb'] <= 512)} |",
        f"| idle CPU of its own process, above | {c['idle_own_above_samecalls_ms_per_min']:+.2f} ms/min | <= 10 ms/min"
        f" | {ok(c['idle_own_above_samecalls_ms_per_min'] <= 10)} |",
        f"| idle CPU with the wineserver's share, above | {c['idle_with_wineserver_above_samecalls_ms_per_min']:+.2f}"
        " ms/min | (none) | |",
        f"| resident memory, above | {c['rss_above_samecalls_kb']:.0f} KB | (none) | |",
        f"| Ctrl+0 to alpha 255, {h['presses']} presses | p50 {h['p50']:.0f} ms, p95 {h['p95']:.0f} ms,"
        f" max {h['max']:.0f} ms | p95 <= 550 ms | {ok(h['p95'] <= 550)} |",
        f"| private memory after {uses['menus']} menus, {uses['boxes']} boxes, {uses['pauses']} Pauses and"
        f" {uses['peeks']} Ctrl+0 peek(s) | {g['private_growth_kb']:+d} KB (anonymous {g['anonymous_growth_kb']:+d} KB),"
        f" handles {g['handles_growth']:+d}, windows {g['windows_growth']:+d} | within 64 KB"
        f" | {ok(abs(g['private_growth_kb']) <= 64)} |",
        f"| private memory above the do-nothing baseline with USER32 and SHELL32 | {c['private_above_shell32_kb']:+.0f}"
        f" KB | <= 450 KB | {ok(c['private_above_shell32_kb'] <= 450)} |",
        f"| the stack protector, against the same exe without it | private {c['protector_private_kb']:+.0f} KB,"
        f" start-up ratio {c['protector_start_up_ratio']:.2f} | (none) | |",
        f"| registry keys opened from start to the icon | {r['opened']}, of them under"
        f" {CRYPTOGRAPHY_KEYS}: {r['cryptography']} | none of those | {ok(r['cryptography'] == 0)} |",
        "",
        "| program | start-up, ms | idle CPU, ms/min: own | idle CPU, ms/min: with wineserver"
        " | resident, KB | private, KB |",
        "|---|---|---|---|---|---|",
    ]
    for name, _, label, _ in PROGRAMS:
        lines.append(f"| {label} | {f(s[name])} | {f(i[name]['own'], 2)} | {f(i[name]['with_wineserver'], 2)}"
                     f" | {f(i[name]['rss'], 0)} | {f(i[name]['private'], 0)} |")
    if i["threads_ended_during_a_reading"]:
        lines.append(f"\n{i['threads_ended_during_a_reading']} thread(s) ended during an idle reading: their CPU time"
                     " after its start is not counted, so those idle figures are too low.")
    lines += [
        "",
        "| growth sample | private, KB | anonymous, KB | kernel handles | windows |",
        "|---|---|---|---|---|",
    ]
    lines += [f"| {x['after']} | {x['private_kb']} | {x['anonymous_kb']} | {x['handles']} | {x['windows']} |"
              for x in g["samples"]]
    lines += [
        "",
        f"Against the do-nothing baseline: start-up ratio {c['start_up_ratio']:.2f}, resident memory"
        f" {c['rss_above_baseline_kb']:+.0f} KB, private {c['private_above_baseline_kb']:+.0f} KB.",
        f"Exe: {z['exe'] / 1024:.1f} KB, of which resources {z['resources'] / 1024:.1f} KB (same-calls baseline"
        f" {z['baseline_samecalls'] / 1024:.1f} KB, do-nothing baseline {z['baseline'] / 1024:.1f} KB).",
    ]
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--quick", action="store_true", help="fewer, shorter runs: rough figures")
    args = parser.parse_args()
    runs, idle_runs, idle_seconds, presses = (3, 1, 10, 10) if args.quick else (7, 3, 60, 20)
    # rounds, and in each: menus, boxes, Pauses; peeks in the first rounds
    day = (2, 10, 10, 4, 1) if args.quick else (5, 60, 60, 20, 3)

    # Each step by name, so that a failure can say on its last line which one failed, and why.
    steps = [("start-up", lambda: start_up(desk, runs)),
             ("idle CPU and memory", lambda: idle(desk, idle_seconds, idle_runs)),
             ("hot key", lambda: hot_key(desk, presses)),
             ("a long day of use", lambda: growth(desk, *day)),
             ("registry keys", lambda: registry_keys(desk))]
    done = {}
    desk = None
    step = "starting the desktop"
    STEP_FILE.parent.mkdir(parents=True, exist_ok=True)
    STEP_FILE.write_text(step)
    try:
        desk = Desktop.start(ROOT / "build" / "bench" / "prefix", PROBE, ROOT / "build" / "bench" / "logs")
        print(f"Desktop up on {desk.display}; measuring ({'quick' if args.quick else 'full'})...",
              flush=True)
        for step, measure in steps:
            STEP_FILE.write_text(step)
            done[step] = measure()
            print(f"{step} measured", flush=True)
        step = "writing the figures"
        STEP_FILE.write_text(step)
    except BaseException as error:  # noqa: BLE001 -- any end, Ctrl+C's too, is said with its step as the last line
        traceback.print_exc()
        failure = f"tools/bench failed in the step \"{step}\": {type(error).__name__}: {error}"
    else:
        failure = None
    finally:
        if desk is not None:
            desk.stop()
    if failure is not None:
        print(failure, flush=True)
        return 1
    start, quiet, hot, day_figures, keys = (done[name] for name, _ in steps)

    figures = {
        "date": datetime.date.today().isoformat(),
        "machine": f"{platform.machine()}, {os.cpu_count()} cores, Debian, "
                   + subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip(),
        "quick": args.quick,
        "idle_seconds": idle_seconds,
        "start_up_ms": start,
        "idle": quiet,
        "hot_key_ms": hot,
        "growth": day_figures,
        "registry_keys": keys,
        "size_bytes": sizes(),
        "comparison": comparison(start, quiet),
    }
    output = ROOT / "build" / "bench.json"
    output.write_text(json.dumps(figures, indent=2) + "\n")
    print(table(figures))
    print(f"\nWritten to {output.relative_to(ROOT)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
