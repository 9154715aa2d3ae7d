"""Waits that let other threads run, link failures in the tuner's polls as
LinkError, and files that cannot be used as OSError with errno, strerror and
filename."""
import errno
import os
import threading
import time

import pytest

import zugen4
from zugen4 import TZuGen4ModesCommon as Modes


class Ticker:
    """A second Python thread noting the time every millisecond while it may run."""

    def __init__(self):
        self.ticks = []
        self._stop = False
        self._thread = threading.Thread(target=self._tick, daemon=True)

    def _tick(self):
        while not self._stop:
            self.ticks.append(time.monotonic())
            time.sleep(0.001)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop = True
        self._thread.join()

    def during(self, call, *args):
        """How often the other thread ticked well inside the call to call(*args)."""
        start = time.monotonic()
        call(*args)
        end = time.monotonic()
        return sum(start + 0.02 < t < end - 0.02 for t in self.ticks)


def test_waits_and_link_calls_let_other_threads_run():
    gen = zugen4.Generator(sim=zugen4.Simulator(realtime=True))
    with Ticker() as ticker:
        assert ticker.during(zugen4.wait_messages, 300) > 50
        gen.activate()
        with gen.batch():
            gen.ChA.Mode = Modes.ZGMdC_gen
            gen.ChB.Mode = Modes.ZGMdC_gen
        # An update of both channels: the instrument's 20 ms after each of 20 commands.
        assert ticker.during(gen.update) > 50
        assert ticker.during(setattr, gen.ChA, "Mode", Modes.ZGMdC_IntModulation) > 50
    assert gen.Active


def tuning(sim):
    gen = zugen4.Generator(sim=sim)
    gen.activate()
    with gen.batch():
        gen.ChB.Mode = Modes.ZGMdC_tuning
        gen.ChB.Tuner.ADCTimerInterval = 50
        gen.ChB.Tuner.ADCTimerEnabled = True
    return gen


def test_a_link_failure_in_a_tuner_poll_is_a_link_error():
    gen = tuning(zugen4.Simulator())
    gen.sim.unplug()
    with pytest.raises(zugen4.LinkError) as info:
        gen.sim.advance(200)
    assert info.value.status == zugen4.FT_IO_ERROR and info.value.status_name == "FT_IO_ERROR"

    gen = tuning(zugen4.Simulator(realtime=True))
    gen.sim.unplug()
    with pytest.raises(zugen4.LinkError):
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            zugen4.wait_messages(100)
            zugen4.process_messages()


def test_files_that_cannot_be_used_raise_oserror_with_errno_strerror_and_filename(tmp_path):
    gen = zugen4.Generator(sim=True)
    gen.ChB.IntModulation.Fm = 500
    gen.save(tmp_path / "whole.zg4")
    whole = (tmp_path / "whole.zg4").read_bytes()
    (tmp_path / "cut.zg4").write_bytes(whole[:200])
    (tmp_path / "ro.zg4").write_bytes(whole)
    os.chmod(tmp_path / "ro.zg4", 0o444)
    os.mkfifo(tmp_path / "pipe.zg4")
    gen.ChB.IntModulation.Fm = 700
    cases = [
        (gen.load, "missing.zg4", FileNotFoundError, errno.ENOENT, "No such file or directory"),
        (gen.save, "no/such/dir.zg4", FileNotFoundError, errno.ENOENT, "No such file or directory"),
        (gen.load, "cut.zg4", OSError, errno.EINVAL,
         f"it ends at byte 200, inside the settings record (a whole settings file is {len(whole)} bytes)"),
        (gen.load, "pipe.zg4", OSError, errno.EINVAL, "it is a pipe, not a regular file"),
        (gen.save, "ro.zg4", PermissionError, errno.EACCES, "the file is read-only"),
    ]
    for call, name, kind, number, reason in cases:
        path = str(tmp_path / name)
        with pytest.raises(kind) as info:
            call(path)
        assert (info.value.errno, info.value.strerror, info.value.filename) == (number, reason, path), name
    assert gen.ChB.IntModulation.Fm == 700
    assert (tmp_path / "ro.zg4").read_bytes() == whole
