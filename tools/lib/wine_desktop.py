"""A Wine desktop with a real shell taskbar, for running hushpane.exe and
looking at it from outside: its own X display (Xvfb unless one is given),
its own WINEPREFIX, a keep-alive GUI process that holds the desktop up, and
hpprobe.exe to read and drive it. It ends only what it started."""
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

WIDTH, HEIGHT = 1024, 768
PROBE_TIMEOUT_S = 60
MAX_MONITORS = 3

# The dummy driver's screen, wide enough for MAX_MONITORS monitors side by side.
XORG_CONFIG = f"""Section "ServerFlags"
    Option "AutoAddDevices" "false"
EndSection
Section "Device"
    Identifier "dummy"
    Driver "dummy"
    VideoRam 192000
EndSection
Section "Monitor"
    Identifier "monitor"
    HorizSync 5.0-1000.0
    VertRefresh 5.0-200.0
    Modeline "{WIDTH}x{HEIGHT}" 63.50 1024 1072 1176 1328 768 771 775 798 -hsync +vsync
EndSection
Section "Screen"
    Identifier "screen"
    Device "dummy"
    Monitor "monitor"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Modes "{WIDTH}x{HEIGHT}"
        Virtual {MAX_MONITORS * WIDTH} {HEIGHT}
    EndSubSection
EndSection
"""


class DesktopError(RuntimeError):
    pass


def wait_until(what, predicate, timeout_s, interval_s=0.05):
    """Polls predicate until it returns something true, or fails with what."""
    deadline = time.monotonic() + timeout_s
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise DesktopError(f"timed out after {timeout_s:g}s waiting for {what}")
        time.sleep(interval_s)


def wine_environment(prefix, display):
    env = dict(os.environ)
    env.update(WINEPREFIX=str(prefix), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", DISPLAY=display,
               WINEARCH="win64")
    return env


def make_prefix(prefix, shell_desktop=True):
    """Makes the prefix once: wineboot, then (unless told otherwise) the
    "shell" virtual desktop that has a real Shell_TrayWnd taskbar with a
    notification area. Without it Wine's windows are the X server's own, on
    as many monitors as it has."""
    marker = Path(prefix) / ".hushpane-shell-desktop"
    kind = "shell desktop" if shell_desktop else "no virtual desktop"
    if marker.exists() and marker.read_text().startswith(kind):
        return
    shutil.rmtree(prefix, ignore_errors=True)
    Path(prefix).parent.mkdir(parents=True, exist_ok=True)
    env = wine_environment(prefix, os.environ.get("DISPLAY", ""))
    env.pop("DISPLAY")
    run = lambda *args: subprocess.run(args, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                       timeout=300, check=True)
    run("wine", "wineboot", "-i")
    if shell_desktop:
        run("wine", "reg", "add", r"HKCU\Software\Wine\Explorer", "/v", "Desktop", "/d", "shell", "/f")
        run("wine", "reg", "add", r"HKCU\Software\Wine\Explorer\Desktops", "/v", "shell", "/d", f"{WIDTH}x{HEIGHT}",
            "/f")
    run("wineserver", "-w")
    marker.write_text(f"{kind}, made by tools/lib/wine_desktop.py\n")


