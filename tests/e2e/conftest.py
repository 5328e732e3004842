"""The end-to-end suite's fixtures: the real hushpane.exe under Wine, against
the real Shell_TrayWnd of Wine's shell desktop, observed and driven only from
other processes (hushpane-check.exe, hpprobe.exe, the X server's keyboard and
pointer, screenshots). One desktop serves every case of a session, and a
second one, of several monitors, the cases marked `monitors`: each is started
only when a case first needs it. `c` is a case's view of the desktop; it ends
whatever the case started, and a failing case's report says what the desktop
showed then."""
import re
import subprocess

import psutil
import pytest
from wine_desktop import WIDTH, HEIGHT, Desktop, wait_until, windows_path

# Where the build folder holds each exe.
EXES = {"hushpane": "hushpane.exe", "check": "hushpane-check.exe", "probe": "tests/e2e/hpprobe.exe",
        "menuclick": "tests/e2e/hpmenuclick.exe", "canary": "tests/e2e/hpcanary.exe",
        "hostile": "tests/fuzz/hphostile.exe"}


@pytest.fixture(scope="session")
def exes(build):
    found = {name: build / path for name, path in EXES.items()}
    missing = [str(path) for path in found.values() if not path.is_file()]
    if missing:
        pytest.fail(f"not built: {', '.join(missing)} (cmake --build --preset windows)", pytrace=False)
    return found


@pytest.fixture(scope="session")
def desktop(build, exes):
    desk = Desktop.start(build / "e2e" / "prefix", exes["probe"], build / "e2e" / "logs")
    yield desk
    desk.stop()


@pytest.fixture(scope="session")
def monitors_desktop(build, exes):
    """Xorg's dummy driver and Wine without a virtual desktop; each case
    starts Wine's session afresh on the monitors it asks for."""
    desk = Desktop.start(build / "e2e" / "monitors-prefix", exes["probe"], build / "e2e" / "monitors-logs",
                         monitors=True)
    yield desk
    desk.stop()


@pytest.fixture
def c(request, exes):
    """A case on the shell desktop, which starts with no dead icon and a
    taskbar as the shell made it; or, marked `monitors`, on the desktop of
    several monitors, where each case starts a session of its own."""
    if request.node.get_closest_marker("monitors") is not None:
        desk = request.getfixturevalue("monitors_desktop")
    else:
        desk = request.getfixturevalue("desktop")
        desk.purge_dead_icons()
        reset = desk.probe("reset", check=False)
        assert "layered=0" in reset, f"could not reset the taskbar before the case: {reset}"
    case = Case(desk, request.node.name, exes)
    request.node.case = case
    yield case
    case.end_all()


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    report = (yield).get_result()
    case = getattr(item, "case", None)
    if report.failed and call.when == "call" and case is not None:
        report.sections.append(("what the desktop showed", case.describe()))


