#!/bin/sh
# End to end: tavrin-monitor run for about two seconds against the demo rig, off a terminal, and
# its handling of bad input; recordings made and replayed, of the demo rig, of the full-body rig
# (more than 16 devices, indices past 15, base stations) and of 0.2.0 (tests/data).
# Usage: monitor_e2e.sh WORKDIR DATADIR COMMAND...
dir="$1" data="$2"
shift 2
rm -rf "$dir"
mkdir -p "$dir"
fail() {
  echo "FAIL: $*"
  echo "--- stdout"; cat "$dir/out.txt" 2>/dev/null
  echo "--- stderr"; cat "$dir/err.txt" 2>/dev/null
  exit 1
}

"$@" --seconds 2 --rate 200 --csv "$dir/run.csv" --plot "$dir/run.svg" >"$dir/out.txt" 2>"$dir/err.txt"
rc=$?
[ $rc -eq 0 ] || fail "exit status $rc"
grep -q "session_opened" "$dir/out.txt" || fail "no session-opened event"
grep -q "device_arrived *LHR-5F0A11C2 *hmd" "$dir/out.txt" || fail "no headset arrival"
grep -q "device_arrived *LHB-4A8D2E61 *base" "$dir/out.txt" || fail "no base station arrival"
grep -q "summary" "$dir/out.txt" || fail "no summary"
grep -q "wait error" "$dir/out.txt" || fail "no pacing figures"
grep -q "frame spacing *p50 [0-9.]* ms, p99" "$dir/out.txt" || fail "no frame spacing"
grep -q "frames *[1-9][0-9]*, numbers 1 to" "$dir/out.txt" || fail "no frame count"
grep -q "events *[0-9]* (0 dropped)" "$dir/out.txt" || fail "no event count"
rows=$(tr -d '\r' <"$dir/run.csv" | wc -l)
[ "$rows" -gt 100 ] || fail "csv has only $rows lines"
# The CSV names its space and roles on '#' lines before its header line.
grep -v '^#' "$dir/run.csv" | head -n 1 | grep -q "^read,timestamp_ms,serial" || fail "csv header"
head -n 1 "$dir/run.csv" | grep -q "^# space: axes openvr, units_per_metre 1, origin 0 0 0, orientation 1 0 0 0" ||
  fail "the csv does not name its space first"
grep -q "LHR-5F0A11C2" "$dir/run.svg" || fail "plot does not name the headset"
grep -q "</svg>" "$dir/run.svg" || fail "plot incomplete"
ls "$dir" | grep -q partial && fail "a temporary file was left behind"

# Sends Ctrl-C to the monitor $pid once the command after WHY succeeds (polled for 20 s; WHY is
# the failure otherwise), and puts its exit status in $rc.
interrupt_once() {
  why="$1"
  shift
  tries=0
  until "$@"; do
    tries=$((tries + 1))
    [ $tries -lt 200 ] || fail "$why"
    sleep 0.1
  done
  kill -INT $pid
  wait $pid
  rc=$?
}
# Whether the monitor $pid has PATH open.
has_open() { ls -l "/proc/$pid/fd" 2>/dev/null | grep -q "$1"; }

