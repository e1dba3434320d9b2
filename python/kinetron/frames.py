"""Frame files: the motions that posetape records and plays, read and written with the rules
of its player.

A frame file is text: a type line (after any lines that begin with '/'), an ID line, then one
line per frame: a delay in milliseconds and, per column of the ID line, a position or a
bracketed speed and a position. :func:`read` gives what the player would take from a file,
:func:`write` writes the layout of a recording.
"""

from __future__ import annotations

import operator
import os
import re
from dataclasses import dataclass, field
from typing import List, Optional

from .errors import FrameFileError

#: Type text of a recording: per servo a speed and an absolute position.
SPEEDS_ABSOLUTE = "FILETYPE: AbsoluteSpeeds; AbsolutePositions"
#: Type text: per servo an absolute position.
ABSOLUTE = "FILETYPE: AbsolutePositions"
#: Type text: per servo a speed and a position relative to where the servo stood.
SPEEDS_RELATIVE = "FILETYPE: AbsoluteSpeeds; RelativePositions"
#: Type text: per servo a position relative to where the servo stood.
RELATIVE = "FILETYPE: RelativePositions"
#: The four type texts.
TYPES = (SPEEDS_ABSOLUTE, ABSOLUTE, SPEEDS_RELATIVE, RELATIVE)

#: A value that is not a number; playback never sends it.
BAD_VALUE = -9999
#: Delay of a frame line without any value.
BLANK_DELAY = 500
#: Delay taken for a delay that is not a number of 0 or more.
BAD_DELAY = 100
#: The player takes at most this many characters a line, its line feed included (a carriage
#: return before the line feed not counted); the rest of a longer line is a line of its own.
LINE_CHARS_MAX = 999

_INT_MAX = 2**31 - 1
_INT_MIN = -(2**31)
_TOKEN = re.compile(rb'[^ ,\[\]"\t\n]+')
# A spreadsheet's "512.0" or "512." is 512; any other text after the digits ("5OO", "2x",
# "5e2") makes the token no number.
_NUMBER = re.compile(rb"[ \t\n\r\v\f]*([+-]?[0-9]+)(?:\.[0-9]*)?")
_TYPES_BY_TEXT = {text.lower().encode("ascii"): text for text in TYPES}
_MOTIONTAPE = re.compile(rb"// motiontape(?:[ \t\r\n].*)?", re.DOTALL)
_MOTIONTAPE_COMMENT = re.compile(
    rb"// motiontape[ \t]+protocol[ \t]+([12])[ \t]+bps[ \t]+([1-9][0-9]*)[ \t]+models"
    rb"((?:[ \t]+[1-9][0-9]*)+)[ \t\r\n]*"
)


@dataclass
class Frame:
    """One frame line as the player takes it.

    ``delay``: milliseconds to wait after the positions are sent. ``positions``: per kept
    servo, in the order of :attr:`Motion.ids`, then any value past the last column of the ID
    line; relative types keep their offsets. ``speeds``: per kept servo, as written (None
    for types without speeds). A value that did not convert is :data:`BAD_VALUE`. Playback
    stops at a frame whose count of positions differs from the number of ids."""

    delay: int
    positions: List[int]
    speeds: Optional[List[int]] = None


@dataclass
class Motion:
    """A frame file as the player takes it.

    ``type``: one of :data:`TYPES`. ``ids``: the ids of the ID line within the id range, in
    file order, duplicates included. ``frames``: every frame line; blank lines at the end of
    a file that keeps ids are left out, as the player ends there (with no id kept, a blank
    line is a frame of 500 ms). ``warnings``: the player's warning texts, in file order.

    A file that motiontape wrote names what its numbers mean in a comment line before the type
    line (``// motiontape protocol 2 bps 1000000 models 1060 1060``): ``protocol`` (1 or 2),
    ``bps`` (the line speed) and ``models`` (one model number per column of the ID line,
    columns outside the id range included) come from it; all None for a file without it, or
    whose comment line does not read so."""

    type: str
    ids: List[int]
    frames: List[Frame] = field(default_factory=list)
    warnings: List[str] = field(default_factory=list)
    protocol: Optional[int] = None
    bps: Optional[int] = None
    models: Optional[List[int]] = None

    @property
    def has_speeds(self):
        """True for the types whose columns hold a speed and a position."""
        return _canonical_type(self.type) in (SPEEDS_ABSOLUTE, SPEEDS_RELATIVE)

    @property
    def relative(self):
        """True for the types whose positions are offsets to where each servo stood."""
        return _canonical_type(self.type) in (SPEEDS_RELATIVE, RELATIVE)


