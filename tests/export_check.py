"""Checks a take's BVH or glTF, as assimp read it (its assxml dump), against the recording of the
same take: the frames, the joints' names, every key's position (1e-5 of a unit) and rotation
(0.01 degree), a frame without a valid pose holding the last valid one.

Usage: export_check.py bvh RECORDING FILE.bvh FILE.assxml
       export_check.py gltf RECORDING FILE.assxml
       export_check.py spoil RECORDING OUT  (a recording with a tracker's pose lost for a while)
"""
import csv
import math
import re
import sys
import xml.etree.ElementTree as ET

ROLES = ["none", "head", "left_hand", "right_hand", "waist", "chest", "left_foot", "right_foot", "left_knee",
         "right_knee", "left_elbow", "right_elbow", "left_shoulder", "right_shoulder", "camera", "prop"]


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


# z_up's (x, y, z) is OpenVR's (-z, -x, y): OpenVR's is C times z_up's.
Z_UP_TO_OPENVR = [[0, -1, 0], [0, 0, 1], [-1, 0, 0]]


def to_openvr(axes, p, q):
    """A pose in the recording's axes, in OpenVR's (the take's origin, heading and units kept)."""
    if axes == "openvr":
        return p, q
    if axes != "z_up":
        fail("the check knows openvr and z_up axes, not " + axes)
    c = Z_UP_TO_OPENVR
    w, x, y, z = q
    r = [[1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)],
         [2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)],
         [2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)]]
    m = [[sum(c[i][a] * r[a][b] * c[j][b] for a in range(3) for b in range(3)) for j in range(3)] for i in range(3)]
    # From the largest of the trace and the diagonal, so that no small component is a root's.
    t = m[0][0] + m[1][1] + m[2][2]
    if t > max(m[0][0], m[1][1], m[2][2]):
        f = 2 * math.sqrt(1 + t)
        q = [f / 4, (m[2][1] - m[1][2]) / f, (m[0][2] - m[2][0]) / f, (m[1][0] - m[0][1]) / f]
    elif m[0][0] >= m[1][1] and m[0][0] >= m[2][2]:
        f = 2 * math.sqrt(1 + m[0][0] - m[1][1] - m[2][2])
        q = [(m[2][1] - m[1][2]) / f, f / 4, (m[0][1] + m[1][0]) / f, (m[0][2] + m[2][0]) / f]
    elif m[1][1] >= m[2][2]:
        f = 2 * math.sqrt(1 + m[1][1] - m[0][0] - m[2][2])
        q = [(m[0][2] - m[2][0]) / f, (m[0][1] + m[1][0]) / f, f / 4, (m[1][2] + m[2][1]) / f]
    else:
        f = 2 * math.sqrt(1 + m[2][2] - m[0][0] - m[1][1])
        q = [(m[1][0] - m[0][1]) / f, (m[0][2] + m[2][0]) / f, (m[1][2] + m[2][1]) / f, f / 4]
    return [sum(c[i][k] * p[k] for k in range(3)) for i in range(3)], q


def read_recording(path):
    """Frames in time order, each {serial: (valid, position, quaternion wxyz, role)}, their times and
    numbers; the space."""
    axes, units = "openvr", 1.0
    rows = []
    with open(path, newline="") as f:
        lines = []
        for line in f:
            m = re.match(r"# space: axes (\w+), units_per_metre ([0-9.e+-]+),", line)
            if m and len(lines) <= 1:  # the first space line, before the first row
                axes, units = m.group(1), float(m.group(2))
            if not line.startswith("#"):
                lines.append(line)
        rows = list(csv.DictReader(lines))
    frames, numbers = {}, {}
    for r in rows:
        numbers[int(r["t_ns"])] = int(r["frame"])
        p, q = to_openvr(axes, [float(r["pos_" + a]) for a in "xyz"], [float(r["quat_" + a]) for a in "wxyz"])
        frames.setdefault(int(r["t_ns"]), {})[r["serial"]] = (r["pose_valid"] == "1", p, q, r["role"])
    return [frames[t] for t in sorted(frames)], sorted(frames), [numbers[t] for t in sorted(frames)], axes, units


def joint_name(serial, role):
    if role != "none":
        return role
    return re.sub(r"[^A-Za-z0-9_]", "_", serial)


def expected_tracks(frames):
    """By joint name, the keys a device's track should hold: its poses, held where not valid."""
    tracks = {}
    for serial in dict.fromkeys(s for f in frames for s in f):
        if not any(f.get(serial, (False,))[0] for f in frames):
            continue
        role = next((f[serial][3] for f in reversed(frames) if serial in f and f[serial][3] != "none"), "none")
        first = next(f[serial] for f in frames if serial in f and f[serial][0])
        keys, last, held = [], first, 0
        for f in frames:
            if serial in f and f[serial][0]:
                last = f[serial]
            else:
                held += 1
            keys.append((last[1], last[2]))
        tracks[joint_name(serial, role)] = (keys, held, serial)
    return tracks


