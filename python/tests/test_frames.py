"""The frame reader against posetape's rules and against frameplot; the writer's layout."""

import random
import re
import subprocess

import pytest

from kinetron import FrameFileError, frames
from kinetron.frames import BAD_VALUE as BAD

from conftest import SOURCE_DIR

RECORDED = (
    b"FILETYPE: AbsoluteSpeeds; AbsolutePositions\n"
    b"        1,  2,  3,\n"
    b"  16, [  0]512,[ 12]498,[rxT]rxT,\n"
    b"  31, [  0]512,[ 10]501,[  0]300,\n"
)
ABS3 = b"FILETYPE: AbsolutePositions\n1 2 3\n"

# (file, id range, expected ids, expected frames as (delay, positions, speeds), warning count)
READS = [
    (RECORDED, (0, 31), [1, 2, 3],
     [(16, [512, 498, BAD], [0, 12, BAD]), (31, [512, 501, 300], [0, 10, 0])], 2),
    (b'//c\n"filetype: relativepositions"\r\n1 2\r\n10 -20 x\r\n\r\n', (0, 253), [1, 2],
     [(10, [-20, BAD], None)], 1),
    (ABS3 + b"100 500 600 700\n100 1 2 3 4\n/x 5\n", (2, 3), [2, 3],
     [(100, [600, 700], None), (100, [2, 3, 4], None), (100, [], None)], 1),
    (b"FILETYPE: AbsoluteSpeeds; RelativePositions\n7\n-5 [99999999999]-99999999999 [3]\n",
     (0, 253), [7], [(100, [-(2**31)], [2**31 - 1])], 1),
    (ABS3 + b"9 1\x00 2 3\n" + b"8" + b" " * 998 + b"4\n", (0, 253), [1, 2, 3],
     [(9, [1], None), (8, [], None), (4, [], None)], 0),
    # Blank lines end the file only at its end, and only where ids are kept.
    (ABS3 + b"5 1 2 3\n\n \r\n", (0, 253), [1, 2, 3], [(5, [1, 2, 3], None)], 0),
    (ABS3 + b"5 1 2 3\n\n", (9, 9), [], [(5, [], None), (500, [], None)], 0),
    # As a spreadsheet saves it: a byte order mark, every row padded with commas.
    (b'\xef\xbb\xbf"FILETYPE: AbsolutePositions",,\r\n1,2,\r\n10,5,6\r\n,,\r\n', (0, 253), [1, 2],
     [(10, [5, 6], None)], 0),
    # Letters after the digits make no number; a spreadsheet's fraction is cut off.
    (ABS3 + b"1OO 5OO 512.0 500.7\n5e2 512. 2x -0.5\n", (0, 253), [1, 2, 3],
     [(100, [BAD, 512, 500], None), (100, [512, BAD, 0], None)], 4),
]

UNKNOWN = "Got unknown file type 'FILETYPE: AbsolutePositions ' on 1st line of '{}'."
FAILS = [
    (b"", "ERROR: Motors ID's weren't found in frame file '{}'!"),
    (b"FILETYPE: AbsolutePositions \n1\n", UNKNOWN),
    (b"FILETYPE: AbsolutePositions ,\n1\n", UNKNOWN),
    (b"FILETYPE: AbsolutePositions\n1 255\n", "ERROR: Found a bad Motor ID of '255' in file '{}'!"),
    (b"FILETYPE: AbsolutePositions\n1,-2\n", "ERROR: Found a bad Motor ID of '-2' in file '{}'!"),
    (b"FILETYPE: AbsolutePositions\n", "ERROR: Found a bad Motor ID of 'FILETYPE:' in file '{}'!"),
    (b"FILETYPE: AbsolutePositions\n1 2x\n", "ERROR: Found a bad Motor ID of '2x' in file '{}'!"),
    (ABS3 + b"5 1 2 3\n\n6 1 2 3\n", "ERROR: idListSize 3 != posListSize 0"),
    (ABS3 + b"5 1 2\n\n6 1 2 3\n", "ERROR: idListSize 3 != posListSize 2"),
]


@pytest.mark.parametrize("data,id_range,ids,expected,warnings", READS, ids=range(len(READS)))
def test_reader_takes_what_playback_takes(tmp_path, data, id_range, ids, expected, warnings):
    path = tmp_path / "walk.csv"
    path.write_bytes(data)
    motion = frames.read(path, *id_range)
    assert motion.ids == ids
    assert [(f.delay, f.positions, f.speeds) for f in motion.frames] == expected
    assert len(motion.warnings) == warnings
    for warning in motion.warnings:
        assert warning.startswith("Warning: Found a bad ") and warning.endswith(f"'{path}'!")


@pytest.mark.parametrize("data,message", FAILS, ids=range(len(FAILS)))
def test_reader_refuses_a_file_as_playback_does(tmp_path, data, message):
    path = tmp_path / "walk.csv"
    path.write_bytes(data)
    with pytest.raises(FrameFileError) as caught:
        frames.read(str(path))
    assert str(caught.value) == message.format(path)


