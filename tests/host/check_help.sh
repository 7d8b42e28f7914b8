#!/usr/bin/env bash
# check_help.sh SOURCE_DIR PROGRAM...: every program given and every script in SOURCE_DIR/scripts
# answers --help with a usage text on standard output, nothing on standard error, exit 0, in
# well under the time a build would take (a script must not build or run anything first).
set -u
src=$1
shift
failed=0
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
for tool in "$@" "$src"/scripts/*; do
  [ -f "$tool" ] && [ -x "$tool" ] || continue
  timeout 20 "$tool" --help >"$out" 2>"$err" </dev/null
  rc=$?
  name=$(basename "$tool")
  if [ $rc -ne 0 ]; then
    echo "FAIL $name --help: exit $rc"; failed=1
  elif [ ! -s "$out" ]; then
    echo "FAIL $name --help: nothing on standard output"; failed=1
  elif [ -s "$err" ]; then
    echo "FAIL $name --help: wrote on standard error: $(head -3 "$err")"; failed=1
  else
    echo "ok   $name --help ($(wc -l <"$out") lines)"
  fi
done
exit $failed