def _canonical_type(text):
    canonical = _TYPES_BY_TEXT.get(str(text).encode("ascii", "replace").lower())
    if canonical is None:
        raise ValueError(f"unknown frame file type {text!r}")
    return canonical


def _lines(data):
    """The file's lines as the player reads them: at most LINE_CHARS_MAX characters, a CR
    right before a LF dropped, the LF kept, and the line cut at its first NUL."""
    start, size = 0, len(data)
    while start < size:
        feed = data.find(b"\n", start)
        if feed < 0:
            body, end, ending = data[start:], size, b""
        elif feed > start and data[feed - 1] == 0x0D:
            body, end, ending = data[start : feed - 1], feed + 1, b"\n"
        else:
            body, end, ending = data[start:feed], feed + 1, b"\n"
        if len(body) + len(ending) > LINE_CHARS_MAX:
            line, start = data[start : start + LINE_CHARS_MAX], start + LINE_CHARS_MAX
        else:
            line, start = body + ending, end
        yield line.split(b"\0", 1)[0]


def _convert(token):
    """The token's number (leading blanks, a sign, digits, a fraction cut off), saturated to
    32 bits; None for any other token."""
    match = _NUMBER.fullmatch(token)
    if match is None:
        return None
    return max(_INT_MIN, min(_INT_MAX, int(match.group(1))))


def _text(raw):
    return raw.decode("utf-8", "surrogateescape")


def read(path, id_start=0, id_end=253):
    """Reads a frame file as posetape's player does and returns a :class:`Motion`.

    Ids from ``id_start`` to ``id_end`` (0..255 each) are kept; the other columns are passed
    over. Raises :class:`kinetron.FrameFileError`, with the player's message, for an empty
    file, an unknown type line, a bad id, or a blank line between frames of a file that keeps
    ids; OSError when the file cannot be read. A frame whose count of positions differs from
    the ids is kept for the caller to refuse. Texts from
    the file are decoded as UTF-8, undecodable bytes kept as with ``os.fsdecode``."""
    id_start, id_end = operator.index(id_start), operator.index(id_end)
    for name, value in (("id_start", id_start), ("id_end", id_end)):
        if not 0 <= value <= 255:
            raise ValueError(f"{name} {value} is outside 0..255")
    name = os.fsdecode(os.fspath(path))
    with open(path, "rb") as file:
        data = file.read()
    # A spreadsheet may begin the file with the UTF-8 byte order mark; it belongs to no line.
    lines = _lines(data[3:] if data.startswith(b"\xef\xbb\xbf") else data)

    line = next(lines, None)
    if line is None:
        raise FrameFileError(f"ERROR: Motors ID's weren't found in frame file '{name}'!")
    comment = None
    while line.startswith(b"/"):
        if comment is None and _MOTIONTAPE.fullmatch(line):
            comment = _MOTIONTAPE_COMMENT.fullmatch(line) or False
        following = next(lines, None)
        if following is None:
            break  # the last comment line stands as the type line
        line = following

    if line.startswith(b'"'):
        line = line[1:]
    for ending in (b"\n", b"\r", b"\n"):
        if line.endswith(ending):
            line = line[:-1]
    # A spreadsheet pads every row with commas to the width of its widest row.
    line = line.rstrip(b",")
    if line.endswith(b'"'):
        line = line[:-1]
    file_type = _TYPES_BY_TEXT.get(line.lower())
    if file_type is None:
        raise FrameFileError(f"Got unknown file type '{_text(line)}' on 1st line of '{name}'.")
    motion = Motion(file_type, [])
    if comment:
        motion.protocol, motion.bps = int(comment.group(1)), int(comment.group(2))
        motion.models = [int(model) for model in comment.group(3).split()]

    # Without an ID line the type line is read as one, and fails at its first word.
    id_line = next(lines, line)
    kept = []
    for token in _TOKEN.findall(id_line):
        id = _convert(token)
        if id is None or not 0 <= id <= 254:
            raise FrameFileError(
                f"ERROR: Found a bad Motor ID of '{_text(token)}' in file '{name}'!"
            )
        kept.append(id_start <= id <= id_end)
        if kept[-1]:
            motion.ids.append(id)

    has_speeds = motion.has_speeds
    per_column = 2 if has_speeds else 1
    blanks_at_end = 0
    for line in lines:
        tokens = _TOKEN.findall(line)
        frame = Frame(BLANK_DELAY, [], [] if has_speeds else None)
        motion.frames.append(frame)
        if not tokens:
            blanks_at_end += 1
            continue
        if blanks_at_end and motion.ids:
            # A blank line between frames: playback refuses the file at its first frame that
            # does not fit the ids, that blank line at the latest.
            misfit = next(f for f in motion.frames if len(f.positions) != len(motion.ids))
            raise FrameFileError(
                f"ERROR: idListSize {len(motion.ids)} != posListSize {len(misfit.positions)}"
            )
        blanks_at_end = 0
        delay = _convert(tokens[0])
        if delay is None or delay < 0:
            motion.warnings.append(
                "Warning: Found a bad movement delay value of "
                f"'{_text(tokens[0])}' in file '{name}'!"
            )
            delay = BAD_DELAY
        frame.delay = delay
        for index, token in enumerate(tokens[1:]):
            value = _convert(token)
            if value is None:
                motion.warnings.append(
                    f"Warning: Found a bad Motor value of '{_text(token)}' in file '{name}'!"
                )
                value = BAD_VALUE
            column, is_speed = index // per_column, has_speeds and index % 2 == 0
            if column < len(kept) and not kept[column]:
                continue
            if is_speed:
                # A speed past the last column belongs to no servo and is not counted.
                if column < len(kept):
                    frame.speeds.append(value)
            else:
                frame.positions.append(value)
    # Blank lines left by an editor or a spreadsheet after the last frame; with no id kept a
    # blank line is a frame like any other.
    if motion.ids and blanks_at_end:
        del motion.frames[-blanks_at_end:]
    return motion