expect_status() {
  want=$1
  shift
  "$@" >"$dir/out.txt" 2>"$dir/err.txt"
  got=$?
  [ $got -eq "$want" ] || fail "'$*' exited $got, expected $want"
  [ -s "$dir/err.txt" ] || fail "'$*' printed no message"
}
expect_status 2 "$@" --rate 0
expect_status 2 "$@" --rate fast
expect_status 2 "$@" --seconds -1
expect_status 2 "$@" --bogus
expect_status 2 "$@" --osc nowhere
expect_status 1 "$@" --seconds 1 --csv "$dir/missing/run.csv"
[ -e "$dir/missing/run.csv" ] && fail "unwritable csv path produced a file"
expect_status 1 "$@" --seconds 1 --csv "$dir/kept.csv" --plot "$dir/missing/run.svg"
ls "$dir" | grep -q "kept.csv" && fail "a csv was left behind by a run that did not start"
"$@" --help >"$dir/out.txt" 2>&1 || fail "--help failed"
grep -q -- "--rate" "$dir/out.txt" || fail "--help lists no options"
# Record and replay: record a rig, replay the recording at the same rate and record the replay. The
# same events come back, and every replayed frame is the recorded one at its offset from the first
# instant: the same poses, velocities, flags and results, to the last digit.
events() { tr -d '\r' <"$1" | grep '^#event2' | cut -d, -f3,4 | sort; }
# Per frame and device, by the frame's offset from the first: pose, velocities, flags, result.
frames() {
  tr -d '\r' <"$1" | grep -v '^#' | awk -F, 'NR == 2 { t0 = $21 } NR > 1 {
    printf "%.0f|%s", $21 - t0, $3; for (i = 7; i <= 19; i++) printf "|%s", $i; printf "|%s|%s|%s\n", $23, $24, $25 }' | sort
}
same_run() {
  [ "$(events "$1")" = "$(events "$2")" ] || fail "the replay's events differ: $(events "$1" | tr '\n' ' ') / $(events "$2" | tr '\n' ' ')"
  frames "$1" >"$1.frames"
  frames "$2" >"$2.frames"
  # Every frame of the replay that the recording also has (its offsets) is the recorded one.
  cut -d'|' -f1,2 "$1.frames" | sort >"$1.keys"
  cut -d'|' -f1,2 "$2.frames" | sort >"$2.keys"
  common=$(comm -12 "$1.keys" "$2.keys" | wc -l)
  total=$(wc -l <"$2.keys")
  [ "$common" -gt 0 ] && [ $((common * 10)) -ge $((total * 9)) ] ||
    fail "the replay's frames are not at the recorded offsets ($common of $total)"
  for f in "$1" "$2"; do
    sed 's/|/@/; s/|/ /' "$f.frames" | sort -k1,1 >"$f.joined"
  done
  [ "$(join "$1.joined" "$2.joined" | wc -l)" -eq "$common" ] || fail "the recorded and replayed frames do not pair up"
  differ=$(join "$1.joined" "$2.joined" | awk '$2 != $3' | head -n 3)
  [ -z "$differ" ] || fail "replayed frames differ from the recorded ones: $differ"
}
"$@" --seconds 3 --record "$dir/first.csv" >"$dir/out.txt" 2>"$dir/err.txt" || fail "recording failed"
head -n 1 "$dir/first.csv" | grep -q "^# tavrin recording 2" || fail "not a frame source's recording"
"$@" --seconds 3 --replay "$dir/first.csv" --record "$dir/second.csv" >"$dir/out.txt" 2>"$dir/err.txt" ||
  fail "replay failed"
grep -q "replaying" "$dir/out.txt" || fail "the replay was not announced"
same_run "$dir/first.csv" "$dir/second.csv"

# The full-body rig through the monitor: more than 16 devices, indices past 15, base stations;
# its recording replayed.
VRSIM_RIG=fullbody "$@" --seconds 3 --record "$dir/body.csv" >"$dir/out.txt" 2>"$dir/err.txt" ||
  fail "full-body run failed"
grep -q "VRSIM_RIG=fullbody" "$dir/out.txt" || fail "the environment's rig was not kept"
rows() { tr -d '\r' <"$1" | grep -v '^#' | tail -n +2; }
devices=$(rows "$dir/body.csv" | cut -d, -f3 | sort -u | wc -l)
[ "$devices" -ge 17 ] || fail "the full-body rig shows $devices devices"
rows "$dir/body.csv" | awk -F, '$4 > 15 { high = 1 } $5 == 4 { base = 1 } END { exit !(high && base) }' ||
  fail "no device past index 15, or no base station, in the full-body recording"
