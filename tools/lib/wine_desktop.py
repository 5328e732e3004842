"""A Wine desktop with a real shell taskbar, for running hushpane.exe and
looking at it from outside: its own X display (Xvfb unless one is given), its
own WINEPREFIX, a keep-alive GUI process that holds the desktop up, and one
hpprobe.exe that reads and drives it for as long as the session lasts. Keys
and pointer moves go in through the X server, as a user's do. It ends only
what it started."""
import os
import re
import select
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

import psutil
from PIL import Image, ImageGrab
from Xlib import X, XK
from Xlib import display as xdisplay
from Xlib.ext import xtest

WIDTH, HEIGHT = 1024, 768
PROBE_TIMEOUT_S = 120  # longer than any wait of a probe command
MAX_MONITORS = 3
KEY_NAMES = {"ctrl": "Control_L", "shift": "Shift_L", "alt": "Alt_L", "super": "Super_L"}

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


def windows_path(path):
    """Wine's drive Z: is the Unix root."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


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
    env = wine_environment(prefix, "")
    env.pop("DISPLAY")

    def run(*args):
        subprocess.run(args, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300, check=True)

    run("wine", "wineboot", "-i")
    if shell_desktop:
        run("wine", "reg", "add", r"HKCU\Software\Wine\Explorer", "/v", "Desktop", "/d", "shell", "/f")
        run("wine", "reg", "add", r"HKCU\Software\Wine\Explorer\Desktops", "/v", "shell", "/d", f"{WIDTH}x{HEIGHT}",
            "/f")
    run("wineserver", "-w")
    marker.write_text(f"{kind}, made by tools/lib/wine_desktop.py\n")


class Probe:
    """hpprobe.exe serve in the desktop's session: each command a line on its
    standard input, each answer a line on its output, so that a read costs a
    message rather than the start of a Wine process."""

    def __init__(self, process):
        self.process = process
        self.pending = b""

    def ask(self, *args):
        """The command's status and what it said, a line each."""
        line = subprocess.list2cmdline([str(arg) for arg in args]) + "\n"
        try:
            self.process.stdin.write(line.encode("utf-8"))
            self.process.stdin.flush()
        except OSError as error:
            raise DesktopError(f"hpprobe serve took no command ({error}): it ended with {self.process.poll()}")
        deadline = time.monotonic() + PROBE_TIMEOUT_S
        while b"\n" not in self.pending:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.process.stdout], [], [], left)[0]:
                raise DesktopError(f"hpprobe {line.strip()} gave no answer within {PROBE_TIMEOUT_S} s")
            chunk = os.read(self.process.stdout.fileno(), 65536)
            if not chunk:
                raise DesktopError(f"hpprobe serve ended ({self.process.wait()}) at hpprobe {line.strip()}")
            self.pending += chunk
        answer, self.pending = self.pending.split(b"\n", 1)
        status, _, said = answer.decode("utf-8", "replace").strip().partition(" ")
        return int(status), said.replace(" | ", "\n")

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=30)


class Screen:
    """The X display as a user meets it: its pixels, and a pointer and keys
    that Wine takes for a person's (XTEST, not marked as injected)."""

    def __init__(self, display, origin=(0, 0)):
        self.name = display
        self.x = xdisplay.Display(display)
        self.origin = origin

    def keycode(self, name):
        keysym = XK.string_to_keysym(KEY_NAMES.get(name.lower(), name))
        code = self.x.keysym_to_keycode(keysym)
        if not keysym or not code:
            raise DesktopError(f"no key {name!r} on {self.name}")
        return code

    def key(self, chord, down=True, up=True):
        """A chord such as ctrl+c: its keys down in order, then up in reverse."""
        codes = [self.keycode(name) for name in chord.split("+")]
        for code in codes if down else []:
            xtest.fake_input(self.x, X.KeyPress, code)
        for code in reversed(codes) if up else []:
            xtest.fake_input(self.x, X.KeyRelease, code)
        self.x.sync()

    def move(self, x, y):
        xtest.fake_input(self.x, X.MotionNotify, x=self.origin[0] + x, y=self.origin[1] + y)
        self.x.sync()

    def click(self, button=1):
        xtest.fake_input(self.x, X.ButtonPress, button)
        xtest.fake_input(self.x, X.ButtonRelease, button)
        self.x.sync()

    def grab(self, box=None):
        """The screen, or the part of it in (left, top, right, bottom), as an RGB image."""
        shot = ImageGrab.grab(xdisplay=self.name).convert("RGB")
        left, top = self.origin
        return shot.crop((left, top, left + WIDTH, top + HEIGHT) if box is None else
                         (left + box[0], top + box[1], left + box[2], top + box[3]))

    def find_window(self, name):
        """The top-level X window of that name, and its place on the screen."""
        def named(window):
            for child in window.query_tree().children:
                if child.get_wm_name() == name:
                    return child
                found = named(child)
                if found is not None:
                    return found
            return None
        window = named(self.x.screen().root)
        if window is None:
            return None
        place = window.translate_coords(self.x.screen().root, 0, 0)
        return window.id, (-place.x, -place.y)

    def close(self):
        self.x.close()


