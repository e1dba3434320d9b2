"""The bus for every model: protocol 2.0, registers by name, group reads and writes.

:class:`kinetron.Bus` takes these methods from :class:`EveryModel`; they share the bus's
lock and its one line. Protocol 1.0 stays the default of every method that existed before;
the new forms default to protocol 2.0 where they take ``protocol``.
"""

import ctypes

from . import _library, models
from .errors import BusError
from .registers import Result, result_name, result_text

_lib = _library.lib

#: Protocol 2.0 error numbers (bits 0..6 of a status packet's error byte).
ERROR_NUMBERS = {
    1: "result fail",
    2: "instruction error",
    3: "CRC error",
    4: "data range error",
    5: "data length error",
    6: "data limit error",
    7: "access error",
}
ALERT_BIT = 0x80
# Protocol 1.0 error bits that refuse the instruction itself; the others (voltage, heat,
# overload) are standing alarms that ride on every reply.
_REFUSING_BITS = {1 << 1: "angle limit", 1 << 3: "range", 1 << 4: "checksum", 1 << 6: "instruction"}

_BULK_READ_1 = 5
_FAST_SYNC_READ = 2
_IDS_MAX = 253
_PROTOCOL_1_READ_MAX = 253
_PROTOCOL_2_READ_MAX = 1000


def refusal(protocol, status):
    """What a reply's error byte says the servo refused, or None: a protocol 2.0 error number,
    or protocol 1.0's range, angle limit, instruction or checksum bit. The alert bit and the
    standing alarms alone refuse nothing."""
    if status is None or status < 0:
        return None
    if protocol == 2:
        number = status & 0x7F
        if number == 0:
            return None
        return ERROR_NUMBERS.get(number, f"error number {number}")
    bits = [name for bit, name in _REFUSING_BITS.items() if status & bit]
    return " and ".join(bits) + (" bit" if len(bits) == 1 else " bits") if bits else None


def _protocol(protocol):
    if protocol not in (1, 2):
        raise ValueError(f"protocol {protocol!r}: 1 or 2")
    return protocol


def _ids(ids, protocol):
    highest = 252 if protocol == 2 else 253
    ids = [int(i) for i in ids]
    if not 1 <= len(ids) <= _IDS_MAX:
        raise ValueError(f"{len(ids)} ids: a group read takes 1..{_IDS_MAX}")
    for i in ids:
        if not 0 <= i <= highest:
            raise ValueError(f"id {i} is outside 0..{highest}")
    if len(set(ids)) != len(ids):
        raise ValueError("an id appears twice")
    return ids


def _int_array(values):
    return (ctypes.c_int * len(values))(*values)


def _failure(what, code):
    return BusError(f"{what}: {result_name(code)} ({result_text(code)})", code)


class Servo:
    """One servo whose model the bus has learnt: :attr:`id`, :attr:`model` (the number),
    :attr:`firmware`, :attr:`protocol`. Registers go by the names of the model's table
    (:meth:`registers`), values in raw units unless the method says otherwise."""

    def __init__(self, bus, id, protocol, model, firmware):
        self.bus = bus
        self.id = id
        self.protocol = protocol
        self.model = model
        self.firmware = firmware
        self.table = models.get(model)

    def __repr__(self):
        return f"<kinetron.Servo {self.id} model {self.model} protocol {self.protocol}>"

    def registers(self):
        """The names of the model's registers, in address order."""
        return list(self.table.registers)

    def read(self, name):
        """The register's raw value: a signed register as a signed int, a direction-bit
        register as stored (0..2047). BusError without a good reply or on a refusal."""
        register = self.table.register(name)
        data = self.bus._read_bytes(self.protocol, self.id, register.address, register.size)
        return register.decode(data)

    def read_units(self, name):
        """The register's value in its unit (degrees, rpm, V, C, %...); a direction bit set
        reads negative."""
        return self.table.register(name).to_units(self.read(name))

    def write(self, name, value):
        """Writes a raw value. ValueError for a read-only register or a value outside its
        range (nothing sent); BusError when the servo refuses it."""
        register = self.table.register(name)
        if register.access != "RW":
            raise ValueError(f"{name} of model {self.model} is read only")
        value = int(value)
        if not register.low <= value <= register.high:
            raise ValueError(f"{name} takes {register.low}..{register.high}, not {value}")
        self.bus._write_bytes(self.protocol, self.id, register.address, register.encode(value))