[ "$(grep -c '^#event2,[0-9]*,device_arrived' "$dir/body.csv")" -ge 17 ] || fail "arrivals missing from the recording"
"$@" --seconds 3 --replay "$dir/body.csv" --record "$dir/body2.csv" >"$dir/out.txt" 2>"$dir/err.txt" ||
  fail "full-body replay failed"
same_run "$dir/body.csv" "$dir/body2.csv"

# A recording in Unity's axes and millimetres replays in them: not mirrored, not in metres.
"$@" --seconds 1.5 --axes unity --units mm --record "$dir/unity.csv" >"$dir/out.txt" 2>"$dir/err.txt" ||
  fail "the Unity-axes recording failed"
"$@" --seconds 1.5 --replay "$dir/unity.csv" --record "$dir/unity2.csv" >"$dir/out.txt" 2>"$dir/err.txt" ||
  fail "the Unity-axes replay failed"
grep -q "^# space: axes unity, units_per_metre 1000," "$dir/unity2.csv" || fail "the replay is not in the recording's space"
first_headset() { tr -d '\r' <"$1" | grep -v '^#' | awk -F, '$3 == "LHR-5F0A11C2" { print $7, $8, $9; exit }'; }
echo "$(first_headset "$dir/unity.csv") $(first_headset "$dir/unity2.csv")" |
  awk '{ for (i = 1; i <= 3; i++) if ($i - $(i + 3) > 0.01 || $(i + 3) - $i > 0.01) exit 1 }' ||
  fail "the replay's first headset pose is not the recording's: $(first_headset "$dir/unity.csv") / $(first_headset "$dir/unity2.csv")"

# A 0.2.0 recording (made by that version's monitor) replays as it did: its devices come back.
"$@" --seconds 2 --replay "$data/demo-0.2.0.csv" --record "$dir/old.csv" >"$dir/out.txt" 2>"$dir/err.txt" ||
  fail "the 0.2.0 recording does not replay"
for serial in LHR-5F0A11C2 LHR-FFAB1200 LHR-FFAB1201 LHR-7C3E9A10; do
  grep -q "device_arrived *$serial" "$dir/out.txt" || fail "the 0.2.0 replay lacks $serial"
done
# Refused inputs exit 2 and say why: a file that is no recording, a directory, a pose no room
# holds (nothing plays), a bad recording named in the environment, a run longer than the clock.
expect_status 2 "$@" --seconds 1 --replay "$dir/out.txt"
expect_status 2 "$@" --seconds 1 --replay "$dir"
grep -q "is a directory" "$dir/err.txt" || fail "a directory given to --replay is not called one"
tr -d '\r' <"$dir/first.csv" | awk -F, -v OFS=, 'seen && !/^#/ { $7 = "-1e308"; print; exit } { print } /^read,/ { seen = 1 }' \
  >"$dir/far.csv"
expect_status 2 "$@" --seconds 1 --replay "$dir/far.csv"
grep -q "line [0-9]*: pos_x is beyond 1 km" "$dir/err.txt" || fail "a position beyond 1 km is not refused by its line"
VRSIM_RIG="replay:$dir/far.csv" "$@" --seconds 1 >"$dir/out.txt" 2>"$dir/err.txt"
rc=$?
[ $rc -eq 2 ] || fail "VRSIM_RIG=replay: with a refused file exited $rc, expected 2"
grep -q "pos_x" "$dir/err.txt" || fail "VRSIM_RIG=replay: with a refused file said nothing"
expect_status 2 "$@" --seconds 9.3e9
# A recording read from a pipe, and from a FIFO whose writer comes late (not under an emulator,
# which has neither).
case "$1" in
*wine*) ;;
*)
  cat "$dir/first.csv" | "$@" --seconds 1 --replay /dev/stdin >"$dir/out.txt" 2>"$dir/err.txt" ||
    fail "a replay from a pipe failed"
  grep -q "device_arrived *LHR-7C3E9A10" "$dir/out.txt" || fail "the piped replay showed no tracker"
  mkfifo "$dir/fifo" || fail "mkfifo"
  { sleep 1; cat "$dir/first.csv" >"$dir/fifo"; } &
  "$@" --seconds 1 --replay "$dir/fifo" >"$dir/out.txt" 2>"$dir/err.txt" || fail "a replay from a FIFO failed"
  wait
  ;;
