"""tavrin: lighthouse-tracked devices as a paced pose source.

Two ways in, through ctypes:

- Source, the frame source: every device (indices 0..63, base stations included), frames with
  numbers and nanosecond times as numpy records of DEVICE_DTYPE, and events that say what changed.
  Sources are independent of each other and of Session.
- Session, the library's plain functions: up to 16 records of POSE_DTYPE (the library's 180-byte
  record) and the legacy device events. It acts on one process-wide driver: every Session in a
  process shares it.
"""

import contextlib
import ctypes
import ctypes.util
import glob
import math
import numbers
import os
import queue
import threading
import time

import numpy as np

__all__ = ["AXES", "ROLES", "REACH_NS", "DEVICE_DTYPE", "POSE_DTYPE", "Event", "Frame", "Session", "Source", "SourceEvent", "version",
           "session_error", "error_name", "event_name", "event_kind_name", "role_name", "library", "now_ns"]

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
DEVICE_ERROR_INVALID_ARGUMENT = 103
MAX_DEVICES = 64
NO_BATTERY = 255

# The library's tavrin_device, 168 bytes. battery: percent 0..100, NO_BATTERY when none.
DEVICE_DTYPE = np.dtype(
    {
        "names": ["serial", "index", "device_class", "tracking_result", "connected", "pose_valid", "role",
                  "battery", "position", "orientation", "velocity", "angular_velocity", "rotation"],
        "formats": ["S64", "<u4", "<i4", "<i4", "u1", "u1", "u1", "u1", ("<f4", (3,)), ("<f4", (4,)),
                    ("<f4", (3,)), ("<f4", (3,)), ("<f4", (3, 3))],
        "offsets": [0, 64, 68, 72, 76, 77, 78, 79, 80, 92, 108, 120, 132],
        "itemsize": 168,
    }
)

# tavrin_role's names, in role order.
ROLES = ("none", "head", "left_hand", "right_hand", "waist", "chest", "left_foot", "right_foot", "left_knee",
         "right_knee", "left_elbow", "right_elbow", "left_shoulder", "right_shoulder", "camera", "prop")

# tavrin_axes by name.
AXES = {"openvr": 0, "z_up": 1, "unity": 2, "unreal": 3}
assert DEVICE_DTYPE.itemsize == 168

# The library's tavrin_frame: a 32-byte header, then 64 device records.
_FRAME_DTYPE = np.dtype(
    [
        ("frame_number", "<u8"),
        ("time_ns", "<i8"),
        ("unix_time_ns", "<i8"),
        ("query_time_ns", "<i8"),
        ("device_count", "<u4"),
        ("reserved", "<u4"),
        ("devices", DEVICE_DTYPE, (MAX_DEVICES,)),
    ]
)
assert _FRAME_DTYPE.itemsize == 40 + 64 * 168

# How far from now the runtime answers for an instant (ns).
REACH_NS = 100000000

class _Filter(ctypes.Structure):
    _fields_ = [("min_cutoff_hz", ctypes.c_float), ("beta", ctypes.c_float), ("derivative_cutoff_hz", ctypes.c_float)]


class _SourceEvent(ctypes.Structure):
    _fields_ = [
        ("kind", ctypes.c_int32),
        ("device_class", ctypes.c_int32),
        ("index", ctypes.c_uint32),
        ("old_index", ctypes.c_uint32),
        ("device_count", ctypes.c_uint32),
        ("dropped", ctypes.c_uint32),
        ("time_ns", ctypes.c_int64),
        ("serial", ctypes.c_char * 64),
    ]


assert ctypes.sizeof(_SourceEvent) == 96


class _Space(ctypes.Structure):
    _fields_ = [
        ("position", ctypes.c_float * 3),
        ("orientation", ctypes.c_float * 4),
        ("axes", ctypes.c_int32),
        ("units_per_metre", ctypes.c_float),
    ]


assert ctypes.sizeof(_Space) == 36


class _DeviceEventArg(ctypes.Structure):
    _fields_ = [("serial", ctypes.c_char * 64), ("index", ctypes.c_int32), ("index2", ctypes.c_int32)]


_HANDLER = ctypes.CFUNCTYPE(None, ctypes.c_int, ctypes.c_int32, _DeviceEventArg)