def read_assxml(path):
    root = ET.parse(path).getroot()
    animation = root.find(".//Animation")
    if animation is None:
        fail(path + ": assimp read no animation")
    nodes = {}
    for anim in animation.iter("NodeAnim"):
        pos = [(float(k.get("time")), [float(v) for v in k.text.split()]) for k in anim.iter("PositionKey")]
        rot = [(float(k.get("time")), [float(v) for v in k.text.split()]) for k in anim.iter("RotationKey")]
        nodes[anim.get("node")] = (pos, rot)
    return float(animation.get("tick_cnt")), nodes


def angle_degrees(q_wxyz, q_xyzw):
    a = q_wxyz
    b = [q_xyzw[3], q_xyzw[0], q_xyzw[1], q_xyzw[2]]
    dot = abs(sum(x * y for x, y in zip(a, b))) / math.sqrt(sum(x * x for x in a) * sum(x * x for x in b))
    return math.degrees(2 * math.acos(min(1.0, dot)))


def compare(tracks, nodes, scale, times=None):
    """Each track's keys against assimp's; `scale` takes the take's units to the file's (1e-5 of the
    file's unit: a glTF's is the metre)."""
    if set(nodes) - {"root"} != set(tracks):
        fail("joints %s, expected %s" % (sorted(set(nodes) - {"root"}), sorted(tracks)))
    worst_p = worst_r = 0.0
    for name, (keys, _, _) in tracks.items():
        pos, rot = nodes[name]
        if len(pos) != len(keys) or len(rot) != len(keys):
            fail("%s: %d and %d keys, the take has %d frames" % (name, len(pos), len(rot), len(keys)))
        for k, ((p, q), (tp, got_p), (tr, got_q)) in enumerate(zip(keys, pos, rot)):
            if times is not None and (abs(tp - times[k]) > 1e-3 or abs(tr - times[k]) > 1e-3):
                fail("%s key %d at %g, the take's instant is %g" % (name, k, tp, times[k]))
            # 1e-5 of the file's unit, beyond what assimp's floats can hold of a large value
            worst_p = max(worst_p, max(abs(a * scale - b) - abs(b) * 1.2e-7 for a, b in zip(p, got_p)))
            worst_r = max(worst_r, angle_degrees(q, got_q))
    if worst_p > 1e-5 or worst_r > 0.01:
        fail("keys off: position by %g, rotation by %g degrees" % (worst_p, worst_r))
    return worst_p, worst_r


def spoil(recording, out):
    """The recording with its first tracker's pose not valid (and far off) in frames 0-4 and
    100-119; prints that tracker's serial and the 25 frames."""
    with open(recording, newline="") as f:
        lines = f.read().splitlines(keepends=True)
    body = [i for i, line in enumerate(lines) if not line.startswith("#")]
    header = next(csv.reader([lines[body[0]]]))
    rows = {i: next(csv.reader([lines[i]])) for i in body[1:]}
    serial = next(r[2] for r in rows.values() if r[header.index("class")] == "3")
    times = sorted({int(r[header.index("t_ns")]) for r in rows.values()})
    spoilt = set(times[0:5] + times[100:120])
    for i, r in rows.items():
        if r[2] == serial and int(r[header.index("t_ns")]) in spoilt:
            r[header.index("pose_valid")] = "0"
            for axis in "xyz":
                r[header.index("pos_" + axis)] = "9"
            lines[i] = ",".join(r) + "\n"
    open(out, "w").write("".join(lines))
    print(serial, len(spoilt))


def main():
    mode, recording = sys.argv[1], sys.argv[2]
    if mode == "spoil":
        return spoil(recording, sys.argv[3])
    frames, t_ns, numbers, axes, units = read_recording(recording)
    tracks = expected_tracks(frames)
    if mode == "bvh":
        text = open(sys.argv[3]).read()
        count = int(re.search(r"Frames:\s*(\d+)", text).group(1))
        frame_time = float(re.search(r"Frame Time:\s*([0-9.]+)", text).group(1))
        if count != len(frames):
            fail("the BVH has %d frames, the take %d" % (count, len(frames)))
        # The rate of the instants, skipped ones included: the frame numbers count them.
        rate = 1e9 * (numbers[-1] - numbers[0]) / (t_ns[-1] - t_ns[0])
        if abs(frame_time * rate - 1) > 1e-3 or not re.search(r"Frame Time:\s*\d\.\d{6}", text):
            fail("frame time %s for a take at %.3f Hz" % (frame_time, rate))
        ticks, nodes = read_assxml(sys.argv[4])
        if abs(ticks * frame_time - 1) > 1e-6:
            fail("assimp reads %g ticks a second" % ticks)
        worst = compare(tracks, nodes, 1.0)
    else:
        ticks, nodes = read_assxml(sys.argv[3])
        times = [(t - t_ns[0]) * ticks / 1e9 for t in t_ns]
        worst = compare(tracks, nodes, 1.0 / units, times)
    held = {tracks[n][2]: tracks[n][1] for n in tracks if tracks[n][1]}
    print("ok: %s, %d frames, %d joints, worst position %.2g, rotation %.2g deg, held %s"
          % (mode, len(frames), len(tracks), worst[0], worst[1], held))


main()
