"""The package's own exceptions; neither needs the bus library."""

from .registers import result_name, result_text


class BusError(Exception):
    """The bus failed: the line did not open, a read got no good reply, a servo refused a
    write, or the bus is used while closed or twice at once.

    ``code`` is the result code of the failed exchange (None when no exchange failed, as
    for an open that failed or a refused write), ``name`` its name ("RX_TIMEOUT") and
    ``text`` the three-letter text the console tools print for it ("rxT"). ``status`` is
    the error byte of the servo's reply to a refused instruction (``ERRBIT_*``, or protocol
    2.0's alert bit and error number), else None."""

    __module__ = "kinetron"

    def __init__(self, message, code=None, status=None):
        super().__init__(message)
        self.code = code
        self.status = status
        self.name = None if code is None else result_name(code)
        self.text = None if code is None else result_text(code)


class FrameFileError(Exception):
    """A frame file that playback would refuse: empty, an unknown type line, a bad id on
    the ID line, or a blank line between frames. The message is the text playback prints
    for it."""

    __module__ = "kinetron"