class Desktop:
    """Started by a test fixture, tools/run or tools/bench, and stopped by it."""

    def __init__(self, prefix, probe_exe, log_dir, monitors):
        self.prefix = str(prefix)
        self.probe_exe = str(probe_exe)
        self.log_dir = Path(log_dir)
        self.monitors = monitors
        self.x_server = None
        self.display = None
        self.env = None
        self.screen = None
        self.prober = None

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
        desktop = cls(prefix, probe, log_dir, monitors)
        try:
            if monitors:
                desktop._start_xorg()
            elif display is None:
                desktop._start_xvfb()
            else:
                desktop.display = display
            desktop.env = wine_environment(prefix, desktop.display)
            desktop.screen = Screen(desktop.display)
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
        holds it up, the shell's taskbar, and the probe. Without a virtual
        desktop the keep-alive also keeps an icon of its own in Wine's
        notification area, as other programs do on a user's desktop: when its
        last icon goes, that area's window is hidden, and with no window
        manager on the X server Wine's explorer then waits two seconds for
        one, and every program deleting its icon waits with it."""
        command = [self.probe_exe, "keepalive"] + (["icon"] if self.monitors else [])
        said = self.log_dir / "keepalive.stdout"
        keepalive = self.popen(command, self.log_dir / "keepalive.log", stdout_path=said)

        def keepalive_up():
            if keepalive.poll() is not None:
                log = (self.log_dir / "keepalive.log").read_text(errors="replace")
                raise DesktopError(f"the keep-alive process ended ({keepalive.returncode}): {log}")
            return b"keepalive" in said.read_bytes()

        wait_until("the keep-alive window", keepalive_up, 60, 0.1)
        self._start_probe()
        wait_until("the shell taskbar", lambda: "taskbar=0" in self.probe("taskbar", check=False), 60, 0.25)
        if self.monitors:
            # Wine's explorer keeps its taskbar hidden without a virtual desktop.
            self.probe("show-tray")

    def _start_probe(self):
        with open(self.log_dir / "probe.log", "ab") as log:
            self.prober = Probe(subprocess.Popen(["wine", self.probe_exe, "serve"], env=self.env,
                                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=log,
                                                 start_new_session=True))

    def _start_xvfb(self):
        # -displayfd: Xvfb picks a free display number and tells it.
        read_end, write_end = os.pipe()
        with open(self.log_dir / "xvfb.log", "wb") as log:
            self.x_server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                              f"{WIDTH}x{HEIGHT}x24", "-nolisten", "tcp"], pass_fds=(write_end,),
                                             stdout=log, stderr=log, start_new_session=True)
        os.close(write_end)
        with os.fdopen(read_end) as numbers:
            number = numbers.readline().strip()
        if not number:
            raise DesktopError("Xvfb did not start; see " + str(self.log_dir / "xvfb.log"))
        self.display = f":{number}"

    def _start_xorg(self):
        """Xorg with the dummy video driver, whose RandR outputs DUMMY0 to
        DUMMY15 become monitors. It needs root: through sudo otherwise."""
        number = next(n for n in range(20, 100)
                      if not Path(f"/tmp/.X{n}-lock").exists() and not Path(f"/tmp/.X11-unix/X{n}").exists())
        self.display = f":{number}"
        config = self.log_dir / "xorg.conf"
        config.write_text(XORG_CONFIG)
        command = ["Xorg", self.display, "-config", str(config), "-noreset", "-nolisten", "tcp", "-logfile",
                   str(self.log_dir / "xorg.log")]
        if os.geteuid() != 0:
            command = ["sudo", "-n", *command]
        with open(self.log_dir / "xorg.out", "wb") as out:
            self.x_server = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                                             start_new_session=True)

        def answers():
            if self.x_server.poll() is not None:
                raise DesktopError(f"Xorg ended ({self.x_server.returncode}); see {self.log_dir / 'xorg.log'}")
            return _xrandr(self.display, "--listmonitors", check=False) is not None

        wait_until("the Xorg server", answers, 30, 0.25)
        for output in range(1, MAX_MONITORS):
            _xrandr(self.display, "--addmode", f"DUMMY{output}", f"{WIDTH}x{HEIGHT}")

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
        _xrandr(self.display, *layout)
        wait_until(f"{count} monitors", lambda: _xrandr(self.display, "--listmonitors").startswith(
            f"Monitors: {count}\n"), 10, 0.1)

    def end_wine(self):
        """Ends every Wine process of this prefix, the probe's among them."""
        if self.prober is not None:
            self.prober.stop()
            self.prober = None
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60)
        try:
            subprocess.run(["wineserver", "-w"], env=self.env, timeout=30)
        except subprocess.TimeoutExpired:
            pass

    def stop(self):
        """Ends every Wine process of this prefix, then this desktop's X server."""
        if self.env is not None:
            self.end_wine()
        if self.screen is not None:
            self.screen.close()
        if self.x_server is not None and self.x_server.poll() is None:
            self.x_server.terminate()
            try:
                self.x_server.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.x_server.kill()

    # -- using it -----------------------------------------------------------

    def popen(self, command, log_path, stdout_path=None, env=None):
        """Starts a Windows program in this desktop, with `env` added to its
        environment. `wine prog.exe` becomes the program's own process, so its
        pid and exit status are the program's. Its standard error is added to
        the log; its standard output, where a caller reads what the program
        says, goes to a file of its own made anew, so that nothing an earlier
        run wrote can be read as this one's."""
        with open(log_path, "ab") as log, open(stdout_path or os.devnull, "wb") as out:
            return subprocess.Popen(["wine", *map(str, command)], env={**self.env, **(env or {})},
                                    stdin=subprocess.DEVNULL, stdout=out if stdout_path else log, stderr=log,
                                    start_new_session=True)

    def run_exe(self, exe, *args):
        """Runs a console program to its end; returns its exit status and what
        it printed. Its output goes through a file: a Wine service that the
        first program of a session starts would inherit a pipe and hold it
        open."""
        with tempfile.TemporaryFile() as out:
            result = subprocess.run(["wine", str(exe), *map(str, args)], env=self.env, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=subprocess.DEVNULL, timeout=PROBE_TIMEOUT_S)
            out.seek(0)
            return result.returncode, out.read().decode("utf-8", "replace").strip()

    def run_probe(self, *args):
        """A command of the probe's: its status and what it said. A probe that
        gave no answer is replaced, so that its late answer is never taken for
        the next command's."""
        try:
            return self.prober.ask(*args)
        except DesktopError:
            self.prober.stop()
            self._start_probe()
            raise

    def probe(self, *args, check=True):
        status, output = self.run_probe(*args)
        if check and status != 0:
            raise DesktopError(f"hpprobe {' '.join(map(str, args))} failed: {output}")
        return output

    def processes(self, pattern):
        """This prefix's processes whose command line matches the pattern, each
        with its command line, environment and start time in `info`."""
        found = []
        for process in psutil.process_iter(["cmdline", "environ", "create_time"]):
            environ, cmdline = process.info["environ"] or {}, process.info["cmdline"] or []
            if environ.get("WINEPREFIX") == self.prefix and re.search(pattern, " ".join(cmdline)):
                found.append(process)
        return found

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

    def screenshot(self, path=None, box=None):
        """The Wine desktop alone, or a part of it, saved where `path` says."""
        shot = self.screen.grab(box)
        if path:
            shot.save(path)
        return shot

    def ocr(self, path, x, y, width, height, lines=False):
        """Reads the text in one area of the screen, enlarged for tesseract."""
        shot = self.screenshot(path)
        crop = shot.crop((x, y, x + width, y + height)).convert("L")
        crop = crop.resize((crop.width * 4, crop.height * 4), Image.Resampling.LANCZOS)
        crop = crop.point(lambda level: 255 if level > 153 else 0)  # 60 % of white
        framed = Image.new("L", (crop.width + 60, crop.height + 60), 255)
        framed.paste(crop, (30, 30))
        with tempfile.NamedTemporaryFile(suffix=".png") as image:
            framed.save(image.name)
            result = subprocess.run(["tesseract", image.name, "-", "--psm", "6" if lines else "7"],
                                    capture_output=True, text=True, timeout=60)
        return [line.strip() for line in result.stdout.splitlines() if line.strip()]

    def notification_area_width(self, path=None):
        """How many pixel columns of the taskbar's right end show something
        other than the taskbar's own background: it grows by one icon's width
        when an icon is added, and shrinks back when it is deleted."""
        shot = self.screenshot(path)
        row = [shot.getpixel((x, HEIGHT - 11)) for x in range(WIDTH - 300, WIDTH)]
        return sum(1 for pixel in row if pixel != row[0])

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
        self.screen.click()

    def type_keys(self, chord):
        """Keys typed at the X server's keyboard, as a user types them: Wine does not mark
        them injected."""
        self.screen.key(chord)

    def hold_key(self, chord, down=True):
        """A key pressed and held (`down`), or let go."""
        self.screen.key(chord, down=down, up=not down)

    def move_pointer(self, x, y):
        """Moves the pointer to a point of the Wine desktop."""
        self.screen.move(x, y)

    def _find_desktop_window(self):
        """On a user's display the Wine desktop is one window among others."""
        _, origin = wait_until("the Wine desktop's window", lambda: self.screen.find_window("Wine desktop"), 30,
                               0.25)
        self.screen.origin = origin


def _xrandr(display, *args, check=True):
    """What xrandr printed; None when it failed and `check` is false."""
    result = subprocess.run(["xrandr", "-display", display, *args], capture_output=True, text=True, timeout=30)
    if result.returncode != 0:
        if check:
            raise DesktopError(f"xrandr {' '.join(args)} failed: {result.stderr.strip()}")
        return None
    return result.stdout
