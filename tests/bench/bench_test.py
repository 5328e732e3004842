#!/usr/bin/env python3
"""tools/bench's CPU readings from stand-in /proc folders: a reading it cannot
make, or one of zeros only, fails by name instead of giving a figure of
nothing; a thread that ends between two readings is counted as ended."""
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "lib"))
from bench import BenchError, cpu_between, thread_times  # noqa: E402

PID = 4242


def stand_in(root, threads):
    """A /proc with one process whose threads read {tid: schedstat text or None (unreadable)}."""
    for thread, text in threads.items():
        task = root / str(PID) / "task" / str(thread)
        task.mkdir(parents=True)
        if text is not None:
            (task / "schedstat").write_text(text)
    return root


class CpuReadings(unittest.TestCase):
    def read(self, threads):
        with tempfile.TemporaryDirectory() as folder:
            return thread_times(PID, stand_in(Path(folder), threads))

    def test_a_reading_of_nothing_fails(self):
        with self.assertRaisesRegex(BenchError, "no thread of process 4242 has a readable"):
            self.read({PID: None, PID + 1: "not a number\n"})

    def test_a_reading_of_zeros_fails(self):
        with self.assertRaisesRegex(BenchError, "every thread of process 4242 reads 0 ns"):
            self.read({PID: "0 0 0\n", PID + 1: "0 5 1\n"})

    def test_threads_are_read_each_by_its_id(self):
        self.assertEqual(self.read({PID: "1500000 9 9\n", PID + 1: "2500000 9 9\n"}),
                         {str(PID): 1500000, str(PID + 1): 2500000})

    def test_a_thread_that_ended_between_readings_is_counted(self):
        before = {"1": 1_000_000, "2": 5_000_000}
        used, ended = cpu_between(before, {"1": 3_000_000, "3": 500_000})
        self.assertEqual((used, ended), (2.5, 1))


if __name__ == "__main__":
    unittest.main()
