"""The Python package against the simulated runtime (VRSIM_LIBRARY names it; TAVRIN_LIBRARY the
library)."""

import ctypes
import os
import threading
import time

import numpy as np
import pytest

import tavrin

vrsim = ctypes.CDLL(os.environ["VRSIM_LIBRARY"])
vrsim.vrsim_set_device.argtypes = [ctypes.c_uint32, ctypes.c_int32, ctypes.c_char_p, ctypes.c_int32]
vrsim.vrsim_set_controller_role.argtypes = [ctypes.c_uint32, ctypes.c_int32]
vrsim.vrsim_set_pose.argtypes = [ctypes.c_uint32, ctypes.POINTER(ctypes.c_float), ctypes.POINTER(ctypes.c_float),
                                 ctypes.POINTER(ctypes.c_float), ctypes.c_int32]


def floats(*values):
    return (ctypes.c_float * len(values))(*values)


@pytest.fixture
def rig():
    vrsim.vrsim_reset()
    for index, cls, serial, x in ((0, 1, b"LHR-HMD", 0.0), (1, 2, b"LHR-C1", -0.3), (2, 3, b"LHR-T1", 0.3)):
        vrsim.vrsim_set_device(index, cls, serial, 1)
        # Barely moving: live, and where it was put at any instant the runtime is asked for.
        vrsim.vrsim_set_pose(index, floats(1, 0, 0, x, 0, 1, 0, 1.5, 0, 0, 1, -0.2), floats(1e-6, 0, 0),
                             floats(0, 0, 0), 200)
    yield
    vrsim.vrsim_reset()


def test_the_record_layout_is_the_librarys():
    assert tavrin.POSE_DTYPE.itemsize == 180
    offsets = {name: tavrin.POSE_DTYPE.fields[name][1] for name in tavrin.POSE_DTYPE.names}
    assert offsets["index"] == 64 and offsets["timestamp_ms"] == 76 and offsets["position"] == 80
    assert offsets["quaternion"] == 92 and offsets["angular_velocity"] == 120 and offsets["rotation"] == 132
    assert tavrin.version() == "0.2.0"
    assert tavrin.error_name(100) == "DeviceError_NoSession" and tavrin.event_name(999) == "unknown"
    assert tavrin.event_kind_name(3) == "device_arrived" and tavrin.event_kind_name(8) is None


def test_a_session_reports_events_and_reads_poses(rig):
    with tavrin.Session(rate=240) as s:
        events = []
        while len(events) < 4:
            e = s.next_event(timeout=20)
            assert e is not None, "events stopped after %r" % events
            events.append(e)
        assert [e.name for e in events] == ["SessionOpened", "HmdConnected", "ControllerConnected",
                                            "TrackerConnected"]
        assert (events[2].serial, events[2].index, events[2].old_index, events[2].count) == ("LHR-C1", 1, 1, 3)
        poses = s.read()
        assert poses.dtype == tavrin.POSE_DTYPE and len(poses) == 3
        assert list(poses["serial"]) == [b"LHR-HMD", b"LHR-C1", b"LHR-T1"]
        np.testing.assert_allclose(poses["position"][2], [0.3, 1.5, -0.2], rtol=1e-6)
        np.testing.assert_allclose(poses["quaternion"][0], [1, 0, 0, 0], atol=1e-6)
        assert s.status() == 0
        assert s.next_event(timeout=0.01) is None
    assert s.status() == 100
    assert len(s.read()) == 0


def test_a_source_sees_every_index_and_tells_each_change(rig):
    # Past index 15, a base station among them.
    for index, cls, serial in ((20, 4, b"LHB-1A2B3C4D"), (40, 3, b"LHR-0000AA40")):
        vrsim.vrsim_set_device(index, cls, serial, 1)
        vrsim.vrsim_set_pose(index, floats(1, 0, 0, 0.1 * index, 0, 1, 0, 2.0, 0, 0, 1, 0), floats(0, 0, 0),
                             floats(0, 0, 0), 200)
    with pytest.raises(ValueError):
        tavrin.Source(rate=-1)
    source = tavrin.Source(rate=0)
    with source:
        first = source.next_event(timeout=20)
        assert first.kind == "session_opened"
        arrivals = [source.next_event(timeout=20) for _ in range(5)]
        assert [e.kind for e in arrivals] == ["device_arrived"] * 5
        assert [e.index for e in arrivals] == [0, 1, 2, 20, 40]
        assert (arrivals[3].serial, arrivals[3].device_class, arrivals[4].device_count) == ("LHB-1A2B3C4D", 4, 5)
        frame = source.read()
        assert frame.frame_number == 1 and frame.time_ns <= tavrin.now_ns()
        devices = frame.devices
        assert devices.dtype == tavrin.DEVICE_DTYPE and len(devices) == 5
        assert frame.serials[3] == "LHB-1A2B3C4D"
        assert list(devices["index"]) == [0, 1, 2, 20, 40]
        np.testing.assert_allclose(devices["position"][4], [4.0, 2.0, 0.0], rtol=1e-6)
        assert devices["rotation"].shape == (5, 3, 3) and list(devices["connected"]) == [1] * 5

        vrsim.vrsim_set_device(2, 0, None, 0)
        vrsim.vrsim_set_device(1, 2, b"LHR-C1", 0)
        changes = {e.serial: e.kind for e in (source.next_event(timeout=20) for _ in range(2))}
        assert changes == {"LHR-T1": "device_left", "LHR-C1": "device_switched_off"}
        assert source.next_event(timeout=0) is None
    assert source.read() is None
    source.close()
    assert source.next_event(timeout=0) is None