esac
# Any program replays through the environment (here the monitor, which leaves the rig as it is).
VRSIM_RIG="replay:$dir/first.csv" "$@" --seconds 1 >"$dir/out.txt" 2>"$dir/err.txt" ||
  fail "replay through VRSIM_RIG failed"
grep -q "device_arrived *LHR-7C3E9A10 *trk" "$dir/out.txt" || fail "VRSIM_RIG=replay: showed no tracker"

# A rig set up from the command line: a role and the origin from the waist tracker, saved to the
# rig file; the CSV shows the role. A bad rig file refuses the run, naming its line.
VRSIM_RIG=fullbody "$@" --seconds 1 --rig "$dir/body.rig" --role LHR-1D40A7F3=waist --origin LHR-1D40A7F3 \
  --csv "$dir/rig.csv" >"$dir/out.txt" 2>"$dir/err.txt" || fail "the rig run failed"
grep -q '"LHR-1D40A7F3": {' "$dir/body.rig" || fail "the rig file lacks the tracker"
grep -q '"role": "waist"' "$dir/body.rig" || fail "the rig file lacks the role"
grep -q "origin and heading set from LHR-1D40A7F3" "$dir/out.txt" || fail "the origin was not set"
tr -d '\r' <"$dir/rig.csv" | awk -F, '$3 == "LHR-1D40A7F3" && $26 == "waist" { n++ } END { exit !(n > 10) }' ||
  fail "the CSV does not show the waist"
echo '{"format": "tavrin-rig", "version": 1, "devices": {"X": {"role": "tail"}}}' >"$dir/bad.rig"
expect_status 2 "$@" --seconds 1 --rig "$dir/bad.rig"
grep -q "bad.rig, line 1: the role of X" "$dir/err.txt" || fail "a bad rig file is not named with its line"

# A serial never seen is said, at the first frame and in the summary. A rig the run did not change
# is not written; a changed one is written through a link, keeping the file's mode and the keys
# the library does not read.
# A runtime that needs a headset and has none: the monitor says how to run trackers without one.
VRSIM_RIG=noheadset "$@" --seconds 1.5 >"$dir/out.txt" 2>"$dir/err.txt" || fail "the run without a headset failed"
[ "$(grep -c 'no headset: .*requireHmd false' "$dir/out.txt")" -eq 1 ] || fail "no word, or more than one, on running without a headset"
# --auto-roles places the walking body's trackers, says so, and the rig file keeps them; the
# uncharged neck tracker is named once.
VRSIM_RIG=fullbody "$@" --seconds 1 --auto-roles --rig "$dir/auto.rig" >"$dir/out.txt" 2>"$dir/err.txt" ||
  fail "the --auto-roles run failed"
