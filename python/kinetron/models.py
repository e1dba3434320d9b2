"""Every model's control table, as the bus library holds it.

``kinetron.models.get(1060)`` gives the model's protocol, its table's name and its registers
by name, each with its address, size, access, EEPROM area, raw range, unit and the size of
one raw step in that unit. The data comes from the library (the files under
``share/kinetron/models/`` are what it was built from), so scripts and tools agree.
"""

import ctypes
from dataclasses import dataclass, field

__all__ = ["Model", "Register", "get", "known"]

UNSIGNED, SIGNED, DIRECTION_BIT = 0, 1, 2


@dataclass(frozen=True)
class Register:
    """One register of a model's control table.

    ``access`` is "R" or "RW"; ``low``..``high`` the raw values a write may take;
    ``signedness`` "unsigned", "signed" (two's complement) or "direction" (bits 0..9 the
    amount, bit 10 the direction); ``unit`` "deg", "rpm", "V", "C", "%", ... or "" and
    ``scale`` one raw step in that unit; ``factory`` the model's factory value or None."""

    name: str
    address: int
    size: int
    access: str
    eeprom: bool
    low: int
    high: int
    signedness: str
    unit: str
    scale: float
    factory: object

    _c: object = field(default=None, repr=False, compare=False)

    def decode(self, data):
        """The register's bytes (little-endian) as a number by its signedness."""
        data = bytes(data)
        if len(data) < self.size:
            raise ValueError(f"{self.name} takes {self.size} bytes, not {len(data)}")
        buffer = (ctypes.c_ubyte * self.size).from_buffer_copy(data[: self.size])
        return _lib().kinetron_register_decode(self._c, buffer)

    def encode(self, value):
        """A raw value as the register's bytes."""
        buffer = (ctypes.c_ubyte * self.size)()
        _lib().kinetron_register_encode(self._c, int(value), buffer)
        return bytes(buffer)

    def to_units(self, raw):
        """A raw value in the register's unit (a direction bit set reads negative); the raw
        value itself for a register without a unit."""
        return _lib().kinetron_to_units(self._c, int(raw))

    def from_units(self, value):
        """A value in the register's unit as the nearest raw value."""
        return _lib().kinetron_from_units(self._c, float(value))


@dataclass(frozen=True)
class Model:
    """A model: its number, protocol (1 or 2), control table's name and registers by name,
    in address order."""

    number: int
    protocol: int
    table: str
    registers: dict

    def register(self, name):
        """The register called ``name``; ValueError naming the model when it lacks it."""
        try:
            return self.registers[name]
        except KeyError:
            raise ValueError(f"model {self.number} has no register {name!r}") from None


_SIGNEDNESS = {UNSIGNED: "unsigned", SIGNED: "signed", DIRECTION_BIT: "direction"}
_cache = {}


def _lib():
    from ._library import lib

    return lib


def get(model):
    """The :class:`Model` of model number ``model``; ValueError for one the kit does not
    know."""
    model = int(model)
    if model in _cache:
        return _cache[model]
    lib = _lib()
    protocol = lib.kinetron_model_protocol(model)
    if protocol == 0:
        raise ValueError(f"model {model} is not in the kit's model table")
    registers = {}
    for index in range(lib.kinetron_model_register_count(model)):
        c = lib.kinetron_model_register_at(model, index).contents
        name = c.name.decode()
        registers[name] = Register(
            _c=ctypes.pointer(c),
            name=name,
            address=c.address,
            size=c.size,
            access="RW" if c.writable else "R",
            eeprom=bool(c.eeprom),
            low=c.low,
            high=c.high,
            signedness=_SIGNEDNESS.get(c.signedness, "unsigned"),
            unit=(c.unit or b"").decode(),
            scale=c.scale,
            factory=None if c.factory == -1 else c.factory,
        )
    table = lib.kinetron_model_table(model).decode()
    _cache[model] = Model(model, protocol, table, registers)
    return _cache[model]


def known():
    """Every model number the kit knows, in the table's order."""
    lib = _lib()
    numbers = []
    while True:
        number = lib.kinetron_model_at(len(numbers))
        if number == 0:
            return numbers
        numbers.append(number)
