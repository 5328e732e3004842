"""Hostile messages thrown at the real program: thousands sent to its hidden
window and a few dozen posted to it and its thread, never a real command,
must change nothing; then Exit still works. HUSHPANE_FUZZ_SEED in the
environment repeats a run; otherwise each run picks and prints a new seed."""
import os
import random

import pytest
from wine_desktop import wait_until

pytestmark = [pytest.mark.fuzz, pytest.mark.timeout(300)]


def test_hostile_messages(c):
    seed = int(os.environ.get("HUSHPANE_FUZZ_SEED") or random.randrange(1, 2**31))
    print(f"seed {seed} (HUSHPANE_FUZZ_SEED={seed} repeats this run)")
    without_icon = c.icons_width()
    program = c.start_and_wait_hidden()
    wait_until("the icon in the notification area", lambda: c.icons_width() > without_icon, 10)
    icons = c.icons_width()
    before = c.probe_ok("the hidden window", "hidden")
    status, output = c.desk.run_exe(c.exes["hostile"], seed, 10000, 30)
    print(output)
    assert status == 0, f"the hostile sender failed: {output}"
    assert program.poll() is None, "the program ended"
    assert c.probe("hidden") == before, "the hidden window changed"
    c.probe_ok("the taskbar still hidden", "keep-alpha", 0, 1000)
    assert c.icons_width() == icons, "the notification area changed"
    # The loop takes one posted message per 500 ms: Exit's command waits
    # behind the posted ones (30, so about 15 s).
    c.choose("Exit")
    assert c.wait_exit(program, 40) == 1
    c.probe_ok("restored by Exit", "wait-alpha", 255, 1000)
