#!/usr/bin/env bash
# Every symbol a kernel module leaves undefined must be one the board's kernel gives it.
#   check_module_symbols.sh LIST NM MODULE.o...
# LIST is drivers/kernel-2.6.25-arm-exports.txt: exported names, and emulation names with what
# the board's headers expand them to. Prints each symbol no list entry covers; exit 1 if any.
set -euo pipefail
list=$1 nm=$2
shift 2
declare -A exported expands
while read -r name arrow rest; do
  [ -z "$name" ] || [ "${name:0:1}" = "#" ] && continue
  if [ "$arrow" = "->" ]; then expands[$name]=$rest; else exported[$name]=1; fi
done <"$list"

missing=0
for object in "$@"; do
  module=$(basename "$object" .o)
  module=${module%.c}
  for sym in $("$nm" -u "$object" | awk '{print $NF}'); do
    if [ -n "${exported[$sym]:-}" ]; then continue; fi
    if [ -n "${expands[$sym]:-}" ]; then
      for target in ${expands[$sym]}; do
        [ "$target" = "-" ] || [ -n "${exported[$target]:-}" ] && continue
        echo "$module: $sym becomes $target, which the board's kernel does not export"
        missing=1
      done
      continue
    fi
    echo "$module: needs $sym, which the board's kernel does not export"
    missing=1
  done
done
[ $missing -eq 0 ] && echo "$# modules: every undefined symbol is exported by the board's kernel"
exit $missing
