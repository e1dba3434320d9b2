"""The bus on the simulated chain, inside the process and behind servosim's pseudo-terminal."""

import os
import signal
import subprocess
import sys
import threading
import time

import pytest

import kinetron
from kinetron import BusError

from conftest import SOURCE_DIR

PYTHON_DIR = SOURCE_DIR / "python"


def open_bus(device):
    bus = kinetron.Bus(device)
    bus.change_baud(35)
    return bus


def test_exchanges_on_the_simulated_chain():
    with kinetron.Bus("sim:ids=1-3,seed=1") as bus:  # at baud number 35 from the start
        assert bus.ping(1) and not bus.ping(9) and bus.status is None and bus.latency_ms == 0
        assert bus.read_block(1, kinetron.ADDR_PRESENT_POSITION, 4) == bytes([0, 2, 0, 0])
        bus.write_block(2, kinetron.ADDR_GOAL_POSITION, [0x20, 0x03, 100, 0])
        assert bus.read_word(2, kinetron.ADDR_MOVING_SPEED) == 100 and bus.status == 0
        assert bus.read_block(2, 48, 3)[2] == 0 and bus.status == kinetron.ERRBIT_RANGE
        assert kinetron.alarm_names(bus.status | kinetron.ERRBIT_VOLTAGE) == ["voltage", "range"]
        assert bus.read_word(1, kinetron.ADDR_PRESENT_POSITION) == 512 and bus.result == 1
        bus.write_byte(2, kinetron.ADDR_LED, 1)
        assert bus.read_byte(2, kinetron.ADDR_LED) == 1
        bus.sync_write(kinetron.ADDR_GOAL_POSITION, {1: 600, 3: 400})
        assert (bus.result, bus.read_word(1, 30), bus.read_word(3, 30)) == (0, 600, 400)
        bus.sync_write(kinetron.ADDR_LED, [(1, 1), (3, 1)], width=1)
        assert bus.read_byte(3, kinetron.ADDR_LED, tries=3) == 1
        with pytest.raises(BusError) as caught:
            bus.read_word(9, 36, tries=2)
        error = caught.value
        assert (error.code, error.name, error.text, bus.result) == (6, "RX_TIMEOUT", "rxT", 6)
        # Out of range: ValueError, and nothing reaches the line (the last result stays).
        for call, args in [
            (bus.read_word, (254, 36)), (bus.read_byte, (1, 256)), (bus.read_word, (1, 36, 0)),
            (bus.write_byte, (1, 25, 256)), (bus.write_word, (1, 30, -1)),
            (bus.write_word, (255, 30, 0)),
            (bus.ping, (-1,)), (bus.reset, (255,)), (bus.change_baud, (256,)),
            (bus.sync_write, (30, {1: 70000})), (bus.sync_write, (30, {254: 0})),
            (bus.sync_write, (30, {1: 0}, 3)), (bus.sync_write, (30, dict.fromkeys(range(84), 0))),
            (bus.sync_write, (25, dict.fromkeys(range(126), 0), 1)),
            (bus.read_block, (1, 0, 0)), (bus.read_block, (1, 0, 254)),
            (bus.write_block, (1, 30, b"")), (bus.write_block, (1, 0, bytes(253))),
            (bus.write_block, (1, 30, [256])),
        ]:
            with pytest.raises(ValueError):
                call(*args)
            assert bus.result == 6, call.__name__
        # A write the servo refuses raises, naming the bits; without a reply it is silent.
        for call, args, bits in [(bus.write_byte, (2, kinetron.ADDR_LED, 2), "range"),
                                 (bus.write_block, (2, kinetron.ADDR_MOVING, [0]), "instr")]:
            with pytest.raises(BusError, match=f"refused by the servo: {bits}"):
                call(*args)
        bus.write_byte(kinetron.ID_BROADCAST, kinetron.ADDR_LED, 2)
        bus.sync_write(30, dict.fromkeys(range(83), 1))  # a full packet fits
        assert bus.result == 0