class Desktop:
    """Saved to and loaded from a small JSON file, so that a desktop started
    by one process (a test fixture) can be used and stopped by others."""

    def __init__(self, state):
        self.state = state
        self.env = wine_environment(state["prefix"], state["display"])
        self.probe_exe = state["probe"]

    # -- life cycle ---------------------------------------------------------

    @classmethod
    def start(cls, prefix, probe, log_dir, display=None, monitors=False):
        """A desktop on its own X server: Xvfb with Wine's "shell" virtual
        desktop, or, with `monitors`, Xorg's dummy driver, whose monitors Wine
        sees when it runs without a virtual desktop (see use_monitors)."""
        prefix, probe, log_dir = Path(prefix).resolve(), Path(probe).resolve(), Path(log_dir).resolve()
        make_prefix(prefix, shell_desktop=not monitors)
        # A run that was killed may have left this prefix's wineserver bound
        # to a display that is gone: end it before starting afresh.
        subprocess.run(["wineserver", "-k"], env=wine_environment(prefix, ""), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
        log_dir.mkdir(parents=True, exist_ok=True)
        state = {"prefix": str(prefix), "probe": str(probe), "log_dir": str(log_dir), "x_pid": None,
                 "monitors": monitors}
        if monitors:
            state["display"], state["x_pid"] = cls._start_xorg(log_dir)
        elif display is None:
            state["display"], state["x_pid"] = cls._start_xvfb(log_dir)
        else:
            state["display"] = display
        desktop = cls(state)
        try:
            if monitors:
                desktop.use_monitors(1)
            else:
                desktop._start_session()
            if display is not None:
                desktop._find_desktop_window()
        except BaseException:
            desktop.stop()
            raise
        return desktop

    def _start_session(self):
        """Starts Wine's session with its shell: the keep-alive process, which
        holds it up, and the shell's taskbar. Without a virtual desktop the
        keep-alive also keeps an icon of its own in Wine's notification area,
        as other programs do on a user's desktop: when its last icon goes,
        that area's window is hidden, and with no window manager on the X
        server Wine's explorer then waits two seconds for one, and every
        program deleting its icon waits with it."""
        log_dir = Path(self.state["log_dir"])
        command = [self.probe_exe, "keepalive"] + (["icon"] if self.state["monitors"] else [])
        said = log_dir / "keepalive.stdout"
        keepalive = self.popen(command, log_dir / "keepalive.log", stdout_path=said)
        def keepalive_up():
            if keepalive.poll() is not None:
                log = (log_dir / "keepalive.log").read_text(errors="replace")
                raise DesktopError(f"the keep-alive process ended ({keepalive.returncode}): {log}")
            return b"keepalive" in said.read_bytes()
        wait_until("the keep-alive window", keepalive_up, 60, 0.1)
        wait_until("the shell taskbar", lambda: "taskbar=0" in self.probe("taskbar", check=False), 60, 0.25)
        if self.state["monitors"]:
            # Wine's explorer keeps its taskbar hidden without a virtual desktop.
            self.probe("show-tray")

    @staticmethod
    def _start_xvfb(log_dir):
        # -displayfd: Xvfb picks a free display number and tells it.
        read_end, write_end = os.pipe()
        with open(log_dir / "xvfb.log", "wb") as log:
            xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{WIDTH}x{HEIGHT}x24",
                                     "-nolisten", "tcp"], pass_fds=(write_end,), stdout=log, stderr=log,
                                    start_new_session=True)
        os.close(write_end)
        with os.fdopen(read_end) as numbers:
            number = numbers.readline().strip()
        if not number:
            xvfb.kill()
            raise DesktopError("Xvfb did not start; see " + str(log_dir / "xvfb.log"))
        return f":{number}", xvfb.pid

    @staticmethod
    def _start_xorg(log_dir):
        """Xorg with the dummy video driver, whose RandR outputs DUMMY0 to
        DUMMY15 become monitors. It needs root: through sudo otherwise."""
        number = next(n for n in range(20, 100)
                      if not Path(f"/tmp/.X{n}-lock").exists() and not Path(f"/tmp/.X11-unix/X{n}").exists())
        display = f":{number}"
        config = log_dir / "xorg.conf"
        config.write_text(XORG_CONFIG)
        command = ["Xorg", display, "-config", str(config), "-noreset", "-nolisten", "tcp", "-logfile",
                   str(log_dir / "xorg.log")]
        if os.geteuid() != 0:
            command = ["sudo", "-n", *command]
        with open(log_dir / "xorg.out", "wb") as out:
            xorg = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out, stderr=out, start_new_session=True)
        def answers():
            if xorg.poll() is not None:
                raise DesktopError(f"Xorg ended ({xorg.returncode}); see {log_dir / 'xorg.log'}")
            return _xrandr(display, "--listmonitors", check=False) is not None
        wait_until("the Xorg server", answers, 30, 0.25)
        for output in range(1, MAX_MONITORS):
            _xrandr(display, "--addmode", f"DUMMY{output}", f"{WIDTH}x{HEIGHT}")
        return display, xorg.pid

    def use_monitors(self, count):
        """Gives the Xorg desktop `count` monitors of WIDTHxHEIGHT side by side,
        the first primary, and starts Wine's session afresh on them: Wine
        reads the monitors when its first process starts."""
        self.end_wine()
        self.set_monitors(count)
        time.sleep(1)  # started at once, Wine saw a single monitor
        self._start_session()

    def set_monitors(self, count):
        """Changes the monitors under a running session, as when one is added."""
        layout = []
        for output in range(MAX_MONITORS):
            layout += ["--output", f"DUMMY{output}"]
            if output < count:
                layout += ["--mode", f"{WIDTH}x{HEIGHT}", "--pos", f"{output * WIDTH}x0"]
                layout += ["--primary"] if output == 0 else []
            else:
                layout += ["--off"]
        _xrandr(self.state["display"], *layout)
        wait_until(f"{count} monitors", lambda: _xrandr(self.state["display"], "--listmonitors").startswith(
            f"Monitors: {count}\n"), 10, 0.1)

    def end_wine(self):
        """Ends every Wine process of this prefix."""
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60)
        try:
            subprocess.run(["wineserver", "-w"], env=self.env, timeout=30)
        except subprocess.TimeoutExpired:
            pass

    def stop(self):
        """Ends every Wine process of this prefix, then this desktop's X server."""
        self.end_wine()
        pid = self.state.get("x_pid")
        if pid:
            try:
                os.kill(pid, signal.SIGTERM)
                wait_until("the X server to end", lambda: not _alive(pid), 10)
            except ProcessLookupError:
                pass

    def save(self, path):
        Path(path).write_text(json.dumps(self.state))

    @classmethod
    def load(cls, path):
        return cls(json.loads(Path(path).read_text()))

    # -- using it -----------------------------------------------------------

    def popen(self, command, log_path, stdout_path=None):
        """Starts a Windows program in this desktop. `wine prog.exe` becomes the
        program's own process, so its pid and exit status are the program's.
        Its standard error is added to the log; its standard output, where a
        caller reads what the program says, goes to a file of its own made
        anew, so that nothing an earlier run wrote can be read as this one's."""
        log = open(log_path, "ab")
        out = open(stdout_path, "wb") if stdout_path else log
        process = subprocess.Popen(["wine", *map(str, command)], env=self.env, stdin=subprocess.DEVNULL,
                                   stdout=out, stderr=log, start_new_session=True)
        log.close()
        if stdout_path:
            out.close()
        return process

    def run_probe(self, *args):
        return self.run_probe_exe(self.probe_exe, *args)

    def run_probe_exe(self, exe, *args):
        """Runs a console helper; returns its exit status and what it printed.
        Its output goes through a file: a Wine service that the first program
        of a session starts would inherit a pipe and hold it open."""
        with tempfile.TemporaryFile() as out:
            result = subprocess.run(["wine", str(exe), *map(str, args)], env=self.env, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=subprocess.DEVNULL, timeout=PROBE_TIMEOUT_S)
            out.seek(0)
            return result.returncode, out.read().decode("utf-8", "replace").strip()

    def probe(self, *args, check=True):
        status, output = self.run_probe(*args)
        if check and status != 0:
            raise DesktopError(f"hpprobe {' '.join(map(str, args))} failed: {output}")
        return output

    def choose_from_tray_menu(self, item):
        """Right-clicks the icon (as the shell reports it) and chooses a menu
        item with real keys: "Pause", "Exit", or None to dismiss the menu."""
        self.probe("click", "right")
        self.probe("find", "#32768", 5000)
        if item is None:
            self.probe("press", "escape")
        else:
            for _ in range({"Pause": 1, "Exit": 2}[item]):
                self.probe("press", "down")
            self.probe("press", "enter")
        self.probe("no-menu", 5000)

    def screenshot(self, path):
        """The Wine desktop alone: the whole private Xvfb screen, or the
        desktop's own window on a user's display."""
        window = self.state.get("desktop_window") or "root"
        subprocess.run(["import", "-display", self.state["display"], "-window", window, str(path)], check=True,
                       timeout=30, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def ocr(self, path, x, y, width, height, lines=False):
        """Reads the text in one area of the screen, enlarged for tesseract."""
        with tempfile.TemporaryDirectory() as work:
            shot = Path(work) / "shot.png"
            crop = Path(work) / "crop.png"
            self.screenshot(shot)
            if path:
                shutil.copy(shot, path)
            subprocess.run(["convert", str(shot), "-crop", f"{width}x{height}+{x}+{y}", "+repage", "-colorspace",
                            "Gray", "-resize", "400%", "-threshold", "60%", "-bordercolor", "white", "-border", "30",
                            str(crop)], check=True, timeout=30)
            result = subprocess.run(["tesseract", str(crop), "-", "--psm", "6" if lines else "7"],
                                    capture_output=True, text=True, timeout=60)
            return [line.strip() for line in result.stdout.splitlines() if line.strip()]

    def notification_area_width(self, path=None):
        """How many pixel columns of the taskbar's right end show something
        other than the taskbar's own background: it grows by one icon's width
        when an icon is added, and shrinks back when it is deleted."""
        with tempfile.TemporaryDirectory() as work:
            shot = Path(work) / "shot.png"
            self.screenshot(shot)
            if path:
                shutil.copy(shot, path)
            row = subprocess.run(["convert", str(shot), "-crop", f"300x1+{WIDTH - 300}+{HEIGHT - 11}", "+repage",
                                  "rgb:-"], capture_output=True, check=True, timeout=30).stdout
        pixels = [row[i:i + 3] for i in range(0, len(row), 3)]
        background = pixels[0]
        return sum(1 for pixel in pixels if pixel != background)

    def hover(self, x, y):
        """Moves the pointer onto a point, with a second small move, which Wine
        needs before it shows a tooltip."""
        self.move_pointer(x - 1, y - 1)
        time.sleep(0.05)
        self.move_pointer(x, y)

    def purge_dead_icons(self):
        """Like Windows, Wine's notification area drops the icon of a program
        that ended without deleting it only when the pointer passes over it:
        pass over every icon until the area stops shrinking."""
        width = self.notification_area_width()
        while width > 0:
            for x in range(WIDTH - 11, WIDTH - 11 - width - 22, -11):
                self.hover(x, HEIGHT - 11)
            self.move_pointer(WIDTH // 2, HEIGHT // 2)
            time.sleep(0.2)
            narrower = self.notification_area_width()
            if narrower >= width:
                return narrower
            width = narrower
        return width

    def click(self, x, y):
        """A real click of the left button at a point of the Wine desktop."""
        self.move_pointer(x, y)
        self._xdotool("click", "1")

    def type_keys(self, keys):
        """Keys typed at the X server's keyboard, as a user types them: Wine does not mark
        them injected."""
        self._xdotool("key", keys)

    def move_pointer(self, x, y):
        """Moves the pointer to a point of the Wine desktop."""
        origin_x, origin_y = self.state.get("desktop_origin", (0, 0))
        self._xdotool("mousemove", origin_x + x, origin_y + y)

    def _xdotool(self, *args):
        env = dict(os.environ, DISPLAY=self.state["display"])
        return subprocess.run(["xdotool", *map(str, args)], env=env, check=True, timeout=30, capture_output=True,
                              text=True).stdout

    def _find_desktop_window(self):
        """On a user's display the Wine desktop is one window among others."""
        def found():
            result = subprocess.run(["xdotool", "search", "--name", "Wine desktop"], capture_output=True, text=True,
                                    env=dict(os.environ, DISPLAY=self.state["display"]), timeout=30)
            return result.stdout.split()
        window = wait_until("the Wine desktop's window", found, 30, 0.25)[0]
        geometry = dict(line.split("=") for line in self._xdotool("getwindowgeometry", "--shell", window).split())
        self.state["desktop_window"] = window
        self.state["desktop_origin"] = (int(geometry["X"]), int(geometry["Y"]))


def _xrandr(display, *args, check=True):
    """What xrandr printed; None when it failed and `check` is false."""
    result = subprocess.run(["xrandr", "-display", display, *args], capture_output=True, text=True, timeout=30)
    if result.returncode != 0:
        if check:
            raise DesktopError(f"xrandr {' '.join(args)} failed: {result.stderr.strip()}")
        return None
    return result.stdout


def _alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    try:
        # A zombie child of ours counts as gone.
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().split(") ")[1][0] != "Z"
    except OSError:
        return False
