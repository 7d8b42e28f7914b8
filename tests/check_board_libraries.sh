#!/bin/sh
# The board binary may need only the C library (with POSIX threads), the maths library and the
# dynamic loader: nothing else is on the board. libstdc++ and libgcc are linked in statically.
set -eu
binary="$1"
readelf="${2:-readelf}"
needed=$("$readelf" -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
bad=""
for lib in $needed; do
  case "$lib" in
    libc.so.6|libm.so.6|libpthread.so.0|ld-linux.so.3|ld-linux-armhf.so.3) ;;
    *) bad="$bad $lib" ;;
  esac
done
if [ -n "$bad" ]; then
  echo "the board binary needs libraries the board does not have:$bad"
  exit 1
fi
echo "ok: needs only" $needed