def test_retries_reset_and_speed():
    with open_bus("sim:ids=1-3,flaky=2") as bus:
        with pytest.raises(BusError):
            bus.read_word(2, 36)
        assert bus.read_word(2, 36, tries=2) == 512
        bus.reset(3)  # back to id 1 at baud number 1
        assert not bus.ping(3)
        bus.change_baud(1)
        assert bus.ping(1) and bus.read_byte(1, kinetron.ADDR_BAUD) == 1


def test_one_bus_per_process_and_the_device_variable(monkeypatch, capfd):
    monkeypatch.setenv("KINETRON_DEVICE", "/dev/no-such-adapter")
    with pytest.raises(BusError, match="unknown option .bogus=1"):
        kinetron.Bus("sim:bogus=1")
    with pytest.raises(BusError, match="/dev/no-such-adapter"):
        kinetron.Bus()
    assert capfd.readouterr().err == "", "the reason is said once, in the exception"
    bus = kinetron.Bus("sim")
    assert os.environ["KINETRON_DEVICE"] == "/dev/no-such-adapter"
    with pytest.raises(BusError, match="already open"):
        kinetron.Bus("sim")
    bus.close()
    with pytest.raises(BusError, match="closed"):
        bus.ping(1)
    monkeypatch.delenv("KINETRON_DEVICE")
    with kinetron.Bus("sim"):
        assert "KINETRON_DEVICE" not in os.environ


