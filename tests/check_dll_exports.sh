#!/bin/sh
# tavrin.dll exports the public interface and nothing else: the C functions of tavrin.def under
# their plain names, and the (mangled) members and type information of ViveSystem::Tavrin and
# ViveSystem::TavrinHelper; nothing of the C++ runtime.
# Usage: check_dll_exports.sh DLL TAVRIN.DEF
dll="$1" def="$2"
functions=$(sed -n '/^EXPORTS/,$p' "$def" | tail -n +2 | awk 'NF {print $1}')
[ -n "$functions" ] || { echo "no functions listed in $def"; exit 1; }
names=$(x86_64-w64-mingw32-objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | tail -n +2 |
  grep '\[' | awk '{print $NF}')
[ -n "$names" ] || { echo "no export table found in $dll"; exit 1; }
for f in $functions; do
  echo "$names" | grep -qx "$f" || { echo "missing export: $f"; exit 1; }
done
extra=$(echo "$names" | grep -v -x -F "$functions" | grep -v -E \
  '^_ZN10ViveSystem6Tavrin|^_ZN10ViveSystem12TavrinHelper|^_ZT[VIS]N10ViveSystem(6Tavrin|12TavrinHelper)E$')
if [ -n "$extra" ]; then
  echo "unexpected exports:"
  echo "$extra"
  exit 1
fi
echo "exports ok: $(echo "$names" | wc -l) names"
