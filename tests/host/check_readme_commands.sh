#!/usr/bin/env bash
# check_readme_commands.sh README: runs the README's card inspection commands as written, on a
# small card image laid out as the recorder's, with DIR and /tmp/card moved into a scratch
# directory. Exit 77 (skipped) where FUSE cannot be used.
set -euo pipefail
readme=$1
if [ ! -e /dev/fuse ] || ! command -v fusefat >/dev/null; then
  echo "no FUSE here: skipped"
  exit 77
fi
work=$(mktemp -d /tmp/readme-commands-XXXXXX)
cleanup() {
  fusermount -u "$work/card" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export PATH=$PATH:/usr/sbin:/sbin
truncate -s 64M "$work/card.img"
mkfs.vfat -F 32 -n ZIDADORI1 "$work/card.img" >/dev/null
MTOOLS_SKIP_CHECK=1 mmd -i "$work/card.img" ::CH1 ::CH1/event ::config
echo "[SET]" >"$work/set.ini"
MTOOLS_SKIP_CHECK=1 mcopy -i "$work/card.img" "$work/set.ini" ::config/

commands=$(sed -n '/<!-- inspection commands -->/,/<!-- end of inspection commands -->/p' "$readme" |
  sed -e '/^<!--/d' -e '/^```/d')
[ -n "$commands" ] || { echo "no inspection commands found in $readme"; exit 1; }
script=$(printf '%s\n' "$commands" | sed -e "s|DIR/|$work/|g" -e "s|/tmp/card|$work/card|g")
printf '%s\n' "$script"
out=$(bash -euo pipefail -c "$script" 2>&1) || { echo "$out"; echo "FAILED"; exit 1; }
echo "$out"
# What the commands must have shown: the tree through FUSE and the copy through mtools.
grep -q "config" <<<"$out" || { echo "the listing does not show the card's directories"; exit 1; }
[ -f "$work/card-copy/config/set.ini" ] || { echo "mcopy did not copy the card"; exit 1; }
echo "ok"
