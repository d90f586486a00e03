#!/bin/sh
# The live view end to end: tavrin-monitor --serve against the simulated full-body rig; the page
# and the stream checked by a client of its own (frames parse, their rate, bad requests, many
# clients, clients that vanish), then the page in headless Chromium: every device of the rig is
# listed (eighteen, base stations and indices past 15 among them) and the moving ones update.
# A screenshot is kept in WORK_DIR. Usage: live_test.sh MONITOR PYTHON WORK_DIR
set -u
monitor="$1" python="$2" work="$3"
rm -rf "$work"
mkdir -p "$work"
fail() {
  echo "FAIL: $*"
  echo "--- monitor"; cat "$work/monitor.txt" 2>/dev/null
  kill "$pid" 2>/dev/null
  exit 1
}

# Long enough for a slow machine to take the snapshot while the monitor runs; ended by Ctrl-C
# once it has.
VRSIM_RIG=fullbody "$monitor" --serve 127.0.0.1:0 --seconds 120 >"$work/monitor.txt" 2>&1 &
pid=$!
tries=0
until url=$(grep -a -o 'http://127.0.0.1:[0-9]*/' "$work/monitor.txt"); do
  tries=$((tries + 1))
  [ $tries -lt 200 ] || fail "no live view address within 20 s"
  sleep 0.1
done

"$python" - "$url" <<'PY' || fail "stream checks"
import json, socket, sys, threading, time, urllib.error, urllib.request
url = sys.argv[1]
host, port = url.split("//")[1].rstrip("/").split(":")
port = int(port)

page = urllib.request.urlopen(url).read().decode()
assert '<canvas id="scene"' in page and "EventSource" in page
assert 'src="http' not in page and 'href="http' not in page, "the page fetches nothing from the network"
try:
    urllib.request.urlopen(url + "missing")
    raise AssertionError("a missing path is served")
except urllib.error.HTTPError as e:
    assert e.code == 404

def raw(request):
    s = socket.create_connection((host, port), timeout=5)
    s.sendall(request)
    data = s.recv(200)
    s.close()
    return data
assert raw(b"NONSENSE\r\n\r\n").startswith(b"HTTP/1.1 400"), "a bad request gets 400"
assert raw(b"GET / HTTP/1.1\r\nHost: x\r\nContent-Length: zz\r\n\r\n")[:12] in (b"HTTP/1.1 400", b"HTTP/1.1 200")

def stream(seconds, out):
    s = socket.create_connection((host, port), timeout=5)
    s.sendall(b"GET /stream HTTP/1.1\r\nHost: x\r\n\r\n")
    buf, end = b"", time.time() + seconds
    while time.time() < end:
        chunk = s.recv(65536)
        if not chunk:
            break
        buf += chunk
    s.close()
    frames, events = [], []
    kind = None
    for line in buf.decode(errors="replace").splitlines():
        if line.startswith("event: "):
            kind = line[7:]
        elif line.startswith("data: ") and kind:
            try:
                item = json.loads(line[6:])
            except ValueError:
                continue  # a line split by the chunked framing: the framing is checked below
            (frames if kind == "frame" else events).append(item)
    out.append((frames, events))

got = []
stream(2.0, got)
frames, events = got[0]
assert 60 <= len(frames) <= 240, "about 60 frames a second, got %d in 2 s" % len(frames)
serials = {d["serial"] for f in frames for d in f["devices"]}
assert len(serials) >= 17 and {"LHR-5F0A11C2", "LHB-0A3F5C21", "LHR-3F62D5E1"} <= serials, serials
assert any(d["index"] > 15 for f in frames for d in f["devices"]), "devices past index 15"
assert any(d["cls"] == 4 for f in frames for d in f["devices"]), "base stations"
head = [d["p"] for f in frames for d in f["devices"] if d["serial"] == "LHR-5F0A11C2"]
assert head[0] != head[-1], "the headset moves"
assert any(e["name"] == "device_arrived" for e in events), events
assert all(0 <= f["p50"] and f["rate"] > 0 and f["frame"] > 0 and f["fps"] > 0 for f in frames[10:])
assert frames[-1]["frame"] > frames[10]["frame"], "frame numbers go on"

# Many clients at once, some of which vanish without a word; the server serves on.
results = []
threads = [threading.Thread(target=stream, args=(1.0, results)) for _ in range(20)]
for t in threads:
    t.start()
for _ in range(10):
    s = socket.create_connection((host, port), timeout=5)
    s.sendall(b"GET /stream HTTP/1.1\r\nHost: x\r\n\r\n")
    s.close()
for t in threads:
    t.join()
assert len(results) == 20 and all(len(f) >= 20 for f, _ in results), [len(f) for f, _ in results]
assert urllib.request.urlopen(url).status == 200
print("stream ok: %d frames in 2 s, %d devices, 20 clients at once" % (len(frames), len(serials)))
PY

# The page in a real browser. Chromium renders once the page's requests are done, which for the
# stream is when the monitor ends; so both runs start now and finish with the monitor.
chrome="chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking"
chrome="$chrome --disable-component-update --disable-sync --virtual-time-budget=2000 --window-size=1280,760"
timeout 60 $chrome --user-data-dir="$work/profile1" --dump-dom "$url" >"$work/page.html" 2>"$work/chromium1.txt" &
dom=$!
# ?snapshot=1 takes a second of the stream, draws once and closes it: that run ends while the
# monitor still runs.
timeout 60 $chrome --user-data-dir="$work/profile2" --screenshot="$work/live.png" "${url}?snapshot=1" \
  >/dev/null 2>"$work/chromium2.txt" &
shot=$!
timeout 60 $chrome --user-data-dir="$work/profile3" --dump-dom "${url}?snapshot=1" >"$work/snapshot.html" \
  2>"$work/chromium3.txt" || fail "chromium could not take a snapshot"
wait $shot
kill -0 $pid 2>/dev/null || fail "the snapshot waited for the monitor to end"
grep -q 'data-snapshot="done"' "$work/snapshot.html" || fail "the snapshot did not finish"
grep -q 'data-role="' "$work/snapshot.html" || fail "the page shows no roles"
kill -INT $pid
wait $pid
rc=$?
[ $rc -eq 130 ] || fail "the monitor exited $rc"
wait $dom || fail "chromium could not load the page"
# The full-body rig: a headset, two controllers, four base stations, eleven body trackers (all but
# the right knee, which drops out at 10 s, as the run ends).
for serial in LHR-5F0A11C2 LHR-FFAB1200 LHR-FFAB1201 LHB-0A3F5C21 LHB-6E91B7D4 LHB-C25A0F83 LHB-F7D2E619 \
  LHR-1D40A7F3 LHR-1D40A7F4 LHR-1D40B012 LHR-2E51C3A0 LHR-2E51C3A1 LHR-2E51C3B4 LHR-2E51C3B5 LHR-3F62D4C8 \
  LHR-3F62D5E0 LHR-3F62D5E1; do
  updates=$(grep -o "data-serial=\"$serial\"[^>]*data-updates=\"[0-9]*\"" "$work/page.html" | grep -o '[0-9]*"$' | tr -d '"')
  [ -n "$updates" ] || fail "the page does not list $serial"
  case "$serial" in
  LHB-*) ;; # base stations stand still
  *) [ "$updates" -gt 10 ] || fail "$serial's position updated only $updates times" ;;
  esac
done
grep -q 'id="frame">[1-9]' "$work/page.html" || fail "the page shows no frame number"
[ -s "$work/live.png" ] || fail "no screenshot"
echo "live view ok (screenshot: $work/live.png)"
