"""Finds and loads the shared library libkinetron, and declares its C functions.

Places tried, in this order:
  1. the kit's library, when this package was installed with the kit (``_install.py``,
     written at installation, holds its path relative to this directory);
  2. KINETRON_LIBRARY, when set (a path to the library file); when it does not load,
     nothing further is tried;
  3. in the source tree, the ``build/lib`` folder that the README's build command makes;
  4. the system's search (``ctypes.util.find_library``).
"""

import ctypes
import ctypes.util
import os
import sys
from pathlib import Path

_HERE = Path(__file__).resolve().parent

if sys.platform == "win32":
    _FILE_NAMES = ("kinetron.dll",)
    _BUILD_DIRS = ("build/bin", "build/lib")
elif sys.platform == "darwin":
    _FILE_NAMES = ("libkinetron.dylib", "libkinetron.1.dylib")
    _BUILD_DIRS = ("build/lib",)
else:
    _FILE_NAMES = ("libkinetron.so", "libkinetron.so.1")
    _BUILD_DIRS = ("build/lib",)


def _candidates():
    """(description, path) pairs in the order they are tried; path None: nothing to try."""
    try:
        from . import _install

        yield "beside the installed package", str(_HERE / _install.LIBRARY)
    except ImportError:
        pass
    setting = os.environ.get("KINETRON_LIBRARY")
    if setting:
        # An explicit choice is final: no silent fall-back to another library.
        yield "KINETRON_LIBRARY", setting
        return
    source_root = _HERE.parent.parent
    if (source_root / "python" / "kinetron").is_dir():
        paths = [source_root / folder / name for folder in _BUILD_DIRS for name in _FILE_NAMES]
        found = next((path for path in paths if path.exists()), paths[0])
        yield "the source tree's build", str(found)
    yield "the system's library search", ctypes.util.find_library("kinetron")


def _load():
    tried = []
    for place, path in _candidates():
        if path is None:
            tried.append(f"{place}: not found")
            continue
        if not os.path.exists(path) and os.path.dirname(path):
            tried.append(f"{place}: {path}: no such file")
            continue
        try:
            return ctypes.CDLL(path)
        except OSError as error:
            tried.append(f"{place}: {path}: {error}")
    places = "\n  ".join(tried)
    raise ImportError(f"cannot load the servo bus library libkinetron; tried:\n  {places}")


class CRegister(ctypes.Structure):
    """The library's struct kinetron_register."""

    _fields_ = [
        ("name", ctypes.c_char_p),
        ("address", ctypes.c_int),
        ("size", ctypes.c_int),
        ("writable", ctypes.c_int),
        ("eeprom", ctypes.c_int),
        ("low", ctypes.c_longlong),
        ("high", ctypes.c_longlong),
        ("signedness", ctypes.c_int),
        ("unit", ctypes.c_char_p),
        ("scale", ctypes.c_double),
        ("factory", ctypes.c_longlong),
    ]


def _declare(library):
    c_int = ctypes.c_int
    bytes_out = ctypes.POINTER(ctypes.c_ubyte)
    int_out = ctypes.POINTER(c_int)
    register_p = ctypes.POINTER(CRegister)
    signatures = {
        "bus_open_device": ([ctypes.c_char_p], c_int),
        "bus_close": ([], None),
        "bus_change_baud": ([c_int], None),
        "bus_result": ([], c_int),
        "bus_read_byte": ([c_int, c_int], c_int),
        "bus_read_word": ([c_int, c_int], c_int),
        "bus_write_byte": ([c_int, c_int, c_int], None),
        "bus_write_word": ([c_int, c_int, c_int], None),
        "bus_read_block": ([c_int, c_int, c_int, bytes_out], c_int),
        "bus_write_block": ([c_int, c_int, c_int, ctypes.c_char_p], None),
        "bus_packet_set_id": ([c_int], None),
        "bus_packet_set_instruction": ([c_int], None),
        "bus_packet_set_param": ([c_int, c_int], None),
        "bus_packet_set_length": ([c_int], None),
        "bus_packet_transfer": ([], None),
        "kinetron_last_error": ([], ctypes.c_char_p),
        "kinetron_set_quiet": ([c_int], None),
        "kinetron_last_status": ([], c_int),
        "kinetron_latency_ms": ([], c_int),
        # Every model: protocol 2.0, group reads, the line speed in bits per second.
        "bus_set_bps": ([c_int], c_int),
        "bus_bps": ([], c_int),
        "bus_ping": ([c_int, c_int, int_out, int_out], c_int),
        "bus_ping_all": ([int_out, int_out, int_out, c_int], c_int),
        "bus_read": ([c_int, c_int, c_int, c_int, bytes_out], c_int),
        "bus_write": ([c_int, c_int, c_int, c_int, ctypes.c_char_p], c_int),
        "bus_sync_write": ([c_int, c_int, c_int, c_int, int_out, ctypes.c_char_p], c_int),
        "bus_bulk_write": ([c_int, int_out, int_out, int_out, ctypes.c_char_p], c_int),
        "bus_sync_read": (
            [c_int, c_int, int_out, c_int, c_int, bytes_out, int_out, int_out], c_int),
        "bus_bulk_read": (
            [c_int, c_int, c_int, int_out, int_out, int_out, bytes_out, int_out, int_out],
            c_int),
        "bus_reboot": ([c_int], c_int),
        "bus_factory_reset": ([c_int, c_int, c_int], c_int),
        # The model table.
        "kinetron_model_protocol": ([c_int], c_int),
        "kinetron_model_table": ([c_int], ctypes.c_char_p),
        "kinetron_model_register_count": ([c_int], c_int),
        "kinetron_model_register_at": ([c_int, c_int], register_p),
        "kinetron_model_register": ([c_int, ctypes.c_char_p], register_p),
        "kinetron_model_baud_bps": ([c_int, c_int], c_int),
        "kinetron_model_has_instruction": ([c_int, c_int, c_int], c_int),
        "kinetron_model_at": ([c_int], c_int),
        "kinetron_register_decode": ([register_p, bytes_out], ctypes.c_longlong),
        "kinetron_register_encode": ([register_p, ctypes.c_longlong, bytes_out], None),
        "kinetron_to_units": ([register_p, ctypes.c_longlong], ctypes.c_double),
        "kinetron_from_units": ([register_p, ctypes.c_double], ctypes.c_longlong),
    }
    missing = [name for name in signatures if not hasattr(library, name)]
    if missing:
        raise ImportError(
            f"the servo bus library {library._name} is older than this package: it lacks "
            + ", ".join(missing)
        )
    for name, (arguments, result) in signatures.items():
        function = getattr(library, name)
        function.argtypes = arguments
        function.restype = result
    # Failures reach Python as BusError with the library's reason; nothing else is printed.
    library.kinetron_set_quiet(1)
    return library


lib = _declare(_load())


def last_error():
    """The library's reason for the last failed open or speed change ("" after a success)."""
    text = lib.kinetron_last_error()
    return "" if text is None else text.decode("utf-8", "replace")