class EveryModel:
    """Methods of :class:`kinetron.Bus` for every model of the family."""

    def set_bps(self, bps):
        """Sets the line speed to ``bps`` bits per second exactly (any rate of the servos'
        baud-rate maps). BusError when the line refuses it."""
        bps = int(bps)
        with self._lock:
            self._check_open()
            if not _lib.bus_set_bps(bps):
                raise BusError(_library.last_error() or f"the line refuses {bps} bps")

    def identify(self, id, protocol=1):
        """``(model, firmware)`` of servo ``id``, or None when it does not answer. Protocol
        1.0 reads them from the control table after a PING."""
        protocol = _protocol(protocol)
        id = int(id)
        if not 0 <= id <= (252 if protocol == 2 else 253):
            raise ValueError(f"id {id} is outside 0..{252 if protocol == 2 else 253}")
        model, firmware = ctypes.c_int(), ctypes.c_int()
        with self._lock:
            self._check_open()
            code = _lib.bus_ping(protocol, id, ctypes.byref(model), ctypes.byref(firmware))
        if code != Result.SUCCESS:
            return None
        self._learnt[(protocol, id)] = (model.value, firmware.value)
        return model.value, firmware.value

    def ping_all(self):
        """Protocol 2.0 PING to every servo: ``{id: (model, firmware)}`` of those that
        answered, in ascending id order."""
        size = 253
        ids, found, firmwares = (ctypes.c_int * size)(), (ctypes.c_int * size)(), (ctypes.c_int * size)()
        with self._lock:
            self._check_open()
            count = _lib.bus_ping_all(ids, found, firmwares, size)
        answered = {ids[k]: (found[k], firmwares[k]) for k in range(count)}
        for id, pair in answered.items():
            self._learnt[(2, id)] = pair
        return answered

    def servo(self, id, protocol=None):
        """A :class:`Servo` for servo ``id``, its model learnt by PING (protocol None: tries
        2.0, then 1.0). BusError when it does not answer."""
        for candidate in (2, 1) if protocol is None else (_protocol(protocol),):
            known = self._learnt.get((candidate, int(id))) or self.identify(id, candidate)
            if known is not None:
                if models.get(known[0]).protocol != candidate:
                    continue
                return Servo(self, int(id), candidate, known[0], known[1])
        raise BusError(f"servo {id} does not answer a PING", _lib.bus_result())

    def reboot(self, id):
        """Protocol 2.0 REBOOT of servo ``id`` (254: every servo, no reply): the only way back
        to torque on after an alarm shutdown. BusError on a refusal."""
        id = int(id)
        if not (0 <= id <= 252 or id == 254):
            raise ValueError(f"id {id} is outside 0..252 and 254")
        with self._lock:
            self._check_open()
            _lib.bus_reboot(id)
            self._raise_refusal(2, f"reboot of servo {id}")

    def factory_reset(self, id, protocol=2, keep=""):
        """Back to the factory table. ``keep``: "" everything, "id" all but the id, "id+baud"
        all but the id and baud rate (protocol 2.0; protocol 1.0 takes only "")."""
        protocol = _protocol(protocol)
        options = {"": 0xFF, "id": 0x01, "id+baud": 0x02} if protocol == 2 else {"": 0}
        if keep not in options:
            raise ValueError(f"keep={keep!r}: protocol {protocol} takes {', '.join(map(repr, options))}")
        id = int(id)
        with self._lock:
            self._check_open()
            _lib.bus_factory_reset(protocol, id, options[keep])
            self._raise_refusal(protocol, f"factory reset of servo {id}")

    def sync_read(self, ids, register, count=None, protocol=2, fast=False, model=None):
        """One group read of several servos.

        ``register`` a name: ``{id: value or None}`` in raw units, the servos' model from
        ``model`` or learnt by one PING per id (remembered while the bus lives); servos of
        different tables raise ValueError before the read. ``register`` an address with
        ``count`` bytes: ``{id: bytes or None}``. Protocol 2.0: SYNC_READ, or FAST_SYNC_READ
        with ``fast``; protocol 1.0: BULK_READ where the models have it, else a block read per
        servo. None: that servo gave no good reply."""
        protocol = _protocol(protocol)
        ids = _ids(ids, protocol)
        if fast and protocol != 2:
            raise ValueError("fast reads are protocol 2.0's")
        if isinstance(register, str):
            table = self._common_table(ids, protocol, model)
            entry = table.register(register)
            raw = self._group_read(protocol, fast, ids, [entry.address] * len(ids),
                                   [entry.size] * len(ids))
            return {i: None if data is None else entry.decode(data) for i, data in raw.items()}
        if count is None:
            raise ValueError("a read by address needs count")
        most = _PROTOCOL_2_READ_MAX if protocol == 2 else _PROTOCOL_1_READ_MAX
        if not 1 <= int(count) <= most:
            raise ValueError(f"count {count} is outside 1..{most}")
        if model is not None:
            self._model_table(model, protocol)
        return self._group_read(protocol, fast, ids, [int(register)] * len(ids),
                                [int(count)] * len(ids))

    def bulk_read(self, reads, protocol=2):
        """One BULK_READ of a named register per servo: ``reads`` is ``[(id, name), ...]``
        (an id at most once); returns ``{id: value or None}``. Each servo's model is learnt
        by PING as in :meth:`sync_read`."""
        protocol = _protocol(protocol)
        ids = _ids([i for i, _ in reads], protocol)
        entries = [self._learnt_table(i, protocol).register(name) for i, name in reads]
        raw = self._group_read(protocol, False, ids, [e.address for e in entries],
                               [e.size for e in entries])
        return {i: None if raw[i] is None else e.decode(raw[i]) for i, e in zip(ids, entries)}

    def _sync_write_named(self, name, values, protocol, model):
        pairs = list(values.items() if hasattr(values, "items") else values)
        ids = _ids([i for i, _ in pairs], protocol)
        table = self._common_table(ids, protocol, model)
        entry = table.register(name)
        if entry.access != "RW":
            raise ValueError(f"{name} of model {table.number} is read only")
        data = b""
        for i, value in pairs:
            if not entry.low <= int(value) <= entry.high:
                raise ValueError(f"{name} of id {i} takes {entry.low}..{entry.high}, not {value}")
            data += entry.encode(int(value))
        with self._lock:
            self._check_open()
            _lib.bus_sync_write(protocol, entry.address, entry.size, len(ids), _int_array(ids), data)

    # -- inside ------------------------------------------------------------------------------

    def _model_table(self, model, protocol):
        table = models.get(model)
        if table.protocol != protocol:
            raise ValueError(f"model {model} speaks protocol {table.protocol}, not {protocol}")
        return table

    def _learnt_table(self, id, protocol):
        known = self._learnt.get((protocol, id)) or self.identify(id, protocol)
        if known is None:
            raise BusError(f"servo {id} does not answer a protocol {protocol} PING",
                           _lib.bus_result())
        return self._model_table(known[0], protocol)

    def _common_table(self, ids, protocol, model):
        if model is not None:
            return self._model_table(model, protocol)
        tables = {i: self._learnt_table(i, protocol) for i in ids}
        names = {t.table for t in tables.values()}
        if len(names) > 1:
            raise ValueError("the servos' models have different control tables: "
                             + ", ".join(f"id {i} model {t.number}" for i, t in tables.items()))
        return tables[ids[0]]

    def _group_read(self, protocol, fast, ids, addresses, counts):
        n = len(ids)
        out = (ctypes.c_ubyte * sum(counts))()
        results = (ctypes.c_int * n)()
        with self._lock:
            self._check_open()
            if protocol == 2 and len(set(addresses)) == 1 and len(set(counts)) == 1:
                _lib.bus_sync_read(int(fast), n, _int_array(ids), addresses[0], counts[0],
                                   out, results, None)
            elif protocol == 2 or self._all_bulk_read_1(ids):
                _lib.bus_bulk_read(protocol, int(fast), n, _int_array(ids), _int_array(addresses),
                                   _int_array(counts), out, results, None)
            else:
                buffer = (ctypes.c_ubyte * max(counts))()
                offset = 0
                for k, (i, address, count) in enumerate(zip(ids, addresses, counts)):
                    results[k] = _lib.bus_read(1, i, address, count, buffer)
                    ctypes.memmove(ctypes.byref(out, offset), buffer, count)
                    offset += count
        answer, offset = {}, 0
        for k, i in enumerate(ids):
            good = results[k] == Result.SUCCESS
            answer[i] = bytes(out[offset:offset + counts[k]]) if good else None
            offset += counts[k]
        return answer

    def _all_bulk_read_1(self, ids):
        # Protocol 1.0 BULK_READ: only when every listed servo's model answers it. The models
        # learnt already are looked at first; the others are learnt by PING up to the first
        # servo without it, so such a chain pays those PINGs once. A servo that does not
        # answer its PING leaves block reads.
        def answers(known):
            return known is not None and _lib.kinetron_model_has_instruction(
                known[0], known[1], _BULK_READ_1)

        known = [self._learnt.get((1, i)) for i in ids]
        if any(k is not None and not answers(k) for k in known):
            return False
        every = True
        for i, k in zip(ids, known):
            k = k or self.identify(i, 1)
            if k is not None and not answers(k):
                return False
            every = every and k is not None
        return every

    def _raise_refusal(self, protocol, what):
        status = _lib.kinetron_last_status()
        refused = refusal(protocol, status)
        if refused:
            raise BusError(f"{what}: the servo refused it ({refused})", status=status)

    def _read_bytes(self, protocol, id, address, count):
        buffer = (ctypes.c_ubyte * count)()
        with self._lock:
            self._check_open()
            code = _lib.bus_read(protocol, id, address, count, buffer)
            if code != Result.SUCCESS:
                raise _failure(f"read of id {id} address {address}", code)
            self._raise_refusal(protocol, f"read of id {id} address {address}")
        return bytes(buffer)

    def _write_bytes(self, protocol, id, address, data):
        with self._lock:
            self._check_open()
            _lib.bus_write(protocol, id, address, len(data), data)
            self._raise_refusal(protocol, f"write of id {id} address {address}")
