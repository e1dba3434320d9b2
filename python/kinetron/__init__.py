"""The Kinetron servo bus and frame files from Python.

``kinetron.Bus`` opens the servo bus through the kit's library libkinetron (a serial port,
the USB adapter, or the simulated chain "sim"); ``kinetron.frames`` reads and writes frame
files as posetape plays and records them; ``kinetron.models`` gives every model's control
table. ``bus.servo(id)`` reads and writes any model's registers by name, ``bus.sync_read``
reads a chain in one exchange. Register addresses, instruction and result codes
are named as in the C header (``kinetron.ADDR_PRESENT_POSITION``, ``kinetron.Result``).

Only ``Bus`` needs the library: it is loaded when ``Bus`` is first used, and an ImportError
then lists the places tried.
"""

from . import frames, models  # noqa: F401
from .errors import BusError, FrameFileError  # noqa: F401
from .registers import *  # noqa: F401,F403
from .registers import __all__ as _register_names

__version__ = "1.0.0"

__all__ = ["Bus", "BusError", "FrameFileError", "frames", "models"] + _register_names


def __getattr__(name):
    # The library is loaded on first use of the bus, so that frame files work without it.
    if name == "Bus":
        from .bus import Bus

        globals()["Bus"] = Bus
        return Bus
    raise AttributeError(f"module 'kinetron' has no attribute '{name}'")
