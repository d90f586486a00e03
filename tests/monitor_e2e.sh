#!/bin/sh
# End to end: tavrin-monitor run for about two seconds against the demo rig, off a terminal, and
# its handling of bad input. Usage: monitor_e2e.sh WORKDIR COMMAND...
dir="$1"
shift
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
grep -q "SessionOpened" "$dir/out.txt" || fail "no session-opened event"
grep -q "HmdConnected" "$dir/out.txt" || fail "no headset connect event"
grep -q "ControllerConnected" "$dir/out.txt" || fail "no controller connect event"
grep -q "summary" "$dir/out.txt" || fail "no summary"
grep -q "wait error" "$dir/out.txt" || fail "no pacing figures"
rows=$(tr -d '\r' <"$dir/run.csv" | wc -l)
[ "$rows" -gt 100 ] || fail "csv has only $rows lines"
head -n 1 "$dir/run.csv" | grep -q "^read,timestamp_ms,serial" || fail "csv header"
grep -q "LHR-5F0A11C2" "$dir/run.svg" || fail "plot does not name the headset"
grep -q "</svg>" "$dir/run.svg" || fail "plot incomplete"
ls "$dir" | grep -q partial && fail "a temporary file was left behind"

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
expect_status 1 "$@" --seconds 1 --csv "$dir/missing/run.csv"
[ -e "$dir/missing/run.csv" ] && fail "unwritable csv path produced a file"
expect_status 1 "$@" --seconds 1 --csv "$dir/kept.csv" --plot "$dir/missing/run.svg"
ls "$dir" | grep -q "kept.csv" && fail "a csv was left behind by a run that did not start"
"$@" --help >"$dir/out.txt" 2>&1 || fail "--help failed"
grep -q -- "--rate" "$dir/out.txt" || fail "--help lists no options"
# Record and replay: record the demo rig, replay the recording and record the replay. The same
# devices and events come back, with positions close to the recorded ones.
"$@" --seconds 3 --record "$dir/first.csv" >"$dir/out.txt" 2>"$dir/err.txt" || fail "recording failed"
"$@" --seconds 3 --replay "$dir/first.csv" --record "$dir/second.csv" >"$dir/out.txt" 2>"$dir/err.txt" ||
  fail "replay failed"
grep -q "replaying" "$dir/out.txt" || fail "the replay was not announced"
events() { tr -d '\r' <"$1" | grep '^#event' | cut -d, -f3,4 | sort; }
[ "$(events "$dir/first.csv")" = "$(events "$dir/second.csv")" ] || fail "the replay's events differ"
# Per device: the mean position over the run, recorded and replayed.
means() {
  tr -d '\r' <"$1" | grep -v '^#' | awk -F, 'NR > 1 { n[$3]++; x[$3] += $7; y[$3] += $8; z[$3] += $9 }
    END { for (s in n) printf "%s %.4f %.4f %.4f\n", s, x[s] / n[s], y[s] / n[s], z[s] / n[s] }' | sort
}
means "$dir/first.csv" >"$dir/first.means"
means "$dir/second.csv" >"$dir/second.means"
[ "$(cut -d' ' -f1 "$dir/first.means")" = "$(cut -d' ' -f1 "$dir/second.means")" ] || fail "the replay's devices differ"
paste -d' ' "$dir/first.means" "$dir/second.means" | awk '{ d = ($2-$6)^2 + ($3-$7)^2 + ($4-$8)^2;
  if (d > 0.15 * 0.15) { print "mean position of " $1 " moved " sqrt(d) " m"; bad = 1 } } END { exit bad }' ||
  fail "replayed positions are off"
expect_status 1 "$@" --seconds 1 --replay "$dir/out.txt"
# Any program replays through the environment (here the monitor, leaving the runtime as it is).
VRSIM_RIG="replay:$dir/first.csv" "$@" --seconds 1 --no-demo >"$dir/out.txt" 2>"$dir/err.txt" ||
  fail "replay through VRSIM_RIG failed"
grep -q "TrackerConnected" "$dir/out.txt" || fail "VRSIM_RIG=replay: showed no tracker"

"$@" --version >"$dir/out.txt" 2>&1 || fail "--version failed"
grep -q "tavrin-monitor [0-9]" "$dir/out.txt" || fail "--version shows no version"

# Ctrl-C: a clean stop, the summary, and the shell's status for an interrupted run (not under an
# emulator, where the signal would reach the emulator rather than the program).
case "$1" in
*wine*) ;;
*)
  "$@" --seconds 60 >"$dir/out.txt" 2>"$dir/err.txt" &
  pid=$!
  tries=0
  until grep -q "SessionOpened" "$dir/out.txt"; do
    tries=$((tries + 1))
    [ $tries -lt 200 ] || fail "no session within 20 s"
    sleep 0.1
  done
  kill -INT $pid
  wait $pid
  rc=$?
  [ $rc -eq 130 ] || fail "Ctrl-C exited $rc, expected 130"
  grep -q "summary" "$dir/out.txt" || fail "no summary after Ctrl-C"
  ;;
esac
echo "monitor end-to-end: ok"
