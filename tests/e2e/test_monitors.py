"""Several monitors: Xorg's dummy driver, Wine without a virtual desktop, and
secondary taskbars made by hpprobe.exe, since Wine's shell makes none. Each
case starts Wine's session afresh on the monitors it asks for."""
import pytest

pytestmark = pytest.mark.monitors


def test_monitors_three(c):
    """Three monitors, two secondary taskbars: every change reaches all three."""
    c.desk.use_monitors(3)
    secondaries = c.secondary_taskbars(1, 2)
    program = c.start_and_wait_hidden()
    taskbars = c.taskbars()
    assert sorted(t["taskbar"] for t in taskbars[1:]) == sorted(secondaries)
    c.probe_ok("every taskbar hidden at start", "wait-alpha", 0, 1000, "all")
    c.probe_ok("Ctrl+0", "press", "ctrl+0")
    c.probe_ok("all three shown within a second", "wait-alpha", 255, 1000, "all")
    c.probe_ok("all three still shown", "keep-alpha", 255, 17500, "all")
    c.probe_ok("all three hidden again after twenty seconds", "wait-alpha", 0, 3500, "all")
    c.choose("Pause")
    c.probe_ok("all three shown by Pause", "wait-alpha", 255, 1500, "all")
    c.choose("Pause")
    c.probe_ok("all three hidden by Pause again", "wait-alpha", 0, 1500, "all")
    c.choose("Exit")
    assert c.wait_exit(program) == 1
    c.probe_ok("all three opaque after Exit", "wait-alpha", 255, 1000, "all")


def test_monitors_without_secondary_taskbar(c):
    """Two monitors where the shell shows no secondary taskbar."""
    c.desk.use_monitors(2)
    program = c.start_and_wait_hidden()
    assert len(c.taskbars()) == 1, "the primary taskbar alone"
    c.probe_ok("the primary kept hidden", "keep-alpha", 0, 2000)
    assert program.poll() is None, "Hushpane ended"
    c.probe_ok("its window still there", "hidden")


def test_monitors_added_later(c):
    """A monitor added while Hushpane runs: its new taskbar is never listed,
    so it stays as the shell made it, through Pause and Exit."""
    c.desk.use_monitors(2)
    first = c.secondary_taskbars(1, 1)
    program = c.start_and_wait_hidden()
    known = [c.taskbars()[0]["taskbar"], *first]
    c.probe_ok("both taskbars hidden", "wait-alpha", 0, 1000, *known)
    c.desk.set_monitors(3)
    added = c.secondary_taskbars(2, 1)

    def untouched():
        late = [t for t in c.taskbars() if t["taskbar"] in added]
        assert len(late) == 1 and late[0]["layered"] == "0" and late[0]["alpha"] == "-1", \
            "the added taskbar is not as the shell made it"

    c.choose("Pause")
    c.probe_ok("the known taskbars shown by Pause", "wait-alpha", 255, 1500, *known)
    untouched()
    c.choose("Pause")
    c.probe_ok("hidden again", "wait-alpha", 0, 1500, *known)
    c.choose("Exit")
    assert c.wait_exit(program) == 1
    c.probe_ok("the known taskbars opaque after Exit", "wait-alpha", 255, 1000, *known)
    untouched()


def test_monitors_hushpane_check(c):
    """hushpane-check.exe on two monitors with two taskbars."""
    c.desk.use_monitors(2)
    c.secondary_taskbars(1, 1)
    report = c.run_check()
    for line in ("NOTE monitor 1 (primary): 0,0-1024,768", "NOTE monitor 2: 1024,0-2048,768",
                 "NOTE taskbar Shell_TrayWnd at 0,738-1024,768",
                 "NOTE taskbar Shell_SecondaryTrayWnd at 1024,738-2048,768"):
        assert any(report_line.startswith(line) for report_line in report), f"the report has no line {line!r}"