def test_threads_take_turns():
    errors = []

    def reader(id):
        try:
            for _ in range(40):
                assert bus.read_byte(id, kinetron.ADDR_ID) == id
        except Exception as error:  # reported below, with the thread's id
            errors.append((id, error))

    with open_bus("sim:ids=1-6,timing=wire") as bus:
        threads = [threading.Thread(target=reader, args=(id,)) for id in range(1, 7)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    assert errors == []


def test_servosim_keeps_the_servos_between_opens(bin_dir):
    server = subprocess.Popen([bin_dir / "servosim", "ids=1-2"], stdout=subprocess.PIPE, text=True)
    try:
        path = server.stdout.readline().strip()
        with open_bus(path) as bus:
            bus.write_word(2, kinetron.ADDR_GOAL_POSITION, 300)
        with open_bus(path) as bus:
            assert bus.read_word(2, kinetron.ADDR_GOAL_POSITION, tries=3) == 300
    finally:
        server.terminate()
        server.wait(10)


def run_python(code_or_args, **env):
    """Runs a Python child with the package on its path; env None removes a variable."""
    child_env = dict(os.environ, PYTHONPATH=str(PYTHON_DIR))
    for name, value in env.items():
        child_env.pop(name, None) if value is None else child_env.__setitem__(name, value)
    args = ["-c", code_or_args] if isinstance(code_or_args, str) else code_or_args
    command = [sys.executable, *args]
    return subprocess.run(command, capture_output=True, text=True, env=child_env, timeout=60)


def test_library_search_and_examples(tmp_path):
    code = "import kinetron.frames\nfrom kinetron import Bus"
    run = run_python(code, KINETRON_LIBRARY="/no/lib.so")
    assert "ImportError" in run.stderr and "KINETRON_LIBRARY: /no/lib.so" in run.stderr
    library = os.environ.get("KINETRON_LIBRARY", "")
    if os.path.dirname(library) == str(SOURCE_DIR / "build" / "lib"):  # the README's build folder
        code = "import kinetron\nb = kinetron.Bus('sim')\nb.change_baud(35)\n"
        code += "print(b.read_word(1, 36))"
        assert run_python(code, KINETRON_LIBRARY=None).stdout == "512\n"
    examples = PYTHON_DIR / "examples"
    sample = SOURCE_DIR / "samples" / "sway_relative.csv"
    play = [str(examples / "play_frames.py"), str(sample), "0", "31", "35", "0"]
    run = run_python(play, KINETRON_DEVICE="sim:ids=1-2")
    assert run.returncode == 0 and "frame 2: {1: 532, 2: 492}\nframe 3:" in run.stdout, run.stderr
    watch = [str(examples / "watch_positions.py"), "1", "3", "35", "2"]
    run = run_python(watch, KINETRON_DEVICE="sim:ids=1-2")
    assert run.returncode == 0 and run.stdout.endswith("|512 512 rxT \n"), run.stderr
    # The recorder runs until Ctrl-C; what it wrote reads back as a recording.
    recording = tmp_path / "rec.csv"
    env = dict(os.environ, PYTHONPATH=str(PYTHON_DIR), KINETRON_DEVICE="sim:ids=2-3,pos=300")
    record = [sys.executable, str(examples / "record.py"), str(recording), "1", "4"]
    child = subprocess.Popen(record, env=env, stdout=subprocess.PIPE, text=True)
    assert child.stdout.readline() == "found 2 servos at baud number 35: [2, 3]\n"
    def lines_written():
        return recording.read_text().count("\n") if recording.exists() else 0

    while child.poll() is None and lines_written() < 5:
        time.sleep(0.01)
    child.send_signal(signal.SIGINT)
    child.communicate(timeout=30)  # a full pipe of progress lines would hold the child up
    assert child.returncode == 0
    motion = kinetron.frames.read(recording)
    assert motion.ids == [2, 3] and len(motion.frames) >= 3
    assert {(tuple(f.positions), tuple(f.speeds)) for f in motion.frames} == {((300, 300), (0, 0))}


def test_every_model_on_a_mixed_chain(capfd):
    with kinetron.Bus("sim:ids=1-3+4-6#1060,delay=0", bps=1000000) as bus:
        assert bus.ping_all() == {4: (1060, 46), 5: (1060, 46), 6: (1060, 46)}
        assert bus.identify(2, protocol=2) is None and not bus.ping(1)
        five = bus.servo(5)
        assert (five.model, five.protocol, "secondary_id" in five.registers()) == (1060, 2, True)
        before = bus.sync_read([4, 5, 6], "present_position")
        assert before == bus.sync_read([4, 5, 6], "present_position", fast=True) == {
            i: five.read("present_position") for i in (4, 5, 6)}
        assert bus.sync_read([4, 7], 132, 4) == {4: before[4].to_bytes(4, "little"), 7: None}
        five.write("torque_enable", 1)
        bus.sync_write("goal_position", {5: before[5] + 341})
        assert abs(five.read_units("goal_position") - (before[5] + 341) * 360 / 4096) < 1e-9
        with pytest.raises(BusError, match="access error") as refused:
            five.write("id", 9)
        assert (refused.value.code, refused.value.status) == (None, 7)
        bus.change_baud(35)
        one = bus.servo(2)
        assert (one.model, one.protocol, one.read_units("present_position")) == (12, 1, 150.0)
        assert bus.sync_read([1, 2], "present_position", protocol=1) == {1: 512, 2: 512}
        assert bus.bulk_read([(1, "present_position")], protocol=1) == {1: 512}
        for call, args, kwargs in [
            (bus.sync_read, ([4, 5], "present_position"), {"model": 12}),
            (bus.sync_read, ([1, 1], 36, 2), {"protocol": 1}),
            (bus.sync_read, ([1], 36, 2), {"protocol": 1, "fast": True}),
            (one.write, ("goal_position", 1024), {}),
            (one.write, ("present_position", 1), {}),
            (bus.factory_reset, (1,), {"protocol": 1, "keep": "id"}),
            (bus.sync_write, (116, {5: 100}), {"protocol": 2}),
        ]:
            with pytest.raises(ValueError):
                call(*args, **kwargs)
    with kinetron.Bus("sim:ids=1-3#29,trace") as bus:  # one protocol 1.0 BULK_READ
        assert bus.sync_read([1, 3], 36, 2, protocol=1) == dict.fromkeys([1, 3], b"\x00\x08")
    assert "BULK_READ" in capfd.readouterr().err
    assert kinetron.models.get(1060).register("present_position").address == 132
    with pytest.raises(ValueError):
        kinetron.models.get(99999)
