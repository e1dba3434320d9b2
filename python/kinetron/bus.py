"""The servo bus: one line per process, opened by :class:`Bus`."""

import ctypes
import operator
import os
import threading
import weakref

from . import _library
from .errors import BusError
from .every_model import EveryModel, _protocol
from .registers import (
    BAUDNUM_MAX,
    ERRBIT_ANGLE,
    ERRBIT_CHECKSUM,
    ERRBIT_INSTRUCTION,
    ERRBIT_RANGE,
    ID_BROADCAST,
    ID_HIGHEST_SERVO,
    INST_PING,
    INST_RESET,
    INST_SYNC_WRITE,
    PACKET_PARAMS_MAX,
    READ_BLOCK_MAX,
    WRITE_BLOCK_MAX,
    Result,
    alarm_names,
    result_name,
    result_text,
)

_lib = _library.lib

# The library holds one line, one packet under construction and one result code for the
# whole process, and lets one thread in at a time: every call goes through this lock.
_lock = threading.RLock()
# Error bits of a reply with which a servo refuses a write: the value changed nothing. The
# others (voltage, overheat, overload) are alarms that stand whatever was written.
_REFUSED_BITS = ERRBIT_ANGLE | ERRBIT_RANGE | ERRBIT_CHECKSUM | ERRBIT_INSTRUCTION
_open_bus = None  # weak reference to the Bus that holds the line


def _integer(value, what, lowest, highest):
    """value as an int, checked against lowest..highest before anything is sent."""
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{what} must be an integer, not {type(value).__name__}") from None
    if not lowest <= number <= highest:
        raise ValueError(f"{what} {number} is outside {lowest}..{highest}")
    return number


def _close_line():
    with _lock:
        _lib.bus_close()


