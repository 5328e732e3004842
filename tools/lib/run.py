"""tools/run: hushpane.exe in a Wine shell desktop, shown the way a user
would want to see it. Options: --seconds N ends it after N seconds instead of
waiting for Ctrl+C; --headless ignores $DISPLAY; --exe runs another
hushpane.exe, such as the one from a release's zip."""
import argparse
import os
import re
import signal
import sys
import time
from pathlib import Path

from PIL import Image
from Xlib import display as xdisplay
from Xlib.error import DisplayError as XError
from wine_desktop import WIDTH, HEIGHT, Desktop, DesktopError, wait_until

ROOT = Path(__file__).resolve().parents[2]
BUILD = ROOT / "build" / "windows"
DOCS = ROOT / "docs"


def display_usable(display):
    if not display:
        return False
    try:
        xdisplay.Display(display).close()
    except XError:
        return False
    return True


def describe(taskbar):
    if "taskbar=none" in taskbar:
        return "no taskbar"
    layered = "layered" if "layered=1" in taskbar else "not layered"
    alpha = re.search(r"alpha=(-?\d+)", taskbar).group(1)
    return f"{layered}, alpha {'(none set)' if alpha == '-1' else alpha}"


def save_menu_shot(desk):
    """The notification area with the icon's menu open, then Escape."""
    desk.hover(WIDTH - 11, HEIGHT - 11)
    desk.probe("click", "right")
    desk.probe("find", "#32768", 5000)
    with_menu = DOCS / "tray-menu.png"
    corner = desk.screenshot(box=(WIDTH - 240, HEIGHT - 90, WIDTH, HEIGHT))
    corner.resize((corner.width * 2, corner.height * 2), Image.Resampling.NEAREST).save(with_menu)
    desk.probe("press", "escape")
    desk.probe("no-menu", 5000)
    desk.move_pointer(WIDTH // 2, HEIGHT // 2)
    print(f"Screenshot: {with_menu.relative_to(ROOT)} (the icon's menu, open).")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--seconds", type=float, help="run this long, then Exit (default: until Ctrl+C)")
    parser.add_argument("--headless", action="store_true", help="use a private Xvfb even when $DISPLAY is set")
    parser.add_argument("--menu-shot", action="store_true", help="also open the tray menu and save a picture of it")
    parser.add_argument("--exe", type=Path, default=BUILD / "hushpane.exe",
                        help="the hushpane.exe to run (default: the one just built)")
    args = parser.parse_args()
    exe = args.exe.resolve()
    if not exe.is_file():
        print(f"tools/run: no such file: {exe}", file=sys.stderr)
        return 2

    display = None if args.headless or not display_usable(os.environ.get("DISPLAY")) else os.environ["DISPLAY"]
    run_dir = ROOT / "build" / "run"
    print(f"Starting a Wine desktop with a shell taskbar ({'on ' + display if display else 'headless, Xvfb'})...")
    desk = Desktop.start(run_dir / "prefix", BUILD / "tests" / "e2e" / "hpprobe.exe", run_dir / "logs", display)
    interrupted = []
    signal.signal(signal.SIGINT, lambda *_: interrupted.append(True))
    program = None
    try:
        before = desk.probe("taskbar")
        handle = re.search(r"taskbar=(\w+)", before).group(1)
        print(f"Taskbar found: Shell_TrayWnd {handle}; before Hushpane: {describe(before)}")

        print(f"Starting {exe}")
        program = desk.popen([exe], run_dir / "logs" / "hushpane.log",
                             stdout_path=run_dir / "logs" / "hushpane.stdout")
        after = desk.probe("wait-alpha", 0, 10000, check=False)
        print(f"Hushpane started;  after:          {describe(after)}  (read back with GetLayeredWindowAttributes)")

        DOCS.mkdir(exist_ok=True)
        wait_until("the tray icon", lambda: desk.notification_area_width() > 0, 10)
        desk.hover(WIDTH - 11, HEIGHT - 11)
        desk.probe("find", "tooltips_class32", 3000, check=False)
        shot = DOCS / "desktop.png"
        desk.screenshot(shot)
        desk.move_pointer(WIDTH // 2, HEIGHT // 2)
        print(f"Screenshot: {shot.relative_to(ROOT)} (the tray icon, its tip showing, at the bottom right).")
        print("  Note: Wine 8 does not draw layered alpha inside a virtual desktop, so the taskbar still shows")
        print("  in the picture although its alpha is 0; the read-back above is the proof, not the picture.")

        if args.menu_shot:
            save_menu_shot(desk)

        deadline = time.monotonic() + args.seconds if args.seconds else None
        print("Running. Ctrl+0 shows the taskbar for 20 s; press Ctrl+C here to end Hushpane through its Exit.")
        while not interrupted and program.poll() is None and (deadline is None or time.monotonic() < deadline):
            time.sleep(0.2)
        if program.poll() is not None:
            print(f"Hushpane ended by itself with status {program.returncode}.")
        else:
            desk.choose_from_tray_menu("Exit")
            status = program.wait(timeout=15)
            print(f"Exit chosen from the tray menu: Hushpane ended with status {status}; "
                  f"taskbar now {describe(desk.probe('taskbar'))}.")
    except DesktopError as error:
        print(f"tools/run: {error}", file=sys.stderr)
        return 1
    finally:
        if program is not None and program.poll() is None:
            program.kill()
        desk.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