def _candidates():
    """Where the library may be, in order: TAVRIN_LIBRARY alone when it is set; else this package's
    folder, the system's library path, and the usual install prefixes."""
    named = os.environ.get("TAVRIN_LIBRARY")
    if named:
        return [named]
    here = os.path.dirname(os.path.abspath(__file__))
    found = []
    for pattern in ("libtavrin.so*", "tavrin.dll", "libtavrin*.dylib"):
        found += sorted(glob.glob(os.path.join(here, pattern)))
    system = ctypes.util.find_library("tavrin")
    if system:
        found.append(system)
    if os.name == "nt":
        return found + ["tavrin.dll"]
    found.append("libtavrin.so.0")  # the loader's own search: LD_LIBRARY_PATH, ld.so.cache
    for prefix in ("/usr/local/lib", "/usr/local/lib64", "/usr/lib", "/usr/lib64", "/usr/lib/x86_64-linux-gnu"):
        found.append(os.path.join(prefix, "libtavrin.so.0"))
    return found


def _load():
    tried = []
    for path in _candidates():
        try:
            return ctypes.CDLL(path)
        except OSError as e:
            tried.append("%s (%s)" % (path, e))
    raise ImportError(
        "tavrin: the tavrin library cannot be loaded. Tried, in order:\n  " + "\n  ".join(tried) +
        "\nSet TAVRIN_LIBRARY to the path of libtavrin.so (tavrin.dll on Windows), for example "
        "TAVRIN_LIBRARY=/usr/local/lib/libtavrin.so.0; the library finds its OpenVR loader by itself.")


_lib = None
_lib_lock = threading.Lock()


def library():
    """The loaded tavrin library (a ctypes.CDLL), loaded on first use."""
    global _lib
    with _lib_lock:
        if _lib is None:
            lib = _load()
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
            lib.tavrin_event_kind_name.argtypes = [ctypes.c_int32]
            lib.tavrin_event_kind_name.restype = ctypes.c_char_p
            lib.tavrin_role_name.argtypes = [ctypes.c_int32]
            lib.tavrin_role_name.restype = ctypes.c_char_p
            lib.tavrin_role_from_name.argtypes = [ctypes.c_char_p]
            lib.tavrin_role_from_name.restype = ctypes.c_int32
            floats = ctypes.POINTER(ctypes.c_float)
            for name, args in (("set_role", [ctypes.c_char_p, ctypes.c_int32]),
                               ("set_space", [ctypes.POINTER(_Space)]),
                               ("get_space", [ctypes.POINTER(_Space)]),
                               ("set_origin_from_device", [ctypes.c_char_p]),
                               ("set_offset", [ctypes.c_char_p, floats, floats]),
                               ("save_rig", [ctypes.c_char_p]),
                               ("load_rig", [ctypes.c_char_p])):
                f = getattr(lib, "tavrin_source_" + name)
                f.argtypes = [ctypes.c_void_p] + args
                f.restype = ctypes.c_int32
            lib.tavrin_source_set_filter.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(_Filter)]
            lib.tavrin_source_set_filter.restype = ctypes.c_int32
            lib.tavrin_filter_default.argtypes = [ctypes.POINTER(_Filter)]
            lib.tavrin_filter_default.restype = None
            lib.tavrin_source_assign_roles.argtypes = [ctypes.c_void_p]
            lib.tavrin_source_assign_roles.restype = ctypes.c_int32
            lib.tavrin_source_set_spin_us.argtypes = [ctypes.c_void_p, ctypes.c_int32]
            lib.tavrin_source_set_spin_us.restype = ctypes.c_int32
            lib.tavrin_source_rig_error.argtypes = [ctypes.c_void_p]
            lib.tavrin_source_rig_error.restype = ctypes.c_char_p
            lib.tavrin_now_ns.argtypes = []
            lib.tavrin_now_ns.restype = ctypes.c_int64
            lib.tavrin_source_create.argtypes = [ctypes.c_double]
            lib.tavrin_source_create.restype = ctypes.c_void_p
            lib.tavrin_source_destroy.argtypes = [ctypes.c_void_p]
            lib.tavrin_source_destroy.restype = None
            lib.tavrin_source_start.argtypes = [ctypes.c_void_p]
            lib.tavrin_source_start.restype = ctypes.c_int32
            lib.tavrin_source_stop.argtypes = [ctypes.c_void_p]
            lib.tavrin_source_stop.restype = None
            lib.tavrin_source_read.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_uint32]
            lib.tavrin_source_read.restype = ctypes.c_int32
            lib.tavrin_source_read_at.argtypes = [ctypes.c_void_p, ctypes.c_int64, ctypes.c_void_p, ctypes.c_uint32]
            lib.tavrin_source_read_at.restype = ctypes.c_int32
            lib.tavrin_source_next_event.argtypes = [ctypes.c_void_p, ctypes.POINTER(_SourceEvent), ctypes.c_int32]
            lib.tavrin_source_next_event.restype = ctypes.c_int32
            _lib = lib
        return _lib


