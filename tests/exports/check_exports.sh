#!/bin/sh
# Fails unless the library's dynamic symbol table defines exactly the names in
# the expected list: the JNI entry points and nothing else.
# usage: check_exports.sh <nm> <library> <expected-list>
set -eu
nm=$1 lib=$2 expected=$3
actual=$("$nm" -D --defined-only --format=posix "$lib" | awk '{print $1}' | sort)
if [ "$actual" != "$(sort "$expected")" ]; then
  echo "exports of $lib differ from $expected:"
  printf '%s\n' "$actual" | diff -u "$expected" - || true
  exit 1
fi
echo "$lib exports exactly:"
printf '  %s\n' $actual
