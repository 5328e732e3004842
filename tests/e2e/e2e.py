#!/usr/bin/env python3
"""End-to-end cases: the real hushpane.exe under Wine, against the real
Shell_TrayWnd of Wine's shell desktop, observed and driven only from other
processes (hushpane-check.exe, hpprobe.exe, xdotool, screenshots). The
cases named monitors_* run on a desktop of several monitors instead: Xorg's
dummy driver, Wine without a virtual desktop, and secondary taskbars made by
hpprobe.exe, since Wine's shell makes none.

  e2e.py start STATE --exe EXE --probe PROBE --check CHECK --prefix DIR --logs DIR [--monitors]
  e2e.py case STATE NAME
  e2e.py stop STATE
  e2e.py list [monitors]
"""
import argparse
import os
import random
import re
import signal
import struct
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "lib"))
from wine_desktop import WIDTH, HEIGHT, Desktop, DesktopError, wait_until  # noqa: E402

HOTKEY_LINE = "Failed to register hot key for Hushpane."
ICON_CENTRE = (WIDTH - 11, HEIGHT - 11)  # the notification area's first icon


def windows_path(path):
    """Wine's drive Z: is the Unix root."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def wine_processes(pattern, prefix):
    """The processes of this Wine prefix whose command line matches."""
    found = subprocess.run(["pgrep", "-f", pattern], capture_output=True, text=True).stdout.split()
    ours = []
    for pid in found:
        try:
            if f"WINEPREFIX={prefix}".encode() in Path(f"/proc/{pid}/environ").read_bytes().split(b"\0"):
                ours.append(pid)
        except OSError:  # ended meanwhile
            pass
    return ours


class Failure(AssertionError):
    pass


class Case:
    """One case's view of the desktop; every check failure says what was seen."""

    def __init__(self, desk, name):
        self.desk = desk
        self.name = name
        self.logs = Path(desk.state["log_dir"]) / name
        self.logs.mkdir(parents=True, exist_ok=True)
        self.started = []
        self.exe = desk.state["exe"]

    # -- the program --------------------------------------------------------

    def start(self, label="hushpane"):
        stdout = self.logs / f"{label}.stdout"
        process = self.desk.popen([self.exe], self.logs / f"{label}.log", stdout_path=stdout)
        process.stdout_path = stdout
        self.started.append(process)
        return process

    def start_and_wait_hidden(self, label="hushpane"):
        process = self.start(label)
        self.expect_probe("the taskbar hidden after start", "wait-alpha", 0, 10000)
        self.expect_probe("the hidden window", "hidden")
        return process

    def end_all(self):
        for process in self.started:
            if process.poll() is None:
                process.kill()
                process.wait(timeout=30)
        # A copy that a failing check started would stay behind the check's own process,
        # and one that Wine's job left half made has no window to find it by.
        if "hidden=none" not in self.probe("hidden"):
            self.desk.run_probe_exe("taskkill", "/F", "/IM", "hushpane.exe")
        for pid in wine_processes(r"\\hushpane\.exe", self.desk.state["prefix"]):
            os.kill(int(pid), signal.SIGKILL)

    # -- observing ----------------------------------------------------------

    def probe(self, *args):
        return self.desk.probe(*args, check=False)

    def expect_probe(self, what, *args):
        """Runs a probe command that must succeed; returns what it printed."""
        status, output = self.desk.run_probe(*args)
        if status != 0:
            raise Failure(f"{what}: hpprobe {' '.join(map(str, args))} observed: {output or '(nothing)'}; "
                          f"{self.describe()}")
        return output

    def expect(self, condition, what):
        if not condition:
            raise Failure(f"{what}; {self.describe()}")

    def describe(self):
        lines = [f"taskbar: {self.probe('taskbar')}", f"hidden window: {self.probe('hidden')}"]
        for i, process in enumerate(self.started):
            status = process.poll()
            output = process.stdout_path.read_bytes() if process.stdout_path.exists() else b""
            lines.append(f"copy {i + 1}: {'running' if status is None else f'exited {status}'}, stdout {output!r}")
        return " | ".join(lines)

    def stdout_text(self, process):
        return process.stdout_path.read_bytes().decode("utf-8", "replace")

    def stdout_lines(self, process):
        return self.stdout_text(process).splitlines()

    def start_check(self, *args, job=None, label="check"):
        """hushpane-check.exe --yes against the exe under test, in a job of
        hpprobe's when `job` says which; its report is its standard output."""
        report = self.logs / ("report.txt" if label == "check" else f"{label}-report.txt")
        command = [self.desk.state["check"], "--yes", *args, windows_path(self.exe)]
        if job is not None:
            command = [self.desk.probe_exe, "in-job", job, *command]
        process = self.desk.popen(command, self.logs / f"{label}.log", stdout_path=report)
        process.stdout_path = report
        self.started.append(process)
        return process

    def expect_desktop_put_back(self):
        """No Hushpane left running, and every taskbar as it was before the
        check: not layered (each case starts with taskbars that are not)."""
        self.expect("hidden=none" in self.probe("hidden"), "a Hushpane is still running")
        running = wine_processes(r"\\hushpane\.exe", self.desk.state["prefix"])
        self.expect(not running, f"Hushpane processes left: {running}")
        taskbars = self.taskbars()
        self.expect(all(t["layered"] == "0" for t in taskbars), f"the taskbars are not as before the check: {taskbars}")

    def windows_pid(self):
        match = re.search(r"pid=(\d+)", self.expect_probe("the hidden window", "hidden"))
        return int(match.group(1))

    def taskbars(self):
        """Each taskbar now, the primary first: its class, handle and state."""
        return [dict(field.split("=", 1) for field in line.split())
                for line in self.expect_probe("the taskbars", "taskbars").splitlines()]

    def helper(self, name, ready, *args):
        """hpprobe ARGS in a process of its own that the case ends, once it
        has said `ready`; what it says is read from its own standard output."""
        said = self.logs / f"{name}.stdout"
        helper = self.desk.popen([self.desk.probe_exe, *args], self.logs / f"{name}.log", stdout_path=said)
        helper.stdout_path = said
        self.started.append(helper)
        wait_until(f"hpprobe {args[0]}", lambda: ready in self.stdout_text(helper), 30)
        return helper

    def secondary_taskbars(self, first, count):
        """Makes the shell's taskbars for `count` monitors from the `first`
        (0 is the primary), in a helper that the case ends; their handles."""
        rects = [f"{i * WIDTH},0,{(i + 1) * WIDTH},{HEIGHT}" for i in range(first, first + count)]
        helper = self.helper(f"secondary-taskbars-{first}", "taskbars", "secondary-taskbars", *rects)
        return re.findall(r"secondary=([0-9A-Fa-f]+)", self.stdout_text(helper))

    def cover(self, *rects):
        """Another program's windows over those rectangles, kept above every
        top-most window, as toasts and Start are on Windows; the helper says
        each press and key that reaches them."""
        return self.helper("cover", "covers", "cover", *(",".join(map(str, rect)) for rect in rects))

    def expect_untouched(self, cover, rect):
        """No press and no key reached the cover; then a real click on it must
        be heard there, so that the first finding is not for want of hearing."""
        heard = [line for line in self.stdout_lines(cover) if line.startswith(("pressed", "key"))]
        self.expect(not heard, f"the check's input reached another program's window: {heard}")
        self.desk.click((rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2)
        wait_until("a click on the cover heard by it", lambda: "pressed" in self.stdout_text(cover), 10)

    def icons_width(self):
        return self.desk.notification_area_width(self.logs / "notification-area.png")

    def read_window(self, what, class_name, timeout_ms, lines):
        """Waits for a window of that class and reads its text off the screen."""
        found = self.expect_probe(what, "find", class_name, timeout_ms)
        left, top, right, bottom = map(int, re.search(r"rect=(-?\d+),(-?\d+),(-?\d+),(-?\d+)", found).groups())
        border = 2  # the window's frame, which tesseract would read as "|"
        return self.desk.ocr(self.logs / f"{class_name.strip('#')}.png", left + border, top + border,
                             right - left - 2 * border, bottom - top - 2 * border, lines)

    def choose(self, item):
        try:
            self.desk.choose_from_tray_menu(item)
        except DesktopError as error:
            raise Failure(f"choosing {item or 'nothing'} from the menu: {error}; {self.describe()}") from None

    def wait_exit(self, process, timeout_s=10):
        try:
            return process.wait(timeout=timeout_s)
        except subprocess.TimeoutExpired:
            raise Failure(f"the program did not end within {timeout_s}s; {self.describe()}") from None


# -- the cases ---------------------------------------------------------------

def case_tray_icon_on_screen(c):
    before = c.icons_width()
    c.start_and_wait_hidden()
    wait_until("the icon in the notification area", lambda: c.icons_width() > before, 10)
    try:
        c.desk.hover(*ICON_CENTRE)
        tip = c.read_window("the icon's tooltip", "tooltips_class32", 5000, lines=False)
    finally:
        c.desk.move_pointer(WIDTH // 2, HEIGHT // 2)
    c.expect(tip == ["Hushpane"], f"tip read as {tip}")


def case_second_copy(c):
    first = c.start_and_wait_hidden("first")
    one_icon = wait_until("the first copy's icon", lambda: c.icons_width(), 10)
    shown = c.expect_probe("the taskbar shown from outside", "show")
    c.expect("alpha=255" in shown, f"could not show the taskbar before the second copy: {shown}")
    second = c.start("second")
    c.expect_probe("the second copy hiding the taskbar again", "wait-alpha", 0, 10000)
    wait_until("the second copy's line", lambda: c.stdout_lines(second), 10)
    c.expect(c.stdout_lines(second) == [HOTKEY_LINE], f"second copy wrote {c.stdout_lines(second)}")
    c.expect(c.stdout_lines(first) == [], f"first copy wrote {c.stdout_lines(first)}")
    c.expect(first.poll() is None and second.poll() is None, "both copies run")
    c.expect_probe("the taskbar still hidden", "keep-alpha", 0, 1000)
    wait_until("the second copy's own icon", lambda: c.icons_width() > one_icon, 10)


def case_ended_from_outside(c):
    program = c.start_and_wait_hidden()
    program.kill()
    program.wait(timeout=30)
    wait_until("the hidden window gone", lambda: "hidden=none" in c.probe("hidden"), 10)
    c.expect_probe("alpha 0 kept after the process ended", "keep-alpha", 0, 1500)


def case_menu_items_on_screen(c):
    c.start_and_wait_hidden()
    c.expect_probe("a right click", "click", "right")
    items = c.read_window("the context menu", "#32768", 5000, lines=True)
    c.expect(items == ["Pause", "Exit"], f"menu read as {items}")
    c.expect_probe("Escape", "press", "escape")
    c.expect_probe("the menu closed", "no-menu", 5000)


def case_peek_while_paused(c):
    c.start_and_wait_hidden()
    c.choose("Pause")
    c.expect_probe("paused", "wait-alpha", 255, 1000)
    c.expect_probe("Ctrl+0", "press", "ctrl+0")
    c.expect_probe("hidden again after the peek", "wait-alpha", 0, 22000)
    c.choose("Pause")
    c.expect_probe("the first Pause after it changes nothing", "keep-alpha", 0, 1500)
    c.choose("Pause")
    c.expect_probe("the next Pause shows", "wait-alpha", 255, 1000)


def case_exit_while_paused(c):
    before = c.icons_width()
    program = c.start_and_wait_hidden()
    wait_until("the icon", lambda: c.icons_width() > before, 10)
    c.choose("Pause")
    c.expect_probe("paused", "wait-alpha", 255, 1000)
    c.choose("Exit")
    status = c.wait_exit(program)
    c.expect(status == 1, f"exit status {status}, want 1")
    state = c.expect_probe("fully opaque after Exit", "wait-alpha", 255, 1000)
    c.expect("layered=1" in state, f"the layered style stays: {state}")
    wait_until("the icon gone", lambda: c.icons_width() == before, 10)


# -- hushpane-check.exe: its checks, and that it puts the desktop back -------

def run_check(c, *args):
    """hushpane-check.exe on the desktop: all eight checks must pass, each
    click on the icon made with the check holding the foreground as the
    shell does, and the desktop put back. Returns the report's lines."""
    check = c.start_check(*args)
    status = c.wait_exit(check, 180)
    report = c.stdout_lines(check)
    print("\n".join(report))
    c.expect(status == 0 and report[-1:] == ["8 passed, 0 failed"], f"the check ended with status {status}")
    for number in (3, 4, 5, 7, 8):
        opened = "its box opened (foreground: " if number == 3 else "its menu opened (foreground: a window of class TrayIconApp of "
        line = next(l for l in report if l.startswith(f"PASS {number} "))
        c.expect("the check held the foreground (a click on the check's own window at" in line and opened in line,
                 f"check {number} does not say that the check held the foreground, and who held it then")
    c.expect(any(l.startswith("NOTE after the run: ") and "back as" in l and "before the run" in l for l in report),
             "the report does not say that the check put the taskbars back as they were")
    seen = [l for l in report if l.startswith("NOTE what the eye sees of ")]
    c.expect(len(seen) == len(c.taskbars()) and all("% while hidden" in l and "% while shown" in l for l in seen),
             f"no capture of every taskbar, hidden and shown: {seen}")
    c.expect_desktop_put_back()
    return report


def case_check_finds_a_free_place(c):
    """Another program's windows kept above every top-most window over the
    top and bottom of the work area, its corners and the middles of those
    edges, with the pointer at the middle of the screen, next to the only
    free places, the middles of the left and right edges: the check takes
    one of them and moves the pointer out of its way, no press and no key
    reach the covers, and all eight checks pass."""
    c.desk.move_pointer(WIDTH // 2, HEIGHT // 2)
    bottom = int(c.taskbars()[0]["rect"].split(",")[1])
    top_band, bottom_band = (0, 0, WIDTH, 200), (0, bottom - 200, WIDTH, bottom - 10)  # clear of the backdrop
    cover = c.cover(top_band, bottom_band)
    report = run_check(c)
    clicks = [tuple(map(int, m)) for l in report for m in re.findall(r"click on the check's own window at (\d+),(\d+)", l)]
    c.expect(clicks and all(200 <= y < bottom - 200 for _, y in clicks),
             f"the check's own window was clicked under a cover: {clicks}")
    c.expect(any("the pointer moved away from it to" in l for l in report),
             "the check did not move the pointer out of the way of its window")
    c.expect_untouched(cover, top_band)


def case_check_on_a_covered_desktop(c):
    """The whole work area under another program's window kept above every
    top-most one: no press and no key at all reach it, the Ctrl of Ctrl+0
    included, every failure says that the desktop stopped it and names what
    lies there, and the taskbar ends as it was."""
    c.desk.move_pointer(WIDTH // 2, HEIGHT // 2)  # where Hushpane's menu opens: under the cover
    primary = c.taskbars()[0]["rect"].split(",")
    work = (0, 0, WIDTH, int(primary[1]))
    cover = c.cover(work)
    check = c.start_check()
    status = c.wait_exit(check, 240)
    report = c.stdout_lines(check)
    print("\n".join(report))
    failed = [l for l in report if l.startswith("FAIL ")]
    c.expect(status == 1 and all(any(l.startswith(f"FAIL {n} ") for l in failed) for n in (2, 5, 7)),
             f"the check ended with status {status}, without failing the peek and the presses of checks 5 and 7")
    for line in failed:
        c.expect("the desktop, not Hushpane, stopped this check" in line and "HushpaneE2ECover" in line
                 and "hpprobe.exe" in line, f"a failure that does not say the desktop stopped it: {line}")
    c.expect_desktop_put_back()
    c.expect_untouched(cover, work)


def case_check_in_a_job(c):
    """The check in a job that ends its processes when it closes, as a CI
    step's time-out does, ended that way in the middle of the run: its guard,
    which left the job, puts the desktop back. In a job that lets no process
    leave it, the check says at start what ending the job would do."""
    job = c.start_check(job="breakaway", label="breakaway")
    wait_until("the check's first check", lambda: "PASS 1" in c.stdout_text(job), 60)
    c.expect("its guard left the job" in c.stdout_text(job), "the check does not say that its guard left the job")
    job.kill()  # its job handle closes with it, and the job ends the check and Hushpane
    job.wait(timeout=30)
    wait_until("the guard ending Hushpane", lambda: "hidden=none" in c.probe("hidden"), 30)
    c.expect_desktop_put_back()

    job = c.start_check(job="no-breakaway", label="no-breakaway")
    # Ended once Hushpane runs: Wine's job can miss a process made in the moment it ends.
    wait_until("the check's first check", lambda: "PASS 1" in c.stdout_text(job), 60)
    c.expect("run in a job: ending it" in c.stdout_text(job), "the check does not say what ending its job would do")
    job.kill()
    job.wait(timeout=30)


def case_hushpane_check(c):
    shot = c.logs / "screenshot.bmp"
    run_check(c, "--screenshot", windows_path(shot))
    data = shot.read_bytes()
    # BITMAPFILEHEADER, then BITMAPINFOHEADER: rows top-down, 32 bits a pixel.
    size, offset, width, height, planes, bits = struct.unpack_from("<2xI4xI4xiiHH", data)
    c.expect(data[:2] == b"BM" and size == len(data) == offset + WIDTH * HEIGHT * 4
             and (width, height, planes, bits) == (WIDTH, -HEIGHT, 1, 32),
             f"the screenshot is no whole {WIDTH}x{HEIGHT} BMP: {data[:54]!r}")


def case_check_survives_hushpane_ended(c):
    """Hushpane ended from outside in the middle of the check's peek."""
    check = c.start_check()
    wait_until("the check's peek", lambda: "PASS 1" in c.stdout_text(check) and "alpha=255" in c.probe("taskbar"), 60)
    killed = c.desk.run_probe_exe("taskkill", "/F", "/PID", c.windows_pid())
    status = c.wait_exit(check, 120)
    report = c.stdout_text(check)
    print(killed, report, sep="\n")
    c.expect(status == 1 and "FAIL 2 peek" in report, f"the check ended with status {status}, not failing the peek")
    c.expect_desktop_put_back()


def injected(lines):
    """The input events that a program sent, of those a watch-input helper heard."""
    return [line for line in lines if line.endswith(" injected")]


def stop_check_mid_peek(c, stop):
    """The check stopped by `stop` while it waits in its peek, after it has
    started Hushpane: from the moment `stop` returns no injected mouse or
    keyboard event at all reaches the desktop, as low-level hooks see them
    (which also see a click that moves the pointer and puts it back within
    milliseconds), Hushpane ends, and the taskbar ends as it was before the
    run. Returns the check's status, its report and what the hooks heard
    between the peek and the stop."""
    watcher = c.helper("watch-input", "watching", "watch-input")
    check = c.start_check()
    wait_until("the check's peek", lambda: "PASS 1" in c.stdout_text(check) and "alpha=255" in c.probe("taskbar"), 60)
    time.sleep(1)  # within the peek's twenty seconds, where the check sends nothing
    before = c.stdout_lines(watcher)
    c.expect(any(l.startswith("key ") for l in injected(before)), f"the watcher heard no Ctrl+0 before the stop: {before}")
    stop(check)
    heard = c.stdout_lines(watcher)
    status = c.wait_exit(check, 60)
    wait_until("Hushpane ended", lambda: "hidden=none" in c.probe("hidden"), 40)
    time.sleep(1)
    after = injected(c.stdout_lines(watcher)[len(heard):])
    c.expect(not after, f"input reached the desktop after the check was stopped: {after}")
    c.expect_desktop_put_back()
    return status, c.stdout_text(check), heard[len(before):]


def case_check_ended_from_outside(c):
    """The check itself ended at once, as from Task Manager: its guard puts the desktop back, with messages only."""
    def kill(check):
        check.kill()
        check.wait(timeout=30)
    stop_check_mid_peek(c, kill)


def case_check_interrupted(c):
    """Ctrl+C, as a terminal sends it: to the whole process group."""
    status, report, _ = stop_check_mid_peek(c, lambda check: os.killpg(check.pid, signal.SIGINT))
    print(report)
    c.expect(status == 3 and "Interrupted (Ctrl+C or Ctrl+Break in the console)" in report
             and "Hushpane is ended; the taskbars are as they were." in report, f"the check ended with status {status}")


def case_check_stopped_by_typed_ctrl_c(c):
    """Ctrl+C typed at the keyboard during the peek, as real key events through
    the X server, while the check's own window has the keyboard, so that the
    console never sees them: the check stops as it does on Ctrl+C in its
    console, and from half a second after the keys on nothing is injected."""
    def typed(check):
        c.desk.type_keys("ctrl+c")
        time.sleep(0.5)
    status, report, typed_then = stop_check_mid_peek(c, typed)
    print(report)
    c.expect("key 0x100 of 67" in typed_then, f"the typed Ctrl+C did not reach the desktop: {typed_then}")
    c.expect(status == 3 and "Interrupted (Ctrl+C or Ctrl+Break in the check's window)" in report,
             f"the check ended with status {status}, not stopped by the typed Ctrl+C")


def boot_ticks():
    """Now, in the clock of /proc's process start times."""
    return time.clock_gettime(time.CLOCK_BOOTTIME) * os.sysconf("SC_CLK_TCK")


def started_at(pid):
    """When a process started, in /proc's clock ticks since boot; None once it is gone."""
    try:
        return int(Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[19])
    except (OSError, IndexError, ValueError):
        return None


def stop_as_check_starts(c, line):
    """Ctrl+C sent to the check's process group the moment its report shows
    `line`, read every millisecond, as the next check begins to make Hushpane
    open a box or a menu, or to start a copy: from then on no injected input,
    no box or menu of Hushpane's opens and no copy starts (a copy's process
    started after the stop, by /proc's clock); Hushpane ends and the taskbar
    ends as it was. Returns the report."""
    inputs = c.helper("watch-input", "watching", "watch-input")
    windows = c.helper("watch-windows", "watching", "watch-windows")
    check = c.start_check()
    wait_until(f"the check's line {line!r}", lambda: line in c.stdout_text(check), 90, interval_s=0.001)
    os.killpg(check.pid, signal.SIGINT)
    stopped = boot_ticks()
    heard, opened = len(c.stdout_lines(inputs)), len(c.stdout_lines(windows))
    copies = {}
    while check.poll() is None:
        for pid in wine_processes(r"\\hushpane\.exe", c.desk.state["prefix"]):
            copies.setdefault(pid, started_at(pid))
        time.sleep(0.02)
    wait_until("Hushpane ended", lambda: "hidden=none" in c.probe("hidden"), 40)
    time.sleep(1)
    report = c.stdout_text(check)
    print(report, f"stopped at tick {stopped:.0f}; each copy's start tick: {copies}", sep="\n")
    late = {pid: at for pid, at in copies.items() if at is not None and at > stopped + 1}
    c.expect(not late, f"a copy of Hushpane started after the stop: {late} (stopped at tick {stopped:.0f})")
    after = c.stdout_lines(windows)[opened:]
    c.expect(not after, f"Hushpane opened something after the check was stopped: {after}")
    sent = injected(c.stdout_lines(inputs)[heard:])
    c.expect(not sent, f"input reached the desktop after the check was stopped: {sent}")
    c.expect(check.returncode == 3 and "Interrupted" in report, f"the check ended with status {check.returncode}")
    c.expect_desktop_put_back()
    return report


def case_check_stopped_as_box_opens(c):
    stop_as_check_starts(c, "NOTE what the eye sees")  # the line right before check 3


def case_check_stopped_as_menu_opens(c):
    stop_as_check_starts(c, "PASS 3 left click")


def case_check_stopped_as_copy_starts(c):
    stop_as_check_starts(c, "PASS 7 exit")


# -- several monitors: Xorg's dummy driver, Wine without a virtual desktop ----

def monitors_three(c):
    """Three monitors, two secondary taskbars: every change reaches all three."""
    c.desk.use_monitors(3)
    secondaries = c.secondary_taskbars(1, 2)
    program = c.start_and_wait_hidden()
    taskbars = c.taskbars()
    c.expect(sorted(t["taskbar"] for t in taskbars[1:]) == sorted(secondaries), f"three taskbars: {taskbars}")
    c.expect_probe("every taskbar hidden at start", "wait-alpha", 0, 1000, "all")
    c.expect_probe("Ctrl+0", "press", "ctrl+0")
    c.expect_probe("all three shown within a second", "wait-alpha", 255, 1000, "all")
    c.expect_probe("all three still shown", "keep-alpha", 255, 17500, "all")
    c.expect_probe("all three hidden again after twenty seconds", "wait-alpha", 0, 3500, "all")
    c.choose("Pause")
    c.expect_probe("all three shown by Pause", "wait-alpha", 255, 1500, "all")
    c.choose("Pause")
    c.expect_probe("all three hidden by Pause again", "wait-alpha", 0, 1500, "all")
    c.choose("Exit")
    status = c.wait_exit(program)
    c.expect(status == 1, f"exit status {status}, want 1")
    c.expect_probe("all three opaque after Exit", "wait-alpha", 255, 1000, "all")


def monitors_without_secondary_taskbar(c):
    """Two monitors where the shell shows no secondary taskbar."""
    c.desk.use_monitors(2)
    program = c.start_and_wait_hidden()
    c.expect(len(c.taskbars()) == 1, f"the primary taskbar alone: {c.taskbars()}")
    c.expect_probe("the primary kept hidden", "keep-alpha", 0, 2000)
    c.expect(program.poll() is None, "Hushpane ended")
    c.expect_probe("its window still there", "hidden")


def monitors_added_later(c):
    """A monitor added while Hushpane runs: its new taskbar is never listed,
    so it stays as the shell made it, through Pause and Exit."""
    c.desk.use_monitors(2)
    first = c.secondary_taskbars(1, 1)
    program = c.start_and_wait_hidden()
    known = [c.taskbars()[0]["taskbar"], *first]
    c.expect_probe("both taskbars hidden", "wait-alpha", 0, 1000, *known)
    c.desk.set_monitors(3)
    added = c.secondary_taskbars(2, 1)
    def untouched():
        late = [t for t in c.taskbars() if t["taskbar"] in added]
        c.expect(len(late) == 1 and late[0]["layered"] == "0" and late[0]["alpha"] == "-1",
                 f"the added taskbar is as the shell made it: {late}")
    c.choose("Pause")
    c.expect_probe("the known taskbars shown by Pause", "wait-alpha", 255, 1500, *known)
    untouched()
    c.choose("Pause")
    c.expect_probe("hidden again", "wait-alpha", 0, 1500, *known)
    c.choose("Exit")
    status = c.wait_exit(program)
    c.expect(status == 1, f"exit status {status}, want 1")
    c.expect_probe("the known taskbars opaque after Exit", "wait-alpha", 255, 1000, *known)
    untouched()


def monitors_hushpane_check(c):
    """hushpane-check.exe on two monitors with two taskbars."""
    c.desk.use_monitors(2)
    c.secondary_taskbars(1, 1)
    report = run_check(c)
    for line in ("NOTE monitor 1 (primary): 0,0-1024,768", "NOTE monitor 2: 1024,0-2048,768",
                 "NOTE taskbar Shell_TrayWnd at 0,738-1024,768",
                 "NOTE taskbar Shell_SecondaryTrayWnd at 1024,738-2048,768"):
        c.expect(any(l.startswith(line) for l in report), f"the report has no line {line!r}")


def hostile_messages(c, hostile):
    """Not an e2e case of its own (label fuzz): thousands of sent and a few
    dozen posted messages that must change nothing, then a working Exit."""
    seed = int(os.environ.get("HUSHPANE_FUZZ_SEED") or random.randrange(1, 2**31))
    print(f"seed {seed} (HUSHPANE_FUZZ_SEED={seed} repeats this run)")
    try:
        program = c.start_and_wait_hidden()
        icons = c.icons_width()
        before = c.expect_probe("the hidden window", "hidden")
        status, output = c.desk.run_probe_exe(hostile, seed, 10000, 30)
        print(output)
        c.expect(status == 0, f"the hostile sender failed: {output}")
        c.expect(program.poll() is None, "the program ended")
        c.expect(c.probe("hidden") == before, f"the hidden window changed: {c.probe('hidden')}")
        c.expect_probe("the taskbar still hidden", "keep-alpha", 0, 1000)
        c.expect(c.icons_width() == icons, "the notification area changed")
        # The loop takes one posted message per 500 ms: Exit's command waits
        # behind the posted ones (30, so about 15 s).
        c.choose("Exit")
        status = c.wait_exit(program, 40)
        c.expect(status == 1, f"exit status {status}, want 1")
        c.expect_probe("restored by Exit", "wait-alpha", 255, 1000)
    except Failure as failure:
        raise Failure(f"seed {seed}: {failure}") from None


def menu_click(c, helper):
    """Not an e2e case of its own: clicks on the items of a menu made like
    Hushpane's, in the rows of the menu window where hushpane-check.exe
    clicks them; each click must choose the item it aimed at."""
    status, output = c.desk.run_probe_exe(helper)
    print(output)
    c.expect(status == 0 and output.count(": chose ") == 4, f"the clicks did not all choose their item: {output}")


CASES = {name[len("case_"):]: function for name, function in globals().items() if name.startswith("case_")}
MONITOR_CASES = {name: function for name, function in globals().items() if name.startswith("monitors_")}
HELPER_CASES = {"hostile_messages": hostile_messages, "menu_click": menu_click}  # each given its helper exe


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("action", choices=["start", "case", "stop", "list"])
    parser.add_argument("state", nargs="?")
    parser.add_argument("name", nargs="?")
    parser.add_argument("--exe")
    parser.add_argument("--probe")
    parser.add_argument("--check")
    parser.add_argument("--prefix")
    parser.add_argument("--logs")
    parser.add_argument("--helper")
    parser.add_argument("--monitors", action="store_true", help="a desktop of several monitors (Xorg)")
    args = parser.parse_args()

    if args.action == "list":
        print(";".join(MONITOR_CASES if args.state == "monitors" else CASES))
        return 0
    if args.action == "start":
        desk = Desktop.start(args.prefix, args.probe, args.logs, monitors=args.monitors)
        desk.state["exe"] = str(Path(args.exe).resolve())
        desk.state["check"] = str(Path(args.check).resolve())
        desk.save(args.state)
        print(f"desktop on {desk.state['display']}, prefix {args.prefix}: {desk.probe('taskbar')}")
        return 0
    desk = Desktop.load(args.state)
    if args.action == "stop":
        desk.stop()
        print("desktop stopped")
        return 0

    case = Case(desk, args.name)
    try:
        if not desk.state["monitors"]:  # each monitors case starts a session of its own
            desk.purge_dead_icons()
            reset = desk.probe("reset", check=False)
            if "layered=0" not in reset:
                raise Failure(f"could not reset the taskbar before the case: {reset}")
        if args.name in HELPER_CASES:
            HELPER_CASES[args.name](case, args.helper)
        else:
            {**CASES, **MONITOR_CASES}[args.name](case)
    except (Failure, DesktopError) as failure:
        print(f"FAIL {args.name}: {failure}")
        return 1
    finally:
        case.end_all()
    print(f"PASS {args.name}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
