#!/bin/sh
# The Windows zip as a user gets it: packed with cpack, unpacked, and the monitor run from it under
# wine with the simulated runtime's folder on the path. Usage: windows_zip_test.sh BUILD_DIR WORK_DIR
set -eu
build="$1" work="$2"
rm -rf "$work"
mkdir -p "$work"
(cd "$build" && cpack -G ZIP -B "$work/pack" >/dev/null)
zip=$(ls "$work"/pack/tavrin-*-win64.zip)
(cd "$work" && cmake -E tar xf "$zip")
root=$(ls -d "$work"/tavrin-*-win64)
for f in bin/tavrin.dll bin/tavrin-monitor.exe lib/tavrin.lib lib/tavrin.def lib/libtavrin.dll.a include/tavrin.h \
         include/tavrin_version.h lib/tavrin/vrsim/openvr_api.dll lib/tavrin/vrsim/vrsim.h README.md LICENSE NOTICE; do
  [ -f "$root/$f" ] || { echo "missing from the zip: $f"; exit 1; }
done
# tavrin.lib is an import library of tavrin.dll for every C function.
for f in initViveLib readViveData tavrin_version tavrin_event_name tavrin_source_read; do
  x86_64-w64-mingw32-nm "$root/lib/tavrin.lib" | grep -q " T $f\$" || { echo "tavrin.lib lacks $f"; exit 1; }
done
out=$(cd "$root" && WINEPATH="$(winepath -w "$root/lib/tavrin/vrsim")" wine bin/tavrin-monitor.exe --seconds 1 2>&1)
echo "$out" | grep -q "demo rig started" || { echo "$out"; exit 1; }
echo "$out" | grep -q "device_arrived *LHR-5F0A11C2" || { echo "$out"; exit 1; }
echo "zip ok"