def version():
    """The library's version, "MAJOR.MINOR.PATCH"."""
    return library().tavrin_version().decode()


def session_error():
    """The runtime's EVRInitError of the latest failed session open (0 once a session is open)."""
    return int(library().tavrin_session_error())


def now_ns():
    """The library's monotonic clock in nanoseconds: the clock of every time_ns."""
    return int(library().tavrin_now_ns())


def error_name(code):
    """The name of a status code ("DeviceError_NoSession"), or "unknown"."""
    return library().tavrin_error_name(int(code)).decode()


def event_name(code):
    """The name of a legacy event code ("DeviceEvent_HmdConnected"), or "unknown"."""
    return library().tavrin_event_name(int(code)).decode()


def event_kind_name(kind):
    """The name of a frame source's event kind ("device_arrived"), or None for an unknown kind."""
    name = library().tavrin_event_kind_name(int(kind))
    return None if name is None else name.decode()


def role_name(role):
    """The name of a tavrin_role ("left_foot"), or None outside 0..15."""
    name = library().tavrin_role_name(int(role))
    return None if name is None else name.decode()


def role_from_name(name):
    """The tavrin_role of a name ("left_foot" gives 6), or None for a name that is no role."""
    return ROLES.index(name) if name in ROLES else None


def _int(value, what, low, high):
    """An integer argument as the library takes it: a float, a bool or a number outside low..high
    is refused rather than cut to fit."""
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError("%s must be an integer, not %r" % (what, value))
    if not low <= int(value) <= high:
        raise ValueError("%s must be from %d to %d, not %r" % (what, low, high, value))
    return int(value)


def _text(value, what):
    """A serial as the library takes it: str (as UTF-8) or bytes, holding no NUL (which would end
    it early)."""
    if isinstance(value, str):
        value = value.encode("utf-8", "surrogateescape")
    elif not isinstance(value, (bytes, bytearray)):
        raise TypeError("%s must be str or bytes, not %r" % (what, value))
    if b"\0" in value:
        raise ValueError("%s holds a NUL character: %r" % (what, value))
    return bytes(value)


def _path(path):
    encoded = os.fsencode(path)
    if b"\0" in encoded:
        raise ValueError("the path holds a NUL character: %r" % (path,))
    return encoded


def _role(role):
    if isinstance(role, str):
        value = library().tavrin_role_from_name(_text(role, "role"))
        if value < 0:
            raise ValueError("not a role's name: %r (one of %s)" % (role, ", ".join(ROLES)))
        return value
    return _int(role, "role", 0, len(ROLES) - 1)


def _axes(axes):
    if isinstance(axes, str):
        if axes not in AXES:
            raise ValueError("axes must be one of %s, not %r" % (", ".join(AXES), axes))
        return AXES[axes]
    return _int(axes, "axes", 0, len(AXES) - 1)


def _floats(values, n, what):
    if values is None:
        return None
    values = [float(v) for v in values]
    if len(values) != n:
        raise ValueError("%s takes %d numbers, not %d" % (what, n, len(values)))
    return (ctypes.c_float * n)(*values)


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


class _Started:
    """Started on enter (start()), stopped on exit (stop())."""

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
        return False


class Session(_Started):
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


