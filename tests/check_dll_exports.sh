#!/bin/sh
# tavrin.dll exports the public interface and nothing else: the eighteen C functions under their
# plain names, and the (mangled) members and type information of ViveSystem::Tavrin and
# ViveSystem::TavrinHelper; nothing of the C++ runtime.
dll="$1"
names=$(x86_64-w64-mingw32-objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | tail -n +2 |
  grep '\[' | awk '{print $NF}')
[ -n "$names" ] || { echo "no export table found in $dll"; exit 1; }
for f in initViveLib releaseViveLib readViveData readViveStatus setDeviceStatusChangedHandle setFreq setTrackingMod \
  tavrin_version tavrin_session_error tavrin_error_name tavrin_event_name tavrin_now_ns tavrin_source_create \
  tavrin_source_destroy tavrin_source_start tavrin_source_stop tavrin_source_read tavrin_source_next_event; do
  echo "$names" | grep -qx "$f" || { echo "missing export: $f"; exit 1; }
done
extra=$(echo "$names" | grep -v -E \
  '^(initViveLib|releaseViveLib|readViveData|readViveStatus|setDeviceStatusChangedHandle|setFreq|setTrackingMod|tavrin_version|tavrin_session_error|tavrin_error_name|tavrin_event_name|tavrin_now_ns|tavrin_source_(create|destroy|start|stop|read|next_event))$|^_ZN10ViveSystem6Tavrin|^_ZN10ViveSystem12TavrinHelper|^_ZT[VIS]N10ViveSystem(6Tavrin|12TavrinHelper)E$')
if [ -n "$extra" ]; then
  echo "unexpected exports:"
  echo "$extra"
  exit 1
fi
echo "exports ok: $(echo "$names" | wc -l) names"
