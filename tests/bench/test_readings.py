"""tools/bench's CPU readings from stand-in /proc folders: a reading it cannot
make, or one of zeros only, fails by name instead of giving a figure of
nothing; a thread that ends between two readings is counted as ended."""
import pytest
from bench import BenchError, cpu_between, thread_times

PID = 4242


def read(root, threads):
    """thread_times of one process whose threads read {tid: schedstat text, or None: unreadable}."""
    for thread, text in threads.items():
        task = root / str(PID) / "task" / str(thread)
        task.mkdir(parents=True)
        if text is not None:
            (task / "schedstat").write_text(text)
    return thread_times(PID, root)


def test_a_reading_of_nothing_fails(tmp_path):
    with pytest.raises(BenchError, match="no thread of process 4242 has a readable"):
        read(tmp_path, {PID: None, PID + 1: "not a number\n"})


def test_a_reading_of_zeros_fails(tmp_path):
    with pytest.raises(BenchError, match="every thread of process 4242 reads 0 ns"):
        read(tmp_path, {PID: "0 0 0\n", PID + 1: "0 5 1\n"})


def test_threads_are_read_each_by_its_id(tmp_path):
    assert read(tmp_path, {PID: "1500000 9 9\n", PID + 1: "2500000 9 9\n"}) == {str(PID): 1500000,
                                                                               str(PID + 1): 2500000}


def test_a_thread_that_ended_between_readings_is_counted():
    assert cpu_between({"1": 1_000_000, "2": 5_000_000}, {"1": 3_000_000, "3": 500_000}) == (2.5, 1)