class Frame:
    """One read of a Source: frame_number (the instant's number on the source's grid: 1 for its
    first, +1 an instant, a gap for instants skipped; 0 from read_at), time_ns (the instant these
    poses are for, on now_ns()'s clock), unix_time_ns (that instant on the wall clock),
    query_time_ns (now_ns() when the runtime was asked), devices (a numpy array of DEVICE_DTYPE,
    ascending by index, whose serial column is bytes) and serials (the same serials as a list of
    str)."""

    __slots__ = ("frame_number", "time_ns", "unix_time_ns", "query_time_ns", "devices")

    @property
    def serials(self):
        return [s.decode("utf-8", "replace") for s in self.devices["serial"]]

    def __init__(self, frame_number, time_ns, unix_time_ns, devices, query_time_ns=None):
        self.frame_number = frame_number
        self.time_ns = time_ns
        self.unix_time_ns = unix_time_ns
        self.query_time_ns = time_ns if query_time_ns is None else query_time_ns
        self.devices = devices

    def device(self, key):
        """The record of one device: by serial (str or bytes), else by role name ("waist"); None
        when the frame has none such."""
        serial = key.encode("utf-8", "surrogateescape") if isinstance(key, str) else bytes(key)
        hits = np.flatnonzero(self.devices["serial"] == serial)
        if len(hits) == 0 and isinstance(key, str) and key in ROLES and key != "none":
            hits = np.flatnonzero(self.devices["role"] == ROLES.index(key))
        return self.devices[hits[0]] if len(hits) else None

    def __repr__(self):
        return "Frame(%d, time_ns=%d, %d devices)" % (self.frame_number, self.time_ns, len(self.devices))


class SourceEvent:
    """One change a Source saw: kind ("session_opened", "session_closed", "device_arrived",
    "device_left", "device_switched_on", "device_switched_off", "index_changed"), device_class
    (0 for session events), serial ("" for session events), index (the new one for
    "index_changed"), old_index, device_count (devices known once it is applied), dropped (events
    lost to a full queue just before it) and time_ns."""

    __slots__ = ("kind", "device_class", "serial", "index", "old_index", "device_count", "dropped", "time_ns")

    def __init__(self, raw):
        self.kind = event_kind_name(raw.kind) or "unknown"
        self.device_class = int(raw.device_class)
        self.serial = raw.serial.decode("utf-8", "replace")
        self.index = int(raw.index)
        self.old_index = int(raw.old_index)
        self.device_count = int(raw.device_count)
        self.dropped = int(raw.dropped)
        self.time_ns = int(raw.time_ns)

    def __repr__(self):
        return "SourceEvent(%s, serial=%r, index=%d, old_index=%d, device_count=%d)" % (
            self.kind, self.serial, self.index, self.old_index, self.device_count)