def test_writer_writes_the_recorded_layout_and_reads_back(tmp_path):
    path = tmp_path / "rec.csv"
    motion = frames.Motion(frames.SPEEDS_ABSOLUTE, [1, 2, 3])
    motion.frames = [
        frames.Frame(16, [512, 498, "rxT"], [0, 12, "rxT"]),
        frames.Frame(31, [512, 501, 300], [0, 10, 0]),
    ]
    frames.write(path, motion)
    assert path.read_bytes() == RECORDED
    again = frames.read(path)
    assert again.frames[1] == motion.frames[1] and again.type == motion.type
    # What would not read back as written: too few values, a negative delay, a text
    # holding a separator, a line longer than the player takes.
    for frame, ids in [
        (frames.Frame(1, [1, 2], [1, 2]), [1, 2, 3]),
        (frames.Frame(-1, [1, 2, 3], [1, 2, 3]), [1, 2, 3]),
        (frames.Frame(1, [1, 2, "a b"], [1, 2, 3]), [1, 2, 3]),
        (frames.Frame(1, [1] * 120, [1] * 120), list(range(120))),
    ]:
        with pytest.raises(ValueError):
            frames.write(path, frames.Motion(frames.SPEEDS_ABSOLUTE, ids, [frame]))


def frameplot_inputs():
    """(name, id range, bytes): the samples, the fuzzing corpus (range in its first two bytes)
    and seeded mutations of both."""
    samples = sorted((SOURCE_DIR / "samples").glob("*.csv"))
    inputs = [(p.name, (0, 253), p.read_bytes()) for p in samples]
    for p in sorted((SOURCE_DIR / "tests/fuzz/corpus/frame_reader").iterdir()):
        data = p.read_bytes()
        inputs.append((p.name, (data[0], data[1]), data[2:]))
    rng = random.Random(18)
    pieces = b"\r \n \0 \" / - [ , rxT 99999999999 \r\n\r\n".split(b" ") + [b" " * 990]
    for i in range(120):
        name, id_range, data = inputs[i % len(inputs)]
        data = bytearray(data)
        for _ in range(rng.randint(1, 4)):
            at = rng.randint(0, len(data))
            if rng.random() < 0.3:
                del data[at : at + rng.randint(1, 8)]
            elif rng.random() < 0.7:
                data[at:at] = rng.choice(pieces)
            else:
                data[at:at] = bytes([rng.randint(0, 255)])
        inputs.append((f"{name}~{i}", id_range, bytes(data)))
    return inputs


def test_reader_agrees_with_frameplot(tmp_path, bin_dir):
    """Messages, servos kept, frames, duration and each servo's lowest and highest position."""
    path, plot = tmp_path / "motion.csv", tmp_path / "motion.svg"
    for name, (start, end), data in frameplot_inputs():
        path.write_bytes(data)
        command = [bin_dir / "frameplot", path, str(start), str(end), "-o", plot]
        out = subprocess.run(command, capture_output=True).stdout.decode("utf-8", "surrogateescape")
        try:
            motion = frames.read(path, start, end)
        except FrameFileError as error:
            assert f"\n{error}\n" in out, name
            continue
        # frameplot, like playback, stops at the first frame that does not fit the ids.
        played = []
        for frame in motion.frames:
            if len(frame.positions) != len(motion.ids):
                break
            played.append(frame)
        warnings = re.findall(r"^Warning: .*$", out, re.M)
        complete = len(played) == len(motion.frames)
        assert warnings == (motion.warnings if complete else motion.warnings[: len(warnings)]), name
        ids = ", ".join(map(str, motion.ids[:256]))
        duration = sum(f.delay for f in played)
        assert f"Servos kept: {len(motion.ids)} ({ids})\nFrames: {len(played)}\n" in out, name
        assert f"Duration: {duration} ms" in out, name
        for entry, id in enumerate(motion.ids[:256]):
            good = [f.positions[entry] for f in played if f.positions[entry] != BAD]
            low, high = (min(good), max(good)) if good else ("-", "-")
            assert re.search(rf"^ *{id} +{low} +{high} ", out, re.M), f"{name}: servo {id}"


@pytest.mark.parametrize(
    "head, expected",
    [
        (b"// motiontape protocol 2 bps 1000000 models 1060 29\r\n", (2, 1000000, [1060, 29])),
        (b"// notes\n// motiontape protocol 1 bps 57600 models 12 12\n", (1, 57600, [12, 12])),
        (b"// motiontape protocol 3 bps 1000000 models 12 12\n", (None, None, None)),
        (b"// motiontape protocol 1 bps 1000000 models 12x\n", (None, None, None)),
        (b"// a comment\n", (None, None, None)),
    ],
)
def test_reader_hands_over_the_motiontape_comment(tmp_path, head, expected):
    path = tmp_path / "motion.csv"
    path.write_bytes(head + b"FILETYPE: AbsolutePositions\n1, 2\n10, 2048, 2048\n")
    motion = frames.read(path, 2, 2)
    assert (motion.protocol, motion.bps, motion.models) == expected
    assert motion.ids == [2] and motion.frames[0].positions == [2048]
