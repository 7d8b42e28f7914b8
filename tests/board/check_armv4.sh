#!/usr/bin/env bash
# The board's core is ARMv4: ARM state only (no Thumb, not even BX), none of the instructions
# that came with ARMv5 and later (BLX, CLZ, LDRD/STRD, PLD, the DSP multiplies, LDREX/STREX,
# barriers, ...). Disassembles each object and fails on any such instruction, on Thumb code,
# and on an object whose recorded architecture is not v4.
#   check_armv4.sh TOOL_PREFIX OBJECT_OR_ARCHIVE...      (TOOL_PREFIX: arm-linux-gnueabi-)
set -euo pipefail
prefix=$1
shift
# Mnemonics without their condition: newer than ARMv4 wherever they appear.
newer='^(bx|blx|bxj|clz|ldrd|strd|pld|pli|bkpt|smla[bt][bt]|smlaw[bt]|smlal[bt][bt]|smul[bt][bt]|smulw[bt]|'
newer+='qadd|qsub|qdadd|qdsub|mcr2|mrc2|mcrr2?|mrrc2?|ldc2l?|stc2l?|cdp2|clrex|rev|rev16|revsh|rbit|sel|'
newer+='ssat|ssat16|usat|usat16|usad8|usada8|umaal|sdiv|udiv|dmb|dsb|isb|setend|wfi|wfe|sev|yield|movw|movt|'
newer+='ubfx|sbfx|bfi|bfc|lda|stl|(s|q|sh|u|uq|uh)(add|sub|asx|sax)(8|16)|'
newer+='(sxt|uxt|pkh|ldrex|strex|ldaex|stlex|cps|srs|rfe|smlad|smlsd|smlald|smlsld|smmul|smmla|smmls|smuad|smusd|v)[a-z0-9]*)'
conds='(eq|ne|cs|hs|cc|lo|mi|pl|vs|vc|hi|ls|ge|lt|gt|le|al)?'

bad=0
checked=0
for file in "$@"; do
  arch=$("${prefix}readelf" -A "$file" | awk '/Tag_CPU_arch:/ {print $2}' | sort -u)
  if [ -n "$arch" ] && [ "$arch" != "v4" ]; then
    echo "$file: built for $arch, not v4"
    bad=1
  fi
  if "${prefix}readelf" -s "$file" | awk '{print $NF}' | grep -qE '^\$t(\.|$)'; then
    echo "$file: holds Thumb code"
    bad=1
  fi
  found=$("${prefix}objdump" -d --no-show-raw-insn "$file" |
    awk -F'\t' -v re="$newer$conds(\\\\.[a-z0-9.]+)?$" '
      /^[^ \t].*:$/ { where = $0 }
      /^ *[0-9a-f]+:\t/ { m = $2; sub(/ .*/, "", m); if (m ~ re) print where " " $2 " " $3 }' | head -20)
  if [ -n "$found" ]; then
    echo "$file: instructions an ARMv4 core lacks:"
    echo "$found" | sed 's/^/  /'
    bad=1
  fi
  checked=$((checked + 1))
done
[ $bad -eq 0 ] && echo "$checked objects: ARMv4 instructions only"
exit $bad