class Source(_Started):
    """A frame source: every device OpenVR serves, in frames on a grid of rate instants a second
    (0: each read is for now), the poses of each frame for its instant. The wait for an instant
    ends as spin_us says (0, the default: sleep only; -1 adaptive: a sleep, then a spin of a margin
    learnt from the machine; N spin exactly the last N microseconds). Starts on enter (or start())
    and stops on exit (or stop()); close() frees it. One thread reads; events may be taken, and
    read_at called, on any thread."""

    def __init__(self, rate=120, spin_us=0):
        self.rate = float(rate)
        self._handle = None
        spin_us = _int(spin_us, "tavrin.Source: spin_us (-1 adaptive, 0 or more)", -1, 2 ** 31 - 1)
        handle = library().tavrin_source_create(self.rate)
        if not handle:
            raise ValueError("tavrin.Source: rate must be 0, or from 0.001 to 100000, not %r" % (rate,))
        self._handle = ctypes.c_void_p(handle)
        if library().tavrin_source_set_spin_us(self._handle, spin_us) != DEVICE_ERROR_NONE:
            library().tavrin_source_destroy(self._handle)
            self._handle = None
            raise ValueError("tavrin.Source: the library refused spin_us %r" % (spin_us,))
        self._frame = np.zeros((), dtype=_FRAME_DTYPE)
        # Calls inside the library (read, next_event), counted so that close() frees the handle
        # only once none is.
        self._calls = threading.Condition()
        self._inflight = 0

    def start(self):
        with self._call() as handle:
            err = library().tavrin_source_start(handle)
        if err != DEVICE_ERROR_NONE:
            raise RuntimeError("tavrin.Source did not start: %s" % error_name(err))
        return self

    def stop(self):
        try:
            with self._call() as handle:
                library().tavrin_source_stop(handle)
        except RuntimeError:
            pass  # closed: stopped already

    def close(self):
        """Stops the source and frees it, once every call in flight on other threads has returned
        (a waiting next_event within 0.2 s, returning None; a read within its period). Reads and
        starts after it raise RuntimeError; next_event returns None."""
        with self._calls:
            handle, self._handle = self._handle, None
            if handle is None:
                return
            self._calls.wait_for(lambda: self._inflight == 0)
        library().tavrin_source_destroy(handle)

    def __del__(self):
        try:
            self.close()
        except Exception:
            pass

    def read(self):
        """The next frame of the source's grid (its instant waited for): a Frame, or None while the
        source has no session. RuntimeError("tavrin.Source is closed") once it is closed."""
        with self._call() as handle:
            err = library().tavrin_source_read(handle, self._frame.ctypes.data_as(ctypes.c_void_p),
                                               _FRAME_DTYPE.itemsize)
            return self._taken(err)

    def read_at(self, instant_ns):
        """The poses at instant_ns (on now_ns()'s clock, within REACH_NS of now), at once, the grid
        untouched: a Frame (frame_number 0), or None while the source has no session. ValueError
        for an instant out of reach."""
        instant_ns = _int(instant_ns, "instant_ns", -2 ** 63, 2 ** 63 - 1)
        with self._call() as handle:
            frame = np.zeros((), dtype=_FRAME_DTYPE)
            err = library().tavrin_source_read_at(handle, instant_ns, frame.ctypes.data_as(ctypes.c_void_p),
                                                  _FRAME_DTYPE.itemsize)
            if err == DEVICE_ERROR_INVALID_ARGUMENT:
                raise ValueError("tavrin.Source.read_at: %d is more than %d ns from now" % (instant_ns, REACH_NS))
            return self._taken(err, frame)

    def _taken(self, err, frame=None):
        if err != DEVICE_ERROR_NONE:
            return None
        f = self._frame if frame is None else frame
        count = int(f["device_count"])
        return Frame(int(f["frame_number"]), int(f["time_ns"]), int(f["unix_time_ns"]),
                     f["devices"][:count].copy(), int(f["query_time_ns"]))

    def next_event(self, timeout=None):
        """The next event, or None when none comes within timeout seconds (None or infinity: wait
        until one comes or the source is closed; zero or less: only what is queued)."""
        if timeout is not None:
            timeout = float(timeout)
            if math.isnan(timeout):
                raise ValueError("tavrin.Source.next_event: timeout is NaN")
            if math.isinf(timeout) and timeout > 0:
                timeout = None
        deadline = None if timeout is None else time.monotonic() + max(0.0, timeout)
        while True:
            left_ms = 200 if deadline is None else int(max(0.0, deadline - time.monotonic()) * 1000)
            got, event = self._next(min(left_ms, 200))
            if got:
                return event
            if self._handle is None or (deadline is not None and time.monotonic() >= deadline):
                return None

    # ---- the rig: roles, offsets, the space, the rig file (see tavrin.h) -----------------------

    def set_role(self, serial, role):
        """Gives the device with this serial a role (a tavrin_role or its name; 0 or "none" takes
        the assignment back). ValueError for a bad serial or role."""
        self._rig("set_role", "role %r for %r" % (role, serial), _text(serial, "serial"), _role(role))

    def set_space(self, position=(0, 0, 0), orientation=(1, 0, 0, 0), axes="openvr", units_per_metre=1.0):
        """The space frames are reported in: origin and rotation (w, x, y, z) in OpenVR's standing
        universe, axes ("openvr", "z_up", "unity", "unreal") and units per metre."""
        space = _Space(_floats(position, 3, "position"), _floats(orientation, 4, "orientation"),
                       _axes(axes), float(units_per_metre))
        self._rig("set_space", "space", ctypes.byref(space))

    def get_space(self):
        """The space as a dict of position, orientation, axes (by name) and units_per_metre."""
        space = _Space()
        self._rig("get_space", "space", ctypes.byref(space))
        names = {v: k for k, v in AXES.items()}
        return {"position": tuple(space.position), "orientation": tuple(space.orientation),
                "axes": names.get(space.axes, space.axes), "units_per_metre": space.units_per_metre}

    def set_origin_from(self, serial):
        """Puts the space's origin and heading where the device is now (its latest valid pose)."""
        self._rig("set_origin_from_device", "no valid pose of %r in the latest frame" % (serial,),
                  _text(serial, "serial"))

    def set_filter(self, serial=None, min_cutoff_hz=0.5, beta=15.0, derivative_cutoff_hz=0.5):
        """The One Euro filter of the device with this serial (None: of every device without its
        own); the defaults are the library's for body trackers; min_cutoff_hz None turns it off.
        ValueError for a bad serial or a number that is not finite or is below 0."""
        f = None
        if min_cutoff_hz is not None:
            values = []
            for name, v in (("min_cutoff_hz", min_cutoff_hz), ("beta", beta),
                            ("derivative_cutoff_hz", derivative_cutoff_hz)):
                if isinstance(v, bool) or not isinstance(v, numbers.Real):
                    raise TypeError("%s must be a number, not %r" % (name, v))
                values.append(float(v))
            f = ctypes.byref(_Filter(*values))
        with self._call() as handle:
            err = library().tavrin_source_set_filter(handle, None if serial is None else _text(serial, "serial"), f)
        if err != DEVICE_ERROR_NONE:
            raise ValueError("tavrin.Source: refused: filter %r for %r" % ((min_cutoff_hz, beta, derivative_cutoff_hz),
                                                                         serial))

    def assign_roles(self):
        """Gives body roles to the trackers of the latest frame read that it can place around the
        head of a person standing or walking upright (feet, knees, waist, chest, shoulders, elbows);
        returns how many. ValueError when the latest frame has no valid head pose."""
        with self._call() as handle:
            placed = library().tavrin_source_assign_roles(handle)
        if placed < 0:
            raise ValueError("tavrin.Source: no valid head pose in the latest frame")
        return placed

    def set_offset(self, serial, position=None, orientation=None):
        """The point the device stands for, in its own frame (metres; w, x, y, z); None for both
        removes it."""
        self._rig("set_offset", "offset for %r" % (serial,), _text(serial, "serial"), _floats(position, 3, "position"),
                  _floats(orientation, 4, "orientation"))

    def save_rig(self, path):
        """Saves roles, offsets and space to a rig file (JSON); ValueError with the reason."""
        self._rig("save_rig", None, _path(path))

    def load_rig(self, path):
        """Loads roles, offsets and space from a rig file, all or nothing; ValueError with the
        reason (the file, and for a bad one the line and what is wrong)."""
        self._rig("load_rig", None, _path(path))

    def _rig(self, name, what, *args):
        with self._call() as handle:
            err = getattr(library(), "tavrin_source_" + name)(handle, *args)
            if err != DEVICE_ERROR_NONE:
                if what is None:
                    raise ValueError(library().tavrin_source_rig_error(handle).decode("utf-8", "replace"))
                raise ValueError("tavrin.Source: refused: %s" % what)

    @contextlib.contextmanager
    def _call(self):
        """The handle, counted as in use for the length of the block; RuntimeError once closed."""
        with self._calls:
            handle = self._handle
            if handle is None:
                raise RuntimeError("tavrin.Source is closed")
            self._inflight += 1
        try:
            yield handle
        finally:
            with self._calls:
                self._inflight -= 1
                self._calls.notify_all()

    # One wait of at most 200 ms, so that Ctrl-C reaches a waiting thread and close() waits no
    # longer than that for it.
    def _next(self, timeout_ms):
        try:
            with self._call() as handle:
                event = _SourceEvent()
                got = library().tavrin_source_next_event(handle, ctypes.byref(event), timeout_ms)
                return got == 1, (SourceEvent(event) if got == 1 else None)
        except RuntimeError:
            return False, None


# Loaded as the module is imported: a library that cannot be loaded is an ImportError that says
# where it was looked for.
library()
