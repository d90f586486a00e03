#!/bin/sh
# Installs the build into a temporary prefix, as a user would, and uses it the two ways a user
# would: a consumer built with find_package(tavrin) and one built with pkg-config, each run against
# the installed simulated runtime with its demo rig; and the installed monitor, out of the box.
# Then the Python package, pip-installed into a venv, over the installed library.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR WORK_DIR PYTHON
set -eu
build="$1" src="$2" work="$3" python="$4"
rm -rf "$work"
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir="$prefix/lib"
[ -d "$libdir" ] || libdir=$(dirname "$(find "$prefix" -name 'libtavrin.so' | head -n 1)")

echo "--- find_package"
cmake -S "$src/tests/consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
export PKG_CONFIG_PATH="$libdir/pkgconfig"
vrsimdir=$(pkg-config --variable=vrsimdir tavrin)
[ -f "$vrsimdir/vrsim.h" ] || { echo "no simulated runtime in $vrsimdir"; exit 1; }
LD_LIBRARY_PATH="$vrsimdir:$libdir" VRSIM_RIG=demo "$work/cmake/consumer"

echo "--- pkg-config"
[ "$(pkg-config --modversion tavrin)" = "$(sed -n 's/#define TAVRIN_VERSION_STRING "\(.*\)"/\1/p' "$prefix/include/tavrin_version.h")" ]
# shellcheck disable=SC2046
cc -o "$work/consumer_pc" "$src/tests/consumer/consumer.c" $(pkg-config --cflags --libs tavrin)
# No LD_LIBRARY_PATH: the program finds the library (its own search path, as under /usr/local the
# system's), and the library finds its OpenVR loader by itself.
env -u LD_LIBRARY_PATH VRSIM_RIG=demo "$work/consumer_pc"
readelf -d "$libdir/libtavrin.so" | grep -q 'RUNPATH.*\$ORIGIN/tavrin/vrsim' || { echo "libtavrin does not find its loader"; exit 1; }

echo "--- installed monitor, no environment"
out=$(env -u LD_LIBRARY_PATH -u VRSIM_RIG "$prefix/bin/tavrin-monitor" --seconds 1)
echo "$out" | grep -q "demo rig started" || { echo "$out"; exit 1; }
echo "--- pip install into a venv (offline)"
"$python" -m venv --system-site-packages "$work/venv"
# Built from a copy, so that the source tree gets no build files.
cp -R "$src/python" "$work/python"
"$work/venv/bin/python" -m pip install -q --no-build-isolation --no-index "$work/python"
(cd "$work" && env -u LD_LIBRARY_PATH TAVRIN_LIBRARY="$libdir/libtavrin.so.0" VRSIM_RIG=demo \
  "$work/venv/bin/python" -c '
import tavrin
with tavrin.Session(rate=120) as s:
    for _ in range(1200):
        poses = s.read()
        if len(poses):
            print("python: tavrin", tavrin.version(), poses["serial"][0].decode(), poses["position"][0])
            break
    else:
        raise SystemExit("no poses: session error %d" % tavrin.session_error())
')
echo "install ok"
