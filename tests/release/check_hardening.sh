#!/bin/bash
# Fails unless a Linux library shows Debian's hardening, judged as Debian's
# hardening-check judges a shared library, plus -fcf-protection: full RELRO
# (a GNU_RELRO segment, bound at load), a stack that is not executable, no
# text relocations, the stack protector's __stack_chk_fail imported, glibc's
# checked (_chk) functions imported wherever a function that has one is, and
# every exported function entered at an ENDBR instruction. (The library does
# not carry the IBT and SHSTK properties themselves: the linker gives them
# only when every object has them, and Debian 12's crti.o and crtn.o lack
# them.)
# usage: check_hardening.sh <library> [readelf] [objdump]
set -uo pipefail
lib=$1 readelf=${2:-readelf} objdump=${3:-objdump}
# shellcheck source=SCRIPTDIR/../lib.sh
source "$(dirname "$0")/../lib.sh"
segments=$("$readelf" -lW "$lib") dynamic=$("$readelf" -dW "$lib")
imports=$("$readelf" --dyn-syms -W "$lib" | awk '$7 == "UND" {sub(/@.*/, "", $8); print $8}' | sort -u)
# glibc functions that _FORTIFY_SOURCE replaces by a checked variant when the
# compiler knows the destination's size.
fortifiable=$(grep -xE '(mem(cpy|move|set)|mempcpy|st(p|r)n?cpy|str(n)?cat|v?s(n)?printf|v?f?printf|read|pread(64)?|recv(from)?|fgets|fread|realpath|getcwd|wcs(n)?cpy|wmem(cpy|move|set))' <<<"$imports" | tr '\n' ' ')
checked=$(grep -E '^__.*_chk$' <<<"$imports" | grep -v '^__stack_chk_fail$' | tr '\n' ' ')
check "RELRO: a GNU_RELRO segment" grep -q GNU_RELRO <<<"$segments"
check "bound at load (BIND_NOW)" elf_bound_at_load "$readelf" "$lib"
check "stack not executable" grep -qE 'GNU_STACK +(0x[0-9a-f]+ +){5}RW +' <<<"$segments"
check "no text relocations" test -z "$(grep TEXTREL <<<"$dynamic")"
check "stack protector: __stack_chk_fail imported" grep -qx __stack_chk_fail <<<"$imports"
check "fortified: glibc's checked functions imported (${checked:-none}), or none that has one (${fortifiable:-none})" \
  test -n "$checked" -o -z "$fortifiable"
entries=$("$readelf" --dyn-syms -W "$lib" | awk '$4 == "FUNC" && $7 != "UND" {print $2}' | sort -u)
without=
for at in $entries; do
  "$objdump" -d --start-address="0x$at" --stop-address=$((0x$at + 4)) "$lib" |
    grep -qE '\sendbr(32|64)$' || without+=" 0x$at"
done
check "control-flow protection: $(wc -w <<<"$entries") exported functions entered at ENDBR${without:+, not at:$without}" \
  test -n "$entries" -a -z "$without"
[ "$status" -eq 0 ] || echo "$lib lacks hardening"
exit "$status"
