#!/bin/bash
# Fails unless the library's dynamic symbol table defines exactly the names in
# the expected list: the JNI entry points and nothing else; unless it is
# bound at load (BIND_NOW), so that an agent library without one of the
# operations fails the load instead of a later call; and, given the libraries
# it may need, unless it needs exactly those (the agent's two and the C
# library: no C++ runtime).
# usage: check_exports.sh <nm> <readelf> <library> <expected-list> [<needed library>...]
set -eu
nm=$1 readelf=$2 lib=$3 expected=$4
shift 4
# shellcheck source=SCRIPTDIR/../lib.sh
source "$(dirname "$0")/../lib.sh"
actual=$("$nm" -D --defined-only --format=posix "$lib" | awk '{print $1}' | sort)
if [ "$actual" != "$(sort "$expected")" ]; then
  echo "exports of $lib differ from $expected:"
  printf '%s\n' "$actual" | diff -u <(sort "$expected") - || true
  exit 1
fi
echo "$lib exports exactly:"
mapfile -t names <<<"$actual"
printf '  %s\n' "${names[@]}"
if ! elf_bound_at_load "$readelf" "$lib"; then
  echo "$lib is not bound at load: its dynamic section has no BIND_NOW flag"
  exit 1
fi
echo "$lib is bound at load (BIND_NOW)"
[ $# -gt 0 ] || exit 0
needed=$("$readelf" -dW "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort)
if [ "$needed" != "$(printf '%s\n' "$@" | sort)" ]; then
  echo "$lib needs other libraries than $*:"
  mapfile -t names <<<"$needed"
  printf '  %s\n' "${names[@]}"
  exit 1
fi
echo "$lib needs exactly: $*"