grep -q "auto roles: .*LHR-3F62D5E0 left_foot" "$dir/out.txt" || fail "--auto-roles did not say it placed the left ankle"
grep -q '"role": "right_elbow"' "$dir/auto.rig" || fail "the rig file lacks the roles --auto-roles gave"
[ "$(grep -c "LHR-1D40B012's battery is at 1[0-4] %" "$dir/out.txt")" -eq 1 ] || fail "the low battery was not named once"
VRSIM_RIG=fullbody "$@" --seconds 1 --rig "$dir/body.rig" --role LHR-NOSUCH=chest >"$dir/out.txt" 2>"$dir/err.txt" ||
  fail "the run with an unknown serial failed"
[ "$(grep -c 'LHR-NOSUCH' "$dir/out.txt")" -ge 2 ] || fail "a serial never seen is not said at once and in the summary"
printf '{"format": "tavrin-rig", "version": 1, "note": "lab B",\n "devices": {"LHR-1D40A7F3": {"role": "waist", "label": "belt"}}}\n' \
  >"$dir/kept.rig"
cp "$dir/kept.rig" "$dir/kept.orig"
VRSIM_RIG=fullbody "$@" --seconds 1 --rig "$dir/kept.rig" >"$dir/out.txt" 2>"$dir/err.txt" || fail "the unchanged rig run failed"
cmp -s "$dir/kept.rig" "$dir/kept.orig" || fail "a rig the run did not change was rewritten"
case "$1" in
*wine*) ;;
*)
  chmod 644 "$dir/kept.rig"
  ln -s kept.rig "$dir/link.rig"
  VRSIM_RIG=fullbody "$@" --seconds 1 --rig "$dir/link.rig" --role LHR-1D40A7F3=chest >"$dir/out.txt" 2>"$dir/err.txt" ||
    fail "the rig run through a link failed"
  [ -L "$dir/link.rig" ] || fail "the rig's link became a file"
  [ "$(stat -c %a "$dir/kept.rig")" = 644 ] || fail "the rig file's mode changed"
  grep -q '"note": "lab B"' "$dir/kept.rig" && grep -q '"label": "belt"' "$dir/kept.rig" || fail "kept keys were dropped"
  grep -q '"role": "chest"' "$dir/kept.rig" || fail "the changed role was not written"
  ls -a "$dir" | grep -q 'tavrin-save' && fail "a temporary file of the save was left"
  # Ctrl-C while the rig's FIFO has no writer: 130, and no partial output left.
  mkfifo "$dir/rig.fifo"
  "$@" --rig "$dir/rig.fifo" --csv "$dir/never.csv" >"$dir/out.txt" 2>"$dir/err.txt" &
  pid=$!
  interrupt_once "the monitor never opened the rig's FIFO" has_open "$dir/rig.fifo"
  [ $rc -eq 130 ] || fail "Ctrl-C while waiting for the rig's FIFO exited $rc, expected 130"
  ls "$dir" | grep -q 'never.csv' && fail "Ctrl-C left the CSV's partial file"
  # A device that never ends is refused by its first byte that no recording holds.
  mkdir -p "$dir/tmp"
  TMPDIR="$dir/tmp" expect_status 2 "$@" --seconds 1 --replay /dev/zero
  [ -z "$(ls -A "$dir/tmp")" ] || fail "a refused replay left its copy"
  ;;
esac

"$@" --version >"$dir/out.txt" 2>&1 || fail "--version failed"
grep -q "tavrin-monitor [0-9]" "$dir/out.txt" || fail "--version shows no version"

# Ctrl-C: a clean stop, the summary, and the shell's status for an interrupted run (not under an
# emulator, where the signal would reach the emulator rather than the program).
case "$1" in
*wine*) ;;
*)
  "$@" --seconds 60 >"$dir/out.txt" 2>"$dir/err.txt" &
  pid=$!
  interrupt_once "no session within 20 s" grep -q "session_opened" "$dir/out.txt"
  [ $rc -eq 130 ] || fail "Ctrl-C exited $rc, expected 130"
  grep -q "summary" "$dir/out.txt" || fail "no summary after Ctrl-C"
  # ... also while a FIFO to replay has no writer yet.
  "$@" --replay "$dir/fifo" >"$dir/out.txt" 2>"$dir/err.txt" &
  pid=$!
  interrupt_once "the monitor never opened the FIFO" has_open "$dir/fifo" # it waits on the FIFO then
  [ $rc -eq 130 ] || fail "Ctrl-C while waiting for a FIFO's writer exited $rc, expected 130"
  ;;
esac
echo "monitor end-to-end: ok"
