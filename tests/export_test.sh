#!/bin/sh
# A take leaves as an animation, read back by other projects' readers: the monitor takes the demo
# rig for 10 s at 120 Hz with its recording, BVH and glTF; --convert writes the same take from the
# recording to the same bytes; assimp reads the BVH and the glTF and their keys equal the
# recording's, and the Khronos validator finds no error in the glTF. Then a tracker that loses its
# pose for a while is held, a z-up millimetre take is written Y-up (BVH in millimetres, glTF in
# metres), and a recording --convert refuses leaves nothing behind.
# Usage: export_test.sh MONITOR PYTHON NODE VALIDATOR_DIR WORK_DIR
set -u
monitor="$1" python="$2" node="$3" validator="$4" work="$5"
here=$(cd "$(dirname "$0")" && pwd)
check="$here/export_check.py"
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1
fail() {
  echo "FAIL: $*"
  for f in out.txt conv.txt; do [ -f $f ] && { echo "--- $f"; cat $f; }; done
  exit 1
}

"$monitor" --seconds 10 --record take.csv --bvh live.bvh --gltf live.glb >out.txt 2>&1 || fail "the live take"
"$monitor" --convert take.csv --bvh take.bvh --gltf take.gltf --csv take-again.csv --plot take.svg >conv.txt 2>&1 ||
  fail "--convert of the take"
"$monitor" --convert take.csv --gltf take.glb >>conv.txt 2>&1 || fail "--convert to .glb"
cmp live.bvh take.bvh || fail "the converted BVH is not the live one"
cmp live.glb take.glb || fail "the converted glTF is not the live one"
# The CSV again: every row's columns after the read number and timestamp as recorded.
grep -v '^#' take.csv | cut -d, -f3- >rows.txt
grep -v '^#' take-again.csv | cut -d, -f3- >rows-again.txt
cmp rows.txt rows-again.txt && grep -q "^# space: axes openvr" take-again.csv || fail "the converted CSV"

assimp info take.bvh --raw >info.txt 2>&1 || fail "assimp cannot read the BVH: $(cat info.txt)"
joints=$(grep -c "JOINT" take.bvh)
grep -q "Animation Channels: $((joints + 1))\$" info.txt && grep -q "Nodes: *$((joints + 1))\$" info.txt ||
  fail "assimp: $(grep -E 'Nodes|Animation' info.txt)"
assimp export take.bvh bvh.assxml >/dev/null 2>&1 || fail "assimp cannot export the BVH"
"$python" "$check" bvh take.csv take.bvh bvh.assxml || fail "the BVH's keys"
"$node" "$here/gltf_validate.js" "$validator" take.gltf take.glb || fail "the glTF validator"
assimp export take.gltf gltf.assxml >/dev/null 2>&1 || fail "assimp cannot read the glTF"
"$python" "$check" gltf take.csv gltf.assxml || fail "the glTF's keys"

# A tracker without a valid pose in 25 frames: held, and said so.
set -- $("$python" "$check" spoil take.csv lost.csv)
"$monitor" --convert lost.csv --bvh lost.bvh --gltf lost.gltf >conv.txt 2>&1 || fail "--convert of the lost tracker"
grep -q "held samples .*$1 $2" conv.txt || fail "the summary does not say $1's $2 held samples"
assimp export lost.bvh lost.assxml >/dev/null 2>&1 && "$python" "$check" bvh lost.csv lost.bvh lost.assxml ||
  fail "the held BVH's keys"

# A z-up millimetre take: the BVH in millimetres, the glTF in metres, both Y up.
"$monitor" --seconds 2 --axes z_up --units mm --record zup.csv --bvh zup.bvh --gltf zup.gltf >out.txt 2>&1 ||
  fail "the z-up take"
assimp export zup.bvh zup-bvh.assxml >/dev/null 2>&1 && "$python" "$check" bvh zup.csv zup.bvh zup-bvh.assxml ||
  fail "the z-up BVH"
assimp export zup.gltf zup-gltf.assxml >/dev/null 2>&1 && "$python" "$check" gltf zup.csv zup-gltf.assxml ||
  fail "the z-up glTF"
"$node" "$here/gltf_validate.js" "$validator" zup.gltf >/dev/null || fail "the z-up glTF's validation"

# A recording refused: exit 2 with the line, and no output left.
printf 'read,timestamp_ms,serial\nnot a recording\n' >bad.csv
"$monitor" --convert bad.csv --bvh bad.bvh --gltf bad.glb >conv.txt 2>&1
status=$?
[ $status -eq 2 ] || fail "a refused recording exits $status"
grep -q "cannot convert bad.csv: line" conv.txt || fail "the refusal does not name the line"
[ -z "$(ls -A | grep '^bad\.\(bvh\|glb\)')" ] || fail "a refused conversion left files: $(ls -A)"
echo "ok"