def _value_text(value, what):
    if isinstance(value, str):
        raw = value.encode("utf-8", "surrogateescape")
        if _TOKEN.fullmatch(raw) is None or b"\r" in raw or b"\0" in raw:
            raise ValueError(f"{what} {value!r} is not one token of the frame file")
        return f"{value:>3}"
    return f"{operator.index(value):3d}"


def write(path, motion):
    """Writes ``motion`` in the layout of a recording: the type line, the ID line ("%3d," per
    id after six spaces) and per frame "%4d, " with the delay and, per servo, "[speed]position,"
    (types with speeds) or "position,". A value may be a number or a failure text such as
    "rxT"; numbers take at least three columns.

    Raises ValueError, before the file is opened, for what the player would not read back as
    written: an unknown type, an id outside 0..254, a negative delay, a frame without exactly
    one position (and speed) per id, or a line longer than the player takes."""
    file_type = _canonical_type(motion.type)
    has_speeds = file_type in (SPEEDS_ABSOLUTE, SPEEDS_RELATIVE)
    for id in motion.ids:
        if not isinstance(id, int) or not 0 <= id <= 254:
            raise ValueError(f"id {id!r} is outside 0..254")
    lines = [file_type + "\n", "      " + "".join(f"{id:3d}," for id in motion.ids) + "\n"]
    for number, frame in enumerate(motion.frames, 1):
        if not isinstance(frame.delay, int) or frame.delay < 0:
            raise ValueError(f"frame {number}: delay {frame.delay!r} is not a number of 0 or more")
        count = len(motion.ids)
        if len(frame.positions) != count or (has_speeds and len(frame.speeds or ()) != count):
            raise ValueError(f"frame {number} does not hold one value of each kind per id")
        line = f"{frame.delay:4d}, "
        for column in range(count):
            position = _value_text(frame.positions[column], f"frame {number}: position")
            if has_speeds:
                speed = _value_text(frame.speeds[column], f"frame {number}: speed")
                line += f"[{speed}]{position},"
            else:
                line += f"{position},"
        lines.append(line + "\n")
    for number, line in enumerate(lines, 1):
        if len(line.encode("utf-8", "surrogateescape")) > LINE_CHARS_MAX:
            raise ValueError(
                f"line {number} would hold {len(line)} characters; the player takes "
                f"{LINE_CHARS_MAX}"
            )
    with open(path, "w", encoding="utf-8", errors="surrogateescape") as file:
        file.writelines(lines)
