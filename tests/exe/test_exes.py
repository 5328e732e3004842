"""The built exes read as files (check_exe.py): what each is, what it imports,
and the mitigations it carries and claims; and that the checks can fail, each
naming its cause: every mitigation taken out of a copy of the good exe, and,
in real links of the clang build, CET missing, Control Flow Guard claimed on
a MinGW link, and libstdc++'s own terminate handler back."""
import struct

import pefile
import pytest
from check_exe import TAKEN_AWAY, cfg_failure, failures_of, guarded_calls


@pytest.fixture(scope="session")
def exe(build):
    def path(name):
        found = build / name
        assert found.is_file(), f"not built: {found}"
        return found
    return path


@pytest.fixture(scope="session")
def limits(request):
    """What this build is excused from, and the size it may not pass."""
    return request.config.getoption("--without-cet"), request.config.getoption("--ceiling")


@pytest.mark.parametrize("kind, name", [("hushpane", "hushpane.exe"), ("check", "hushpane-check.exe")])
def test_shipped_exe(kind, name, exe, limits):
    without_cet, ceiling = limits
    assert failures_of(pefile.PE(exe(name)), kind, without_cet, ceiling if kind == "hushpane" else None) == []


@pytest.mark.lld
@pytest.mark.parametrize("take, named", TAKEN_AWAY, ids=[named for _, named in TAKEN_AWAY])
def test_each_mitigation_taken_away_is_named(take, named, exe):
    failures = failures_of(pefile.PE(data=take(pefile.PE(exe("hushpane.exe")))), "hushpane")
    assert any(failure.startswith("no " + named) for failure in failures), failures


@pytest.mark.lld
@pytest.mark.parametrize("name, ceiling, named", [
    ("tests/exe/hushpane-without-cet.exe", None, "no CET shadow-stack compatibility"),
    ("tests/exe/hushpane-cfg-bit-alone.exe", None, "claims Control Flow Guard"),
    ("tests/exe/hushpane-verbose-terminate.exe", 112, "above the ceiling of 112 KB: libstdc++'s verbose terminate"),
], ids=["without_cet", "cfg_bit_alone", "verbose_terminate"])
def test_a_broken_link_fails_for_its_cause_alone(name, ceiling, named, exe):
    failures = failures_of(pefile.PE(exe(name)), "hushpane", ceiling_kb=ceiling)
    assert len(failures) == 1 and named in failures[0], failures


@pytest.mark.parametrize("claimed, table, instrumented, guarded, false_claim", [
    (False, False, False, 0, False),
    (True, False, False, 0, True),
    (True, True, False, 0, True),
    (True, True, True, 0, True),
    (True, True, True, 12, False),
], ids=["no bit", "the bit without a load configuration", "the bit and a table without the flag",
        "the bit, a table and the flag, no call through the guard (lld's -guard:cf alone, any runtime: MinGW's "
        "msvcrt, or UCRT, which shows no mark of a MinGW link, with a forged load configuration)",
        "the bit, a table and the flag, and calls through the guard's pointers"])
def test_control_flow_guard_claims(claimed, table, instrumented, guarded, false_claim):
    """The header bit is a false claim unless the load configuration holds the
    function table and the instrumented flag, and the code calls through the
    guard's check or dispatch pointer, whatever the runtime."""
    failure = cfg_failure(claimed, table, instrumented, guarded)
    assert (failure is not None) == false_claim, failure
    assert failure is None or failure.startswith("claims Control Flow Guard"), failure


def test_calls_through_the_guard_are_found_by_their_target():
    """`call qword ptr [rip+disp32]` counts where it reaches a guard pointer,
    at the next instruction's address plus the displacement, and only there."""
    def call(at, target):
        return b"\xff\x15" + struct.pack("<i", target - (at + 6))
    base, check, dispatch, other = 0x1000, 0x5000, 0x5008, 0x6000
    code = call(base, check) + b"\x90" + call(base + 7, dispatch) + call(base + 13, other) + b"\xff\x15\x00"
    assert guarded_calls(code, base, {check, dispatch}) == 2
    assert guarded_calls(code, base, {other}) == 1
    assert guarded_calls(code, base + 1, {check, dispatch}) == 0
