#!/bin/sh
# The shared library's dynamic symbols are the public interface and nothing else: the C functions
# of tavrin.def, the members of ViveSystem::Tavrin and ViveSystem::TavrinHelper, and the type
# information of those classes and of the orvane interfaces.
# Usage: check_exports.sh LIBRARY TAVRIN.DEF
lib="$1" def="$2"
functions=$(sed -n '/^EXPORTS/,$p' "$def" | tail -n +2 | awk 'NF {print $1}')
[ -n "$functions" ] || { echo "no functions listed in $def"; exit 1; }
names=$(nm -D --defined-only "$lib" | awk '{print $3}')
for f in $functions; do
  echo "$names" | grep -qx "$f" || { echo "missing export: $f"; exit 1; }
done
extra=$(echo "$names" | grep -v -x -F "$functions" | c++filt | grep -v -E \
  '^ViveSystem::Tavrin(Helper)?::|^(typeinfo|typeinfo name|vtable) for (ViveSystem::Tavrin(Helper)?|orvane::[a-z_]+)$')
if [ -n "$extra" ]; then
  echo "unexpected exports:"
  echo "$extra"
  exit 1
fi
echo "exports ok: $(echo "$functions" | wc -l) C functions"