class Case:
    """One case's view of the desktop: the programs it started, and what it can read."""

    def __init__(self, desk, name, exes):
        self.desk = desk
        self.exes = exes
        self.logs = desk.log_dir / re.sub(r"[^\w.-]", "_", name)
        self.logs.mkdir(parents=True, exist_ok=True)
        self.started = []

    # -- the program --------------------------------------------------------

    def popen(self, command, label):
        """A program of the case's; what it writes to its standard output is read from a file."""
        stdout = self.logs / f"{label}.stdout"
        process = self.desk.popen(command, self.logs / f"{label}.log", stdout_path=stdout)
        process.stdout_path = stdout
        self.started.append(process)
        return process

    def start(self, label="hushpane"):
        return self.popen([self.exes["hushpane"]], label)

    def start_and_wait_hidden(self, label="hushpane"):
        process = self.start(label)
        self.probe_ok("the taskbar hidden after start", "wait-alpha", 0, 10000)
        wait_until("the hidden window, made right after", lambda: "pid=" in self.probe("hidden"), 10)
        return process

    def end_all(self):
        for process in self.started:
            if process.poll() is None:
                process.kill()
                process.wait(timeout=30)
        # A copy that a failing check started would stay behind the check's own process,
        # and one that Wine's job left half made has no window to find it by.
        if "hidden=none" not in self.probe("hidden"):
            self.desk.run_exe("taskkill", "/F", "/IM", "hushpane.exe")
        for process in self.hushpanes():
            try:
                process.kill()
            except psutil.NoSuchProcess:
                pass

    def hushpanes(self):
        return self.desk.processes(r"\\hushpane\.exe")

    # -- observing ----------------------------------------------------------

    def probe(self, *args):
        return self.desk.probe(*args, check=False)

    def probe_ok(self, what, *args):
        """Runs a probe command that must succeed; returns what it said."""
        status, output = self.desk.run_probe(*args)
        assert status == 0, f"{what}: hpprobe {' '.join(map(str, args))} observed: {output or '(nothing)'}"
        return output

    def describe(self):
        lines = [f"taskbar: {self.probe('taskbar')}", f"hidden window: {self.probe('hidden')}"]
        for i, process in enumerate(self.started):
            status = process.poll()
            lines.append(f"{process.args[1]}: {'running' if status is None else f'exited {status}'}, "
                         f"stdout {self.stdout_text(process)!r}")
        return "\n".join(lines)

    def stdout_text(self, process):
        path = process.stdout_path
        return path.read_bytes().decode("utf-8", "replace") if path.exists() else ""

    def stdout_lines(self, process):
        return self.stdout_text(process).splitlines()

    def windows_pid(self):
        return int(re.search(r"pid=(\d+)", self.probe_ok("the hidden window", "hidden")).group(1))

    def taskbars(self):
        """Each taskbar now, the primary first: its class, handle and state."""
        return [dict(field.split("=", 1) for field in line.split())
                for line in self.probe_ok("the taskbars", "taskbars").splitlines()]

    def helper(self, name, ready, *args):
        """hpprobe ARGS in a process of its own that the case ends, once it
        has said `ready`; what it says is read from its own standard output."""
        helper = self.popen([self.exes["probe"], *args], name)
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
        assert not heard, f"the check's input reached another program's window: {heard}"
        self.desk.click((rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2)
        wait_until("a click on the cover heard by it", lambda: "pressed" in self.stdout_text(cover), 10)

    def icons_width(self):
        return self.desk.notification_area_width(self.logs / "notification-area.png")

    def read_window(self, what, class_name, timeout_ms, lines):
        """Waits for a window of that class and reads its text off the screen."""
        found = self.probe_ok(what, "find", class_name, timeout_ms)
        left, top, right, bottom = map(int, re.search(r"rect=(-?\d+),(-?\d+),(-?\d+),(-?\d+)", found).groups())
        border = 2  # the window's frame, which tesseract would read as "|"
        return self.desk.ocr(self.logs / f"{class_name.strip('#')}.png", left + border, top + border,
                             right - left - 2 * border, bottom - top - 2 * border, lines)

    def choose(self, item):
        self.desk.choose_from_tray_menu(item)

    def wait_exit(self, process, timeout_s=10):
        try:
            return process.wait(timeout=timeout_s)
        except subprocess.TimeoutExpired:
            pytest.fail(f"{process.args[1]} did not end within {timeout_s} s")

    # -- hushpane-check.exe -------------------------------------------------

    def start_check(self, *args, job=None, label="check"):
        """hushpane-check.exe --yes against the exe under test, in a job of
        hpprobe's when `job` says which; its report is its standard output."""
        command = [self.exes["check"], "--yes", *args, windows_path(self.exes["hushpane"])]
        if job is not None:
            command = [self.exes["probe"], "in-job", job, *command]
        return self.popen(command, label)

    def run_check(self, *args):
        """hushpane-check.exe on the desktop: all eight checks must pass, each
        click on the icon made with the check holding the foreground as the
        shell does, and the desktop put back. Returns the report's lines."""
        check = self.start_check(*args)
        status = self.wait_exit(check, 180)
        report = self.stdout_lines(check)
        print("\n".join(report))
        assert (status, report[-1:]) == (0, ["8 passed, 0 failed, 0 skipped"])
        for number in (3, 4, 5, 7, 8):
            opened = ("its box opened (foreground: " if number == 3
                      else "its menu opened (foreground: a window of class TrayIconApp of ")
            line = next(line for line in report if line.startswith(f"PASS {number} "))
            assert "the check held the foreground (a click on the check's own window at" in line, line
            assert opened in line, line
        assert any(line.startswith("NOTE after the run: ") and "back as" in line and "before the run" in line
                   for line in report), "the report does not say that the check put the taskbars back"
        seen = [line for line in report if line.startswith("NOTE what the eye sees of ")]
        assert len(seen) == len(self.taskbars()), seen
        assert all("% while hidden" in line and "% while shown" in line for line in seen), seen
        self.expect_desktop_put_back()
        return report

    def expect_desktop_put_back(self):
        """No Hushpane left running, and every taskbar as it was before the
        check: not layered (each case starts with taskbars that are not)."""
        assert "hidden=none" in self.probe("hidden"), "a Hushpane is still running"
        assert not self.hushpanes(), "Hushpane processes left"
        taskbars = self.taskbars()
        assert all(t["layered"] == "0" for t in taskbars), f"the taskbars are not as before the check: {taskbars}"
