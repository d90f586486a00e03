"""tavrin: lighthouse-tracked devices as a paced pose source.

The library's plain functions through ctypes. Poses come back as numpy records of POSE_DTYPE (the
library's 180-byte record); device events are queued by a handler that runs on the library's
discovery thread and read with Session.next_event.

The library acts on one process-wide driver: every Session in a process shares it.
"""

import ctypes
import ctypes.util
import glob
import os
import queue
import threading

import numpy as np

__all__ = ["POSE_DTYPE", "Event", "Session", "version", "session_error", "error_name", "event_name", "library"]

# The library's _TrackedDevicePose, 180 bytes, little-endian, packed.
POSE_DTYPE = np.dtype(
    [
        ("serial", "S64"),
        ("index", "<i4"),
        ("device_class", "<i4"),
        ("tracking_ok", "<i4"),
        ("timestamp_ms", "<f4"),
        ("position", "<f4", (3,)),
        ("quaternion", "<f4", (4,)),  # w, x, y, z
        ("velocity", "<f4", (3,)),
        ("angular_velocity", "<f4", (3,)),
        ("rotation", "<f4", (3, 4)),  # rows of the rotation; the fourth float of a row is unused
    ]
)
assert POSE_DTYPE.itemsize == 180

DEVICE_ERROR_NONE = 0
DEVICE_ERROR_NO_SESSION = 100


class _DeviceEventArg(ctypes.Structure):
    _fields_ = [("serial", ctypes.c_char * 64), ("index", ctypes.c_int32), ("index2", ctypes.c_int32)]


_HANDLER = ctypes.CFUNCTYPE(None, ctypes.c_int, ctypes.c_int32, _DeviceEventArg)


def _find_library():
    named = os.environ.get("TAVRIN_LIBRARY")
    if named:
        return named
    here = os.path.dirname(os.path.abspath(__file__))
    for pattern in ("libtavrin.so*", "tavrin.dll", "libtavrin*.dylib"):
        found = sorted(glob.glob(os.path.join(here, pattern)))
        if found:
            return found[0]
    return ctypes.util.find_library("tavrin") or ("tavrin.dll" if os.name == "nt" else "libtavrin.so.0")


_lib = None
_lib_lock = threading.Lock()


def library():
    """The loaded tavrin library (a ctypes.CDLL), loaded on first use."""
    global _lib
    with _lib_lock:
        if _lib is None:
            lib = ctypes.CDLL(_find_library())
            lib.initViveLib.argtypes = [ctypes.POINTER(ctypes.c_int32)]
            lib.initViveLib.restype = ctypes.c_bool
            lib.releaseViveLib.argtypes = []
            lib.releaseViveLib.restype = None
            lib.readViveData.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int32)]
            lib.readViveData.restype = None
            lib.readViveStatus.argtypes = [ctypes.POINTER(ctypes.c_int32)]
            lib.readViveStatus.restype = None
            lib.setDeviceStatusChangedHandle.argtypes = [_HANDLER]
            lib.setDeviceStatusChangedHandle.restype = None
            lib.setFreq.argtypes = [ctypes.c_uint]
            lib.setFreq.restype = None
            lib.tavrin_version.argtypes = []
            lib.tavrin_version.restype = ctypes.c_char_p
            lib.tavrin_session_error.argtypes = []
            lib.tavrin_session_error.restype = ctypes.c_int32
            lib.tavrin_error_name.argtypes = [ctypes.c_int32]
            lib.tavrin_error_name.restype = ctypes.c_char_p
            lib.tavrin_event_name.argtypes = [ctypes.c_int32]
            lib.tavrin_event_name.restype = ctypes.c_char_p
            _lib = lib
        return _lib


def version():
    """The library's version, "MAJOR.MINOR.PATCH"."""
    return library().tavrin_version().decode()


def session_error():
    """The runtime's EVRInitError of the latest failed session open (0 once a session is open)."""
    return int(library().tavrin_session_error())


def error_name(code):
    """The name of a status code ("DeviceError_NoSession"), or "unknown"."""
    return library().tavrin_error_name(int(code)).decode()


def event_name(code):
    """The name of an event code ("DeviceEvent_HmdConnected"), or "unknown"."""
    return library().tavrin_event_name(int(code)).decode()


class Event:
    """One device event: name ("HmdConnected"), code, serial, index, old_index (the index before an
    IndexChanged, else the index again) and count (devices known when it was raised)."""

    __slots__ = ("name", "code", "serial", "index", "old_index", "count")

    def __init__(self, name, code, serial, index, old_index, count):
        self.name = name
        self.code = code
        self.serial = serial
        self.index = index
        self.old_index = old_index
        self.count = count

    def __repr__(self):
        return "Event(%s, serial=%r, index=%d, old_index=%d, count=%d)" % (
            self.name, self.serial, self.index, self.old_index, self.count)


# The handler is process-wide, as the library's driver is: one queue, and one callback object kept
# alive for as long as the module (the library may call it until its driver is stopped).
_events = queue.Queue()


def _on_event(count, code, arg):
    try:
        full = event_name(code)
        name = full[len("DeviceEvent_"):] if full.startswith("DeviceEvent_") else full
        _events.put(Event(name, int(code), arg.serial.decode("utf-8", "replace"), int(arg.index), int(arg.index2),
                          int(count)))
    except Exception:  # never let an exception reach the library's thread
        pass


_handler = _HANDLER(_on_event)


class Session:
    """Starts the library's driver on enter (or start()) and stops it on exit (or stop())."""

    def __init__(self, rate=120):
        self.rate = int(rate)
        self._started = False

    def start(self):
        lib = library()
        lib.setDeviceStatusChangedHandle(_handler)
        lib.setFreq(self.rate)
        err = ctypes.c_int32(-1)
        if not lib.initViveLib(ctypes.byref(err)):
            raise RuntimeError("tavrin did not start: %s" % error_name(err.value))
        self._started = True
        return self

    def stop(self):
        if self._started:
            library().releaseViveLib()
            self._started = False

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
        return False

    def read(self):
        """A paced read: the records the read filled (none while no session is open)."""
        poses = np.zeros(16, dtype=POSE_DTYPE)
        err = ctypes.c_int32(-1)
        library().readViveData(poses.ctypes.data_as(ctypes.c_void_p), ctypes.byref(err))
        if err.value != DEVICE_ERROR_NONE:
            return poses[:0].copy()
        return poses[poses["device_class"] != 0].copy()

    def status(self):
        """The status read: 100 (DeviceError_NoSession) while no session is open, else the status
        word."""
        status = ctypes.c_int32(-1)
        library().readViveStatus(ctypes.byref(status))
        return int(status.value)

    def next_event(self, timeout=None):
        """The next device event, or None when none comes within timeout seconds."""
        try:
            return _events.get(timeout=timeout)
        except queue.Empty:
            return None