class Bus(EveryModel):
    """The servo bus: the line that ``device`` names, open until :meth:`close`.

    ``device`` takes the values of the variable KINETRON_DEVICE: a serial port
    ("/dev/ttyUSB0", "COM5"), "sim" or "sim:OPTIONS" for the simulated chain inside this
    process, or "" for the first USB serial adapter found. None takes the variable's value
    (and, when it is unset, the adapter search); the variable is read, never written.

    The line opens at baud number ``baudnum`` (0..255; 35, the tools' default, unless given).
    Factory-new servos, and servos after :meth:`reset`, listen at baud number 1. A bus is a
    context manager. The library holds one line per process: opening a second bus while one
    is open raises :class:`BusError`, and so does a failed open, with the library's reason
    (the library prints nothing). Every method may be called from any thread; the calls take
    turns.

    ``bps`` opens the line at that many bits per second instead (protocol 2.0 servos:
    their baud-rate register's rate; factory-new ones listen at 57600).

    ``device`` (attribute): the device as it was chosen ("" for the adapter search).
    """

    _lock = _lock

    def __init__(self, device=None, baudnum=35, bps=None):
        global _open_bus
        if device is None:
            device = os.environ.get("KINETRON_DEVICE")
        if device is not None:
            device = os.fsdecode(os.fspath(device))
            if "\0" in device:
                raise ValueError("device holds a NUL character")
        baudnum = _integer(baudnum, "baud number", 0, BAUDNUM_MAX)
        with _lock:
            if _open_bus is not None and _open_bus() is not None and _open_bus()._open:
                raise BusError("a bus is already open in this process; close it first")
            self._open = False
            if not _lib.bus_open_device(None if device is None else os.fsencode(device)):
                _lib.bus_close()
                raise BusError(
                    _library.last_error() or f"cannot open {device or 'the USB serial adapter'}"
                )
            if bps is None:
                _lib.bus_change_baud(baudnum)
            elif not _lib.bus_set_bps(int(bps)):
                _lib.bus_close()
                raise BusError(_library.last_error() or f"the line refuses {bps} bps")
            reason = _library.last_error()
            if reason:
                _lib.bus_close()
                raise BusError(reason)
            self._open = True
            self._learnt = {}  # (protocol, id): (model, firmware), learnt by PING
            self.device = device or ""
            _open_bus = weakref.ref(self)
            # A bus dropped without close() still gives its line back.
            self._finalizer = weakref.finalize(self, _close_line)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __repr__(self):
        state = "open" if self._open else "closed"
        return f"<kinetron.Bus {self.device!r} {state}>"

    @property
    def closed(self):
        """True once :meth:`close` has been called."""
        return not self._open

    def close(self):
        """Lets the last packet leave the line, then closes it. Calling it again does nothing."""
        with _lock:
            if self._open:
                self._open = False
                self._finalizer.detach()
                _lib.bus_close()

    def _check_open(self):
        if not self._open:
            raise BusError("the bus is closed")

    @property
    def result(self):
        """Result code of the last exchange on the bus (see :class:`kinetron.Result`)."""
        with _lock:
            return _lib.bus_result()

    @property
    def status(self):
        """The error byte of the last good reply (``ERRBIT_*``; 0: no alarm; see
        :func:`kinetron.alarm_names`), or None when the last exchange had no good reply or
        expected none."""
        with _lock:
            status = _lib.kinetron_last_status()
        return None if status < 0 else status

    @property
    def latency_ms(self):
        """The adapter's latency timer that the line works with, in ms: that of a USB adapter
        (16 where it cannot be read), MS for "sim:latency=MS", 0 for any other line."""
        with _lock:
            self._check_open()
            return _lib.kinetron_latency_ms()

    def change_baud(self, baudnum):
        """Sets the line speed to baud number ``baudnum`` (0..255): 2000000 / (baudnum + 1)
        bits per second. Raises :class:`BusError` when the line refuses the speed."""
        baudnum = _integer(baudnum, "baud number", 0, BAUDNUM_MAX)
        with _lock:
            self._check_open()
            # bus_change_baud returns nothing; it clears the last-error text on entry and
            # sets it only when the line refuses the speed.
            _lib.bus_change_baud(baudnum)
            reason = _library.last_error()
            if reason:
                raise BusError(reason)

    def _read(self, function, id, address, tries, what):
        id = _integer(id, "id", 0, ID_HIGHEST_SERVO)
        address = _integer(address, "address", 0, 255)
        tries = _integer(tries, "tries", 1, 1 << 30)
        with _lock:
            self._check_open()
            for _ in range(tries):
                value = function(id, address)
                code = _lib.bus_result()
                if code == Result.SUCCESS:
                    return value
        raise BusError(
            f"{what} read of id {id} address {address}: no good reply after {tries} "
            f"{'try' if tries == 1 else 'tries'} ({result_name(code)}, {result_text(code)})",
            code,
        )

    def read_byte(self, id, address, tries=1):
        """The byte at ``address`` of servo ``id``. Reads up to ``tries`` times until a good
        reply comes; without one raises :class:`BusError` with the last result code."""
        return self._read(_lib.bus_read_byte, id, address, tries, "byte")

    def read_word(self, id, address, tries=1):
        """The two-byte value at ``address`` of servo ``id`` (low byte first on the wire).
        Reads up to ``tries`` times until a good reply comes; without one raises
        :class:`BusError` with the last result code."""
        return self._read(_lib.bus_read_word, id, address, tries, "word")

    def read_block(self, id, address, count, tries=1):
        """``count`` (1..253) bytes from ``address`` of servo ``id`` in one exchange, as
        ``bytes``; reads past the control table give 0 there and the range bit in
        :attr:`status`. Reads up to ``tries`` times until a good reply comes; without one
        raises :class:`BusError` with the last result code."""
        count = _integer(count, "count", 1, READ_BLOCK_MAX)
        buffer = (ctypes.c_ubyte * count)()

        def read(id, address):
            return _lib.bus_read_block(id, address, count, buffer)

        self._read(read, id, address, tries, f"{count}-byte")
        return bytes(buffer)

    def _check_reply(self, id, address, what):
        """Raises BusError when the reply to the write just made refuses it; called under
        the lock. No reply (broadcast, or a servo that answers reads only) says nothing."""
        status = _lib.kinetron_last_status()
        if _lib.bus_result() == Result.SUCCESS and status > 0 and status & _REFUSED_BITS:
            raise BusError(
                f"{what} write at address {address} of id {id} refused by the servo: "
                f"{', '.join(alarm_names(status))} (error byte 0x{status:02X})",
                status=status,
            )

    def write_block(self, id, address, data):
        """Writes ``data`` (bytes, or 1..252 values 0..255) from ``address`` of servo ``id``
        (254: every servo) in one exchange. The outcome is in :attr:`result`; a reply that
        refuses the write (angle limit, range, checksum or instruction bit) raises
        :class:`BusError` naming the bits."""
        id = _integer(id, "id", 0, ID_BROADCAST)
        address = _integer(address, "address", 0, 255)
        data = bytes(data)
        if not 1 <= len(data) <= WRITE_BLOCK_MAX:
            raise ValueError(f"{len(data)} bytes: a block write takes 1..{WRITE_BLOCK_MAX}")
        with _lock:
            self._check_open()
            _lib.bus_write_block(id, address, len(data), data)
            self._check_reply(id, address, f"{len(data)}-byte")

    def _write(self, function, id, address, value, what, highest):
        id = _integer(id, "id", 0, ID_BROADCAST)
        address = _integer(address, "address", 0, 255)
        value = _integer(value, what, 0, highest)
        with _lock:
            self._check_open()
            function(id, address, value)
            self._check_reply(id, address, f"{what} {value}")

    def write_byte(self, id, address, value):
        """Writes one byte (0..255) at ``address`` of servo ``id`` (254: every servo). The
        outcome is in :attr:`result`; a reply that refuses the write (angle limit, range,
        checksum or instruction bit) raises :class:`BusError` naming the bits."""
        self._write(_lib.bus_write_byte, id, address, value, "byte value", 0xFF)

    def write_word(self, id, address, value):
        """Writes a two-byte value (0..65535) at ``address`` of servo ``id`` (254: every
        servo). The outcome is in :attr:`result`; a reply that refuses the write (angle
        limit, range, checksum or instruction bit) raises :class:`BusError` naming the
        bits."""
        self._write(_lib.bus_write_word, id, address, value, "word value", 0xFFFF)

    def _transfer(self, id, instruction, params):
        # Built whole and sent under one hold of the lock: the packet under construction
        # is the library's, shared by every thread.
        _lib.bus_packet_set_id(id)
        _lib.bus_packet_set_instruction(instruction)
        for index, byte in enumerate(params):
            _lib.bus_packet_set_param(index, byte)
        _lib.bus_packet_set_length(len(params) + 2)
        _lib.bus_packet_transfer()
        return _lib.bus_result()

    def ping(self, id, protocol=1):
        """True when servo ``id`` (0..253; protocol 2.0: 0..252) answers a PING."""
        if protocol != 1:
            return self.identify(id, protocol) is not None
        id = _integer(id, "id", 0, ID_HIGHEST_SERVO)
        with _lock:
            self._check_open()
            return self._transfer(id, INST_PING, []) == Result.SUCCESS

    def reset(self, id):
        """Sends RESET to servo ``id`` (254: every servo): it goes back to its factory table
        and then answers as id 1 at baud number 1. The outcome is in :attr:`result`."""
        id = _integer(id, "id", 0, ID_BROADCAST)
        with _lock:
            self._check_open()
            self._transfer(id, INST_RESET, [])

    def sync_write(self, address, values, width=2, protocol=None, model=None):
        """Writes one register in several servos with one SYNC_WRITE packet to every servo.

        ``address`` a register name: ``values`` in raw units by the servos' model table
        (``model``, or learnt by PING as :meth:`sync_read` does), ``protocol`` 2 unless given.
        The rest of this text is the form by address, which speaks protocol 1.0 only
        (another ``protocol``, or a ``model``, raises ValueError).

        ``values`` maps servo ids (0..253) to values (a dict, or (id, value) pairs), sent in
        that order; ``width`` is the register's width in bytes (1 or 2), low byte first. One
        packet holds 83 servos of width 2 and 125 of width 1; more raise ValueError. No servo
        replies."""
        if isinstance(address, str):
            return self._sync_write_named(address, values, _protocol(protocol or 2), model)
        if protocol not in (None, 1) or model is not None:
            raise ValueError("a sync write by address speaks protocol 1.0; name the register")
        width = _integer(width, "width", 1, 2)
        address = _integer(address, "address", 0, 255)
        params = [address, width]
        pairs = values.items() if hasattr(values, "items") else values
        count = 0
        for id, value in pairs:
            count += 1
            params.append(_integer(id, "id", 0, ID_HIGHEST_SERVO))
            value = _integer(value, f"value of id {id}", 0, (1 << (8 * width)) - 1)
            params.append(value & 0xFF)
            if width == 2:
                params.append(value >> 8)
        if len(params) > PACKET_PARAMS_MAX:
            most = (PACKET_PARAMS_MAX - 2) // (width + 1)
            raise ValueError(
                f"{count} servos do not fit one packet (at most {most} of width {width})"
            )
        with _lock:
            self._check_open()
            self._transfer(ID_BROADCAST, INST_SYNC_WRITE, params)
