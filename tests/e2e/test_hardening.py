"""The stack protector as the shipped exes have it (hardening/, in hpcanary.exe):
a canary drawn afresh for each process, and an overrun that ends the process
as a fast fail, which Windows records, before the overrunning function can
return into anything."""
import re

STATUS_STACK_BUFFER_OVERRUN = 0xC0000409


def test_each_process_draws_its_own_canary(c):
    canaries = set()
    for _ in range(3):
        status, output = c.desk.run_exe(c.exes["canary"])
        assert status == 0 and "no overrun found" in output, output
        canaries.add(re.search(r"canary=([0-9a-f]{16})", output).group(1))
    assert len(canaries) == 3 and "0" * 16 not in canaries, canaries


def test_an_overrun_ends_the_process_as_a_fast_fail(c):
    status, output = c.desk.run_exe(c.exes["canary"], "x" * 40)
    assert status == STATUS_STACK_BUFFER_OVERRUN % 256, f"status {status}: {output}"  # wine gives the low byte
    assert "no overrun found" not in output