def test_a_source_closed_under_its_reader_and_odd_timeouts(rig):
    source = tavrin.Source(rate=1000).start()
    outcomes = []

    def reader():
        while True:
            try:
                frame = source.read()
            except RuntimeError as e:
                outcomes.append(str(e))
                return
            if frame is not None:
                outcomes.append(len(frame.devices))

    thread = threading.Thread(target=reader)
    thread.start()
    while not outcomes:
        time.sleep(0.001)
    source.close()
    thread.join(timeout=20)
    assert not thread.is_alive()
    assert outcomes[-1] == "tavrin.Source is closed" and 3 in outcomes
    with pytest.raises(RuntimeError, match="tavrin.Source is closed"):
        source.read()

    with tavrin.Source(rate=0) as s:
        assert s.next_event(timeout=float("inf")).kind == "session_opened"
        with pytest.raises(ValueError, match="timeout"):
            s.next_event(timeout=float("nan"))
        s.close()
        assert s.next_event(timeout=float("inf")) is None


def test_a_rig_of_roles_offsets_and_space(rig, tmp_path):
    vrsim.vrsim_set_controller_role(1, 1)
    with tavrin.Source(rate=0) as source:
        while source.next_event(timeout=20).serial != "LHR-T1":
            pass
        frame = source.read()
        assert [tavrin.role_name(r) for r in frame.devices["role"]] == ["head", "left_hand", "none"]
        # Level with the head facing -z, 30 cm to its right: a tracker on the right upper arm.
        assert source.assign_roles() == 1
        frame = source.read()
        assert tavrin.role_name(frame.devices["role"][2]) == "right_shoulder"
        assert frame.device("right_shoulder")["serial"] == b"LHR-T1" and frame.device("LHR-T1")["role"] == 13
        assert frame.device("waist") is None and frame.device("LHR-NONE") is None
        assert tavrin.role_from_name("right_shoulder") == 13 and tavrin.role_from_name("elbow") is None
        source.set_filter()
        source.set_filter("LHR-T1", min_cutoff_hz=None)
        with pytest.raises(ValueError):
            source.set_filter(beta=float("nan"))
        source.set_role("LHR-T1", "waist")
        source.set_offset("LHR-T1", position=(0, 0, 0.1))
        source.set_space(axes="z_up", units_per_metre=1000)
        frame = source.read()
        assert tavrin.role_name(frame.devices["role"][2]) == "waist"
        # The tracker at (0.3, 1.5, -0.2), 10 cm along its own z: in z-up millimetres, (-z, -x, y)
        # of (0.3, 1.5, -0.1).
        np.testing.assert_allclose(frame.devices["position"][2], [100, -300, 1500], rtol=1e-5)
        with pytest.raises(ValueError):
            source.set_role("", "head")
        with pytest.raises(ValueError):
            source.set_role("LHR-T1", "elbow")
        path = tmp_path / "rig.json"
        source.save_rig(path)
        bad = tmp_path / "bad.json"
        bad.write_text('{"format": "tavrin-rig", "version": 2}')
        with pytest.raises(ValueError, match="bad.json"):
            source.load_rig(bad)
        source.set_space()
        source.load_rig(path)
        assert source.get_space()["axes"] == "z_up"


def test_a_library_that_cannot_be_loaded_is_an_import_error_naming_where(tmp_path):
    env = dict(os.environ, TAVRIN_LIBRARY=str(tmp_path / "libtavrin.so.0"))
    import subprocess
    import sys
    r = subprocess.run([sys.executable, "-c", "import tavrin"], env=env, capture_output=True, text=True)
    assert r.returncode != 0 and "ImportError" in r.stderr, r.stderr
    assert str(tmp_path) in r.stderr and "TAVRIN_LIBRARY" in r.stderr, r.stderr


def test_bad_arguments_are_refused_and_each_thread_gets_its_own_reason(tmp_path):
    source = tavrin.Source(rate=0)
    try:
        for role in (4294967297, 3.7, -1, 16, None):
            with pytest.raises((ValueError, TypeError)):
                source.set_role("LHR-T1", role)
        with pytest.raises(ValueError):
            source.set_role("A\x00TRK-B", "head")
        with pytest.raises(ValueError):
            source.load_rig(str(tmp_path / "rig.json") + "\x00x")
        with pytest.raises(ValueError):
            source.set_space(axes="sideways")
        with pytest.raises(ValueError):
            tavrin.Source(rate=0, spin_us=2 ** 31)

        # Threads loading bad files of their own through one source: each hears of its own file.
        wrong = []

        def load(name):
            path = tmp_path / name
            path.write_text("not json")
            for _ in range(200):
                try:
                    source.load_rig(path)
                except ValueError as e:
                    if name not in str(e):
                        wrong.append(str(e))
        threads = [threading.Thread(target=load, args=("rig-%d.json" % t,)) for t in range(3)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert wrong == []
    finally:
        source.close()


def test_frames_on_the_grid_and_poses_at_any_instant_within_reach(rig):
    with tavrin.Source(rate=250) as source:
        while source.next_event(timeout=20).serial != "LHR-T1":
            pass
        first, second = source.read(), source.read()
        assert second.frame_number == first.frame_number + 1
        assert second.time_ns - first.time_ns == 4000000 and second.query_time_ns >= second.time_ns
        now = tavrin.now_ns()
        at = source.read_at(now - 50000000)
        assert at.frame_number == 0 and at.time_ns == now - 50000000 and len(at.devices) == 3
        with pytest.raises(ValueError):
            source.read_at(now + 2 * tavrin.REACH_NS)
        assert source.read().frame_number == second.frame_number + 1, "read_at leaves the grid as it was"
