"""What hushpane-check.exe does not prove: the icon and its tip on the screen,
the menu's items read off it, a second copy, Hushpane ended from outside, a
peek while paused, Exit while paused; and that a click in the middle of a
menu row chooses its item, as the check clicks them."""
from wine_desktop import WIDTH, HEIGHT, wait_until

HOTKEY_LINE = "Failed to register hot key for Hushpane."
ICON_CENTRE = (WIDTH - 11, HEIGHT - 11)  # the notification area's first icon


def test_tray_icon_on_screen(c):
    before = c.icons_width()
    c.start_and_wait_hidden()
    wait_until("the icon in the notification area", lambda: c.icons_width() > before, 10)
    try:
        c.desk.hover(*ICON_CENTRE)
        tip = c.read_window("the icon's tooltip", "tooltips_class32", 5000, lines=False)
    finally:
        c.desk.move_pointer(WIDTH // 2, HEIGHT // 2)
    assert tip == ["Hushpane"]


def test_second_copy(c):
    first = c.start_and_wait_hidden("first")
    one_icon = wait_until("the first copy's icon", lambda: c.icons_width(), 10)
    shown = c.probe_ok("the taskbar shown from outside", "show")
    assert "alpha=255" in shown, f"could not show the taskbar before the second copy: {shown}"
    second = c.start("second")
    c.probe_ok("the second copy hiding the taskbar again", "wait-alpha", 0, 10000)
    wait_until("the second copy's line", lambda: c.stdout_lines(second), 10)
    assert c.stdout_lines(second) == [HOTKEY_LINE]
    assert c.stdout_lines(first) == []
    assert first.poll() is None and second.poll() is None, "both copies run"
    c.probe_ok("the taskbar still hidden", "keep-alpha", 0, 1000)
    wait_until("the second copy's own icon", lambda: c.icons_width() > one_icon, 10)


def test_ended_from_outside(c):
    program = c.start_and_wait_hidden()
    program.kill()
    program.wait(timeout=30)
    wait_until("the hidden window gone", lambda: "hidden=none" in c.probe("hidden"), 10)
    c.probe_ok("alpha 0 kept after the process ended", "keep-alpha", 0, 1500)


def test_menu_items_on_screen(c):
    c.start_and_wait_hidden()
    c.probe_ok("a right click", "click", "right")
    items = c.read_window("the context menu", "#32768", 5000, lines=True)
    assert items == ["Pause", "Exit"]
    c.probe_ok("Escape", "press", "escape")
    c.probe_ok("the menu closed", "no-menu", 5000)


def test_peek_while_paused(c):
    c.start_and_wait_hidden()
    c.choose("Pause")
    c.probe_ok("paused", "wait-alpha", 255, 1000)
    c.probe_ok("Ctrl+0", "press", "ctrl+0")
    c.probe_ok("hidden again after the peek", "wait-alpha", 0, 22000)
    c.choose("Pause")
    c.probe_ok("the first Pause after it changes nothing", "keep-alpha", 0, 1500)
    c.choose("Pause")
    c.probe_ok("the next Pause shows", "wait-alpha", 255, 1000)


def test_exit_while_paused(c):
    before = c.icons_width()
    program = c.start_and_wait_hidden()
    wait_until("the icon", lambda: c.icons_width() > before, 10)
    c.choose("Pause")
    c.probe_ok("paused", "wait-alpha", 255, 1000)
    c.choose("Exit")
    assert c.wait_exit(program) == 1
    state = c.probe_ok("fully opaque after Exit", "wait-alpha", 255, 1000)
    assert "layered=1" in state, "the layered style stays"
    wait_until("the icon gone", lambda: c.icons_width() == before, 10)


def test_menu_click(c):
    """Clicks on the items of a menu made like Hushpane's, in the rows of the
    menu window where hushpane-check.exe clicks them, in a helper of its own:
    each click must choose the item it aimed at."""
    status, output = c.desk.run_exe(c.exes["menuclick"])
    print(output)
    assert status == 0 and output.count(": chose ") == 4, output
