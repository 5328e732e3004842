"""hushpane-check.exe on the desktop: its eight checks pass, it presses
nothing of another program's, and whatever stops it, it stops pressing and
leaves the desktop as it found it."""
import os
import re
import signal
import struct
import time

import pytest
from wine_desktop import WIDTH, HEIGHT, wait_until, windows_path

pytestmark = pytest.mark.timeout(240)


def injected(lines):
    """The input events that a program sent, of those a watch-input helper heard."""
    return [line for line in lines if line.endswith(" injected")]


def test_hushpane_check(c):
    shot = c.logs / "screenshot.bmp"
    c.run_check("--screenshot", windows_path(shot))
    data = shot.read_bytes()
    # BITMAPFILEHEADER, then BITMAPINFOHEADER: rows top-down, 32 bits a pixel.
    size, offset, width, height, planes, bits = struct.unpack_from("<2xI4xI4xiiHH", data)
    assert data[:2] == b"BM" and size == len(data) == offset + WIDTH * HEIGHT * 4, data[:54]
    assert (width, height, planes, bits) == (WIDTH, -HEIGHT, 1, 32)


def test_check_finds_a_free_place(c):
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
    report = c.run_check()
    clicks = [tuple(map(int, m)) for line in report
              for m in re.findall(r"click on the check's own window at (\d+),(\d+)", line)]
    assert clicks and all(200 <= y < bottom - 200 for _, y in clicks), "a click under a cover"
    assert any("the pointer moved away from it to" in line for line in report), \
        "the check did not move the pointer out of the way of its window"
    c.expect_untouched(cover, top_band)


