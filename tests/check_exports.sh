#!/bin/sh
# The shared library's dynamic symbols are the public interface and nothing else: the eighteen
# C functions, the members of ViveSystem::Tavrin and ViveSystem::TavrinHelper, and the type
# information of those classes and of the orvane interfaces.
lib="$1"
extra=$(nm -D --defined-only "$lib" | awk '{print $3}' | c++filt | grep -v -E \
  '^(initViveLib|releaseViveLib|readViveData|readViveStatus|setDeviceStatusChangedHandle|setFreq|setTrackingMod|tavrin_version|tavrin_session_error|tavrin_error_name|tavrin_event_name|tavrin_now_ns|tavrin_source_(create|destroy|start|stop|read|next_event))$|^ViveSystem::Tavrin(Helper)?::|^(typeinfo|typeinfo name|vtable) for (ViveSystem::Tavrin(Helper)?|orvane::[a-z_]+)$')
for f in initViveLib releaseViveLib readViveData readViveStatus setDeviceStatusChangedHandle setFreq setTrackingMod \
  tavrin_version tavrin_session_error tavrin_error_name tavrin_event_name tavrin_now_ns tavrin_source_create \
  tavrin_source_destroy tavrin_source_start tavrin_source_stop tavrin_source_read tavrin_source_next_event; do
  nm -D --defined-only "$lib" | awk '{print $3}' | grep -qx "$f" || { echo "missing export: $f"; exit 1; }
done
if [ -n "$extra" ]; then
  echo "unexpected exports:"
  echo "$extra"
  exit 1
fi
echo "exports ok"
