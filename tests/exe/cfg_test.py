#!/usr/bin/env python3
"""The exe checks' rule for Control Flow Guard, case by case: the header bit is
a false claim on any exe that a MinGW-w64 toolchain linked, and on any other
unless the load configuration holds the function table and the instrumented
flag."""
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from check_exe import cfg_failure  # noqa: E402


class ControlFlowGuardClaims(unittest.TestCase):
    def test_each_case(self):
        rows = [  # claimed, table, instrumented, MinGW: a false claim?
            ("no bit", False, False, False, True, False),
            ("the bit without a load configuration, MinGW", True, False, False, True, True),
            ("the bit without a load configuration, Visual Studio", True, False, False, False, True),
            ("the bit, a table and the flag on MinGW (lld's -guard:cf alone)", True, True, True, True, True),
            ("the bit, a table and the flag on Visual Studio", True, True, True, False, False),
            ("the bit and a table without the flag", True, True, False, False, True),
        ]
        for what, claimed, table, instrumented, mingw, false_claim in rows:
            with self.subTest(what):
                failure = cfg_failure(claimed, table, instrumented, mingw)
                self.assertEqual(failure is not None, false_claim, failure)
                if failure is not None:
                    self.assertTrue(failure.startswith("claims Control Flow Guard"), failure)


if __name__ == "__main__":
    unittest.main()
