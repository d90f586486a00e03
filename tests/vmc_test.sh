#!/bin/sh
# VMC over OSC against a receiver from another project, liblo's oscdump: the monitor sends the
# simulated full-body rig at 30 bundles a second to it and to a port where nothing listens; the
# addresses, type tags, serials and rate are checked, and every pose against the CSV of the same
# run in the receivers' frame. Then VRChat's OSC trackers, likewise; then a bad --osc is refused. Usage: vmc_test.sh MONITOR PYTHON WORK_DIR
set -u
monitor="$1" python="$2" work="$3"
rm -rf "$work"
mkdir -p "$work"
dump=""
fail() {
  echo "FAIL: $*"
  echo "--- monitor"; cat "$work/out.txt" 2>/dev/null
  echo "--- oscdump (head)"; head -n 20 "$work/osc.txt" 2>/dev/null
  [ -n "$dump" ] && kill "$dump" 2>/dev/null
  exit 1
}
free_port() {
  "$python" -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
# oscdump on a free port ($port), writing to FILE, once it is seen to receive.
listen() {
  port=$(free_port)
  oscdump -L "$port" >"$1" 2>"$work/oscdump.err" &
  dump=$!
  tries=0
  until grep -q "^[0-9a-f.]* /probe" "$1" 2>/dev/null; do
    tries=$((tries + 1))
    [ $tries -lt 100 ] || fail "oscdump does not receive"
    oscsend 127.0.0.1 "$port" /probe i 1
    sleep 0.1
  done
}
# Waits until FILE has stopped growing (loopback delivers at once), then ends oscdump.
settle() {
  last=-1
  while [ "$(wc -c <"$1")" != "$last" ]; do
    last=$(wc -c <"$1")
    sleep 0.2
  done
  kill "$dump" 2>/dev/null
}
silent=$(free_port) # nothing listens there
listen "$work/osc.txt"

VRSIM_RIG=fullbody "$monitor" --seconds 3 --rate 120 --osc "127.0.0.1:$port" --osc "$silent" --osc-rate 30 \
  --csv "$work/run.csv" >"$work/out.txt" 2>&1 || fail "the monitor exited $?"
settle "$work/osc.txt"
grep -q "osc  *[0-9]* bundles to 2 receivers" "$work/out.txt" || fail "no OSC figures in the summary"

"$python" - "$work/osc.txt" "$work/run.csv" "$work/out.txt" <<'PY' || fail "the OSC stream"
import bisect, csv, re, sys
osc_path, csv_path, out_path = sys.argv[1:4]
bundles = []
for line in open(osc_path):
    parts = line.split()
    if len(parts) < 3 or parts[1] == "/probe":
        continue
    address, types, args = parts[1], parts[2], parts[3:]
    if address == "/VMC/Ext/OK":
        assert types == "i" and args == ["1"], line
        bundles.append({"poses": []})
        continue
    assert bundles, "a message before the first /VMC/Ext/OK: " + line
    if address == "/VMC/Ext/T":
        assert types == "f" and "t" not in bundles[-1], line
        bundles[-1]["t"] = float(args[0])
        continue
    assert address in ("/VMC/Ext/Hmd/Pos", "/VMC/Ext/Con/Pos", "/VMC/Ext/Tra/Pos"), line
    assert types == "sfffffff", line
    serial = args[0].strip('"')
    bundles[-1]["poses"].append((address, serial, [float(v) for v in args[1:]]))

assert len(bundles) > 30, "%d bundles" % len(bundles)
assert all("t" in b for b in bundles), "every bundle has its time"
span = bundles[-1]["t"] - bundles[0]["t"]
rate = (len(bundles) - 1) / span
assert 24 <= rate <= 31, "%.1f bundles a second, asked 30" % rate

rows = {}
classes = {}
for r in csv.DictReader(l for l in open(csv_path) if not l.startswith("#")):
    rows.setdefault(float(r["timestamp_ms"]), {})[r["serial"]] = r
    classes[r["serial"]] = int(r["class"])
address_of = {1: "/VMC/Ext/Hmd/Pos", 2: "/VMC/Ext/Con/Pos", 3: "/VMC/Ext/Tra/Pos"}
sent = {serial for b in bundles for _, serial, _ in b["poses"]}
moving = {s for s, c in classes.items() if c in address_of}
assert not any(s.startswith("LHB-") for s in sent), "base stations are not sent"
assert sent == moving, (sorted(sent), sorted(moving))

times = sorted(rows)
def frame_at(ms):  # the CSV's frame at this time (/VMC/Ext/T is a float of seconds)
    i = bisect.bisect_left(times, ms)
    near = min(times[max(0, i - 1):i + 1], key=lambda t: abs(t - ms))
    return rows[near] if abs(near - ms) < 0.01 else None

checked = 0
for b in bundles:
    frame = frame_at(b["t"] * 1000.0)
    assert frame is not None, "no frame of the CSV at %.4f s" % b["t"]
    valid = {s for s, r in frame.items() if r["connected"] == "1" and r["pose_valid"] == "1" and classes[s] in address_of}
    assert {s for _, s, _ in b["poses"]} == valid, "the bundle's devices are the frame's connected, valid ones"
    for address, serial, v in b["poses"]:
        r = frame[serial]
        assert address == address_of[classes[serial]], (address, serial)
        # Unity's frame: position (x, y, -z); quaternion (-qx, -qy, qz, qw), sent x y z w.
        want = [float(r["pos_x"]), float(r["pos_y"]), -float(r["pos_z"]),
                -float(r["quat_x"]), -float(r["quat_y"]), float(r["quat_z"]), float(r["quat_w"])]
        assert all(abs(a - b) < 2e-5 for a, b in zip(v, want)), (serial, v, want)
        checked += 1

# A receiver that is not there costs failed sends, counted, never the run: every read is a frame.
out = open(out_path).read()
frames = re.search(r"frames +([0-9]+), numbers 1 to ([0-9]+) \(0 missing\)", out)
assert frames and frames.group(1) == frames.group(2), "frames lost beside a receiver that is not there"
assert re.search(r"osc +[0-9]+ bundles to 2 receivers, [0-9]+ failed sends", out), "no count of failed sends"
print("VMC over OSC ok: %d bundles at %.1f/s, %d poses checked against the CSV, %d devices" %
      (len(bundles), rate, checked, len(sent)))
PY

# VRChat's OSC trackers from the same rig with roles given: the waist, the left foot (switched off
# now and then) and the right knee (which drops out and comes back at a new index), the headset as
# the head. Every message is checked against the CSV of the run: the position in Unity's frame and
# the rotation as Unity's Euler angles (z, then x, then y).
listen "$work/vrchat.txt"
VRSIM_RIG=fullbody "$monitor" --seconds 3 --rate 120 --osc "127.0.0.1:$port" --osc-format vrchat --osc-rate 30 \
  --role LHR-1D40A7F3=waist --role LHR-3F62D5E0=left_foot --role LHR-3F62D4C9=right_knee \
  --csv "$work/vrchat.csv" >"$work/out.txt" 2>&1 || fail "the VRChat run exited $?"
settle "$work/vrchat.txt"
"$python" - "$work/vrchat.txt" "$work/vrchat.csv" <<'PY' || fail "the VRChat stream"
import csv, math, sys
osc_path, csv_path = sys.argv[1:3]
messages = []
for line in open(osc_path):
    parts = line.split()
    if len(parts) < 3 or parts[1] == "/probe":
        continue
    assert parts[1].startswith("/tracking/trackers/") and parts[2] == "fff", line
    messages.append((parts[1], [float(v) for v in parts[3:6]]))
tracker = {"head": "head", "waist": "1", "left_foot": "3", "right_knee": "6"}
rows = {}
for r in csv.DictReader(l for l in open(csv_path) if not l.startswith("#")):
    if r["role"] in tracker and r["connected"] == "1" and r["pose_valid"] == "1":
        rows.setdefault(tracker[r["role"]], []).append(r)

def unity(r):  # position (x, y, -z); quaternion (-qx, -qy, qz, qw); Euler from R = Ry Rx Rz
    p = [float(r["pos_x"]), float(r["pos_y"]), -float(r["pos_z"])]
    w, x, y, z = float(r["quat_w"]), -float(r["quat_x"]), -float(r["quat_y"]), float(r["quat_z"])
    pitch = math.degrees(math.asin(max(-1.0, min(1.0, -2 * (y * z - w * x)))))
    yaw = math.degrees(math.atan2(2 * (x * z + w * y), 1 - 2 * (x * x + y * y)))
    roll = math.degrees(math.atan2(2 * (x * y + w * z), 1 - 2 * (x * x + z * z)))
    return p, [pitch, yaw, roll]

assert len(messages) > 100 and len(messages) % 2 == 0, len(messages)
sent = set()
for i in range(0, len(messages), 2):
    (pa, pv), (ra, rv) = messages[i], messages[i + 1]
    t = pa.split("/")[3]
    assert pa.endswith("/position") and ra == "/tracking/trackers/%s/rotation" % t, (pa, ra)
    sent.add(t)
    match = [unity(r) for r in rows[t] if all(abs(a - b) < 2e-5 for a, b in zip(pv, unity(r)[0]))]
    assert match, "no frame of the CSV has %s at %r" % (pa, pv)
    assert any(all(abs((a - b + 180) % 360 - 180) < 0.01 for a, b in zip(rv, m[1])) for m in match), (ra, rv, match[:2])
assert sent == {"head", "1", "3", "6"}, sent
print("VRChat trackers ok: %d messages for %s" % (len(messages), sorted(sent)))
PY
grep -q "VRChat trackers over OSC" "$work/out.txt" || fail "the VRChat receiver was not announced"
# The summary counts what went out: a datagram a message, several a frame.
frames=$(sed -n 's/.*osc  *\([0-9]*\) frames to 1 receivers.*/\1/p' "$work/out.txt")
datagrams=$(sed -n 's/.* \([0-9]*\) datagrams sent.*/\1/p' "$work/out.txt")
received=$(grep -c "/tracking/trackers/" "$work/vrchat.txt")
[ -n "$frames" ] && [ -n "$datagrams" ] && [ "$datagrams" -ge "$received" ] && [ "$datagrams" -gt "$frames" ] ||
  fail "the summary's OSC count: frames '$frames', datagrams '$datagrams', $received received"

expect_refused() {
  "$monitor" "$@" >"$work/bad.txt" 2>&1
  rc=$?
  [ $rc -eq 2 ] || fail "'$*' exited $rc, expected 2"
  grep -q -- "--osc" "$work/bad.txt" || fail "'$*' does not name the option"
}
expect_refused --osc 127.0.0.1:
expect_refused --osc 0
expect_refused --osc host:99999
expect_refused --osc-rate 0 --osc 39539
expect_refused --osc-format osc --osc 39539
expect_refused --osc no.such.host.invalid:39539
echo "vmc ok"