def test_check_on_a_covered_desktop(c):
    """The whole work area under another program's window kept above every
    top-most one: no press and no key at all reach it, the Ctrl of Ctrl+0
    included; the checks kept from their gestures are skipped, each saying
    what lies there, none fails, and the taskbar ends as it was."""
    c.desk.move_pointer(WIDTH // 2, HEIGHT // 2)  # where Hushpane's menu opens: under the cover
    primary = c.taskbars()[0]["rect"].split(",")
    work = (0, 0, WIDTH, int(primary[1]))
    cover = c.cover(work)
    check = c.start_check()
    status = c.wait_exit(check, 240)
    report = c.stdout_lines(check)
    print("\n".join(report))
    assert status == 4
    assert not [line for line in report if line.startswith("FAIL ")]
    skipped = [line for line in report if line.startswith("SKIP ")]
    assert all(any(line.startswith(f"SKIP {n} ") for line in skipped) for n in (2, 5, 7)), \
        "the peek and the presses of checks 5 and 7 were not skipped"
    for line in skipped:
        assert "HushpaneE2ECover" in line and "hpprobe.exe" in line, line
    assert report[-1].endswith(f"0 failed, {len(skipped)} skipped"), report[-1]
    c.expect_desktop_put_back()
    c.expect_untouched(cover, work)


def test_check_in_a_job(c):
    """The check in a job that ends its processes when it closes, as a CI
    step's time-out does, ended that way in the middle of the run: its guard,
    which left the job, puts the desktop back. In a job that lets no process
    leave it, the check says at start what ending the job would do."""
    job = c.start_check(job="breakaway", label="breakaway")
    wait_until("the check's first check", lambda: "PASS 1" in c.stdout_text(job), 60)
    assert "its guard left the job" in c.stdout_text(job)
    job.kill()  # its job handle closes with it, and the job ends the check and Hushpane
    job.wait(timeout=30)
    wait_until("the guard ending Hushpane", lambda: "hidden=none" in c.probe("hidden"), 30)
    wait_until("the guard putting the taskbar back", lambda: "layered=0" in c.probe("taskbar"), 30)
    c.expect_desktop_put_back()

    job = c.start_check(job="no-breakaway", label="no-breakaway")
    # Ended once Hushpane runs: Wine's job can miss a process made in the moment it ends.
    wait_until("the check's first check", lambda: "PASS 1" in c.stdout_text(job), 60)
    assert "run in a job: ending it" in c.stdout_text(job), "the check does not say what ending its job would do"
    job.kill()
    job.wait(timeout=30)


def test_check_survives_hushpane_ended(c):
    """Hushpane ended from outside in the middle of the check's peek."""
    check = c.start_check()
    wait_until("the check's peek", lambda: "PASS 1" in c.stdout_text(check) and "alpha=255" in c.probe("taskbar"), 60)
    killed = c.desk.run_exe("taskkill", "/F", "/PID", c.windows_pid())
    status = c.wait_exit(check, 120)
    report = c.stdout_text(check)
    print(killed, report, sep="\n")
    assert status == 1 and "FAIL 2 peek" in report, "the peek did not fail"
    c.expect_desktop_put_back()


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
    assert any(line.startswith("key ") for line in injected(before)), "the watcher heard no Ctrl+0 before the stop"
    stop(check)
    heard = c.stdout_lines(watcher)
    status = c.wait_exit(check, 60)
    wait_until("Hushpane ended", lambda: "hidden=none" in c.probe("hidden"), 40)
    time.sleep(1)
    after = injected(c.stdout_lines(watcher)[len(heard):])
    assert not after, "input reached the desktop after the check was stopped"
    c.expect_desktop_put_back()
    return status, c.stdout_text(check), heard[len(before):]


def test_check_ended_from_outside(c):
    """The check itself ended at once, as from Task Manager: its guard puts the desktop back, with messages only."""
    def kill(check):
        check.kill()
        check.wait(timeout=30)
    stop_check_mid_peek(c, kill)


def test_check_interrupted(c):
    """Ctrl+C, as a terminal sends it: to the whole process group."""
    status, report, _ = stop_check_mid_peek(c, lambda check: os.killpg(check.pid, signal.SIGINT))
    print(report)
    assert status == 3
    assert "Interrupted (Ctrl+C or Ctrl+Break in the console)" in report
    assert "Hushpane is ended; the taskbars are as they were." in report


def test_check_stopped_by_typed_ctrl_c(c):
    """Ctrl+C typed at the keyboard during the peek, as real key events through
    the X server, while the check's own window has the keyboard, so that the
    console never sees them: the first key stops the check, and from half a
    second after the keys on nothing is injected."""
    def typed(check):
        c.desk.type_keys("ctrl+c")
        time.sleep(0.5)
    status, report, typed_then = stop_check_mid_peek(c, typed)
    print(report)
    assert "key 0x100 of 67" in typed_then, "the typed Ctrl+C did not reach the desktop"
    assert status == 3 and "Interrupted (the key Control pressed)" in report


def test_check_stopped_by_alt_f4_at_its_window(c):
    """Alt+F4 typed during the peek, at the check's own window, which has the
    keyboard then: the check stops at the first key, not at a window gone."""
    def typed(check):
        c.desk.type_keys("alt+F4")
        time.sleep(0.5)
    status, report, _ = stop_check_mid_peek(c, typed)
    print(report)
    assert status == 3 and "Interrupted (the key Alt pressed)" in report


def test_check_stopped_by_the_pointer_moved(c):
    """The user takes the mouse during the peek and moves the pointer 150 px:
    the check stops there."""
    def moved(check):
        c.desk.move_pointer(WIDTH // 2 - 150, HEIGHT // 2)
        time.sleep(0.5)
    c.desk.move_pointer(WIDTH // 2, HEIGHT // 2)
    status, report, _ = stop_check_mid_peek(c, moved)
    print(report)
    assert status == 3 and f"Interrupted (the pointer moved from {WIDTH // 2},{HEIGHT // 2}" in report


@pytest.mark.parametrize("kind", ["menu", "box"])
def test_check_stopped_by_ctrl_c_typed_as_hushpane_opens(c, kind):
    """Ctrl+C typed through the X server the moment Hushpane's box or menu is
    open (seen by watch-windows, which looks every 5 ms), when Hushpane's
    thread has the keyboard and its modal loop swallows the keys: the check
    stops within a few seconds; from half a second after the keys on nothing
    is injected, no box or menu of Hushpane's opens after the stop, Hushpane
    ends and the taskbar is as before."""
    inputs = c.helper("watch-input", "watching", "watch-input")
    windows = c.helper("watch-windows", "watching", "watch-windows")
    check = c.start_check()
    wait_until(f"Hushpane's {kind}", lambda: f"\n{kind} " in c.stdout_text(windows), 90, interval_s=0.001)
    c.desk.type_keys("ctrl+c")
    time.sleep(0.5)
    heard, seen = len(c.stdout_lines(inputs)), len(c.stdout_lines(windows))
    status = c.wait_exit(check, 10)
    wait_until("Hushpane ended", lambda: "hidden=none" in c.probe("hidden"), 40)
    time.sleep(1)
    report = c.stdout_text(check)
    print(report)
    assert status == 3 and "Interrupted (the key Control pressed)" in report
    assert not injected(c.stdout_lines(inputs)[heard:]), "input reached the desktop after the check was stopped"
    assert not c.stdout_lines(windows)[seen:], "Hushpane opened something after the check was stopped"
    c.expect_desktop_put_back()


def test_check_refuses_a_held_key(c):
    """A key already held when the check starts (a finger resting on Shift)
    would turn Ctrl+0 into another chord: the check refuses to run, names the
    key, and sends nothing."""
    inputs = c.helper("watch-input", "watching", "watch-input")
    c.desk.hold_key("shift")
    try:
        check = c.start_check()
        status = c.wait_exit(check, 60)
    finally:
        c.desk.hold_key("shift", down=False)
    report = c.stdout_text(check)
    print(report)
    assert status == 2 and "Not started: the key Shift is held down" in report
    assert not [line for line in report.splitlines() if line.startswith(("FAIL ", "PASS ", "SKIP "))]
    assert not injected(c.stdout_lines(inputs)), "the check sent input"
    c.expect_desktop_put_back()


@pytest.mark.parametrize("line", ["NOTE what the eye sees", "PASS 3 left click", "PASS 7 exit"],
                         ids=["box_opens", "menu_opens", "copy_starts"])
def test_check_stopped_as(c, line):
    """Ctrl+C sent to the check's process group the moment its report shows
    `line`, read every millisecond, as the next check begins to make Hushpane
    open a box or a menu, or to start a copy: from then on no injected input,
    no box or menu of Hushpane's opens and no copy starts (a copy's process
    started after the stop, by its start time); Hushpane ends and the taskbar
    ends as it was."""
    inputs = c.helper("watch-input", "watching", "watch-input")
    windows = c.helper("watch-windows", "watching", "watch-windows")
    check = c.start_check()
    wait_until(f"the check's line {line!r}", lambda: line in c.stdout_text(check), 90, interval_s=0.001)
    os.killpg(check.pid, signal.SIGINT)
    stopped = time.time()
    heard, opened = len(c.stdout_lines(inputs)), len(c.stdout_lines(windows))
    copies = {}
    while check.poll() is None:
        for process in c.hushpanes():
            copies.setdefault(process.pid, process.info["create_time"])
        time.sleep(0.02)
    wait_until("Hushpane ended", lambda: "hidden=none" in c.probe("hidden"), 40)
    time.sleep(1)
    report = c.stdout_text(check)
    print(report, f"stopped at {stopped:.2f}; each copy's start: {copies}", sep="\n")
    # A start time is counted in the kernel's ticks of 10 ms.
    late = {pid: at for pid, at in copies.items() if at > stopped + 0.01}
    assert not late, f"a copy of Hushpane started after the stop at {stopped:.2f}"
    assert not c.stdout_lines(windows)[opened:], "Hushpane opened something after the check was stopped"
    assert not injected(c.stdout_lines(inputs)[heard:]), "input reached the desktop after the check was stopped"
    assert check.returncode == 3 and "Interrupted" in report
    c.expect_desktop_put_back()
