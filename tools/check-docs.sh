#!/bin/bash
# Fails when the documents say what the build does not:
#   - in README.md, CONTRIBUTING.md, docs/*.md and packaging/DEPLOYMENT.md, a
#     preset after `--preset` or in `build/<preset>`, a word in backticks that
#     starts like a preset (linux, windows, release-, bench), and a word in
#     backticks shaped like a ctest entry (letters, digits and underscores,
#     its part before the first underscore that of an existing entry, as in
#     dll_ or load_) must exist;
#   - CMakePresets.json has a workflow preset for each configure preset, of
#     the same name, and no other (tools/test.sh runs them);
#   - README.md's release table names (after the last "Java " of a row), for
#     the Windows archive, exactly the releases of the 32-bit JVMs that
#     `dll_junit*` entries run the DLL in, and for the Linux one those of the
#     64-bit JVMs that `junit*` entries run its library in;
#   - README.md and packaging/DEPLOYMENT.md hold, as one block, the lines of
#     the demo between "// example begins" and "// example ends", which the
#     demo runs.
# Each preset is configured first, so that its test list is current.
#   bash tools/check-docs.sh [preset...]    default: the presets of tools/presets
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -gt 0 ]; then
  presets=("$@")
else
  # One a line, "#" starting a comment: the presets that tools/test.sh runs.
  mapfile -t presets < <(sed 's/#.*//; s/[[:space:]]//g; /^$/d' tools/presets)
  [ ${#presets[@]} -gt 0 ] || { echo "check-docs: tools/presets names no preset" >&2; exit 1; }
fi
docs=(README.md CONTRIBUTING.md docs/*.md packaging/DEPLOYMENT.md)
problems=()

all_presets=$(cmake --list-presets=configure | sed -n 's/^ *"\([^"]*\)".*/\1/p' | sort)

# "entry preset" for every ctest entry of the presets checked.
pairs=$(for preset in "${presets[@]}"; do
  cmake --preset "$preset" >/dev/null
  ctest --test-dir "build/$preset" -N | sed -n "s/^ *Test *#[0-9]*: \(.*\)/\1 $preset/p"
done | sort -u)
entries=$(cut -d' ' -f1 <<<"$pairs" | sort -u)

# The words in backticks of standard input.
# shellcheck disable=SC2016 # the backticks are Markdown's, matched literally
ticked() { grep -o '`[^`]*`' | tr -d '`' || true; }
# The lines only in $1 ("<") and only in $2 (">"), on one line.
differ() { diff <(echo "$1") <(echo "$2") | sed -n 's/^\([<>]\)/ \1/p' | paste -sd, || true; }

# A workflow preset per configure preset, of its name: tools/test.sh runs them.
workflows=$(cmake --list-presets=workflow | sed -n 's/^ *"\([^"]*\)".*/\1/p' | sort)
[ "$workflows" = "$all_presets" ] ||
  problems+=("CMakePresets.json's workflow presets differ from its configure presets (< workflow, > configure):$(differ "$workflows" "$all_presets")")

checked=$(printf '%s\n' "${presets[@]}" | sort)

# "entry preset <bits>-bit Java <n>" for every entry that runs a JVM: the
# last JVM named in its command line (load_messages names the JVMs of the
# other bitness before its own).
jvm_runs=$(for preset in "${presets[@]}"; do
  find "build/$preset" -name CTestTestfile.cmake -not -path '*/dll-runner/*' -exec grep -h '^add_test' {} + |
    sed -n 's#^add_test(\[=\[\([^]]*\)\]=\].*/jvm/java-\([0-9]*\)-openjdk-\(amd64\|i386\)/.*#\1 \3 \2#p' |
    sed "s/ amd64 / $preset 64-bit Java /; s/ i386 / $preset 32-bit Java /"
done | sort -u)

# README.md's release table: the releases its row for an archive names
# (after its last "Java ") against those of the JVMs that entries of
# `pattern` in `preset` run.
releases_named() {  # <archive>
  grep -F -- "$1" README.md | sed 's/.*Java //' | grep -oE '\b[0-9]+\b' | sort -n | paste -sd' '
}
releases_run() {  # <preset> <entry pattern> <bits>
  awk -v p="$1" -v e="^$2" -v b="$3-bit" '$2 == p && $1 ~ e && $3 == b { print $5 }' <<<"$jvm_runs" | sort -nu | paste -sd' '
}
check_release_row() {  # <archive> <preset> <entry pattern> <bits>
  grep -qx -- "$2" <<<"$checked" || return 0
  local named run
  named=$(releases_named "$1") run=$(releases_run "$2" "$3" "$4")
  [ "$named" = "$run" ] ||
    problems+=("README.md's release table names Java $named for $1, but the $2 entries $3* run it in $4-bit Java $run")
}
check_release_row windows-x86.zip windows-x86 dll_junit 32
check_release_row linux-x86_64.tar.gz linux junit 64

# The part before the first underscore of each entry: a word in backticks
# that starts so is taken for an entry.
prefixes=$(sed -n 's/^\([a-z0-9]*\)_.*/\1/p' <<<"$entries" | sort -u | paste -sd'|')
for doc in "${docs[@]}"; do
  [ -f "$doc" ] || continue
  words=$(ticked <"$doc" | tr -s ' \t' '\n')
  while IFS= read -r preset; do
    [ -z "$preset" ] || grep -qx -- "$preset" <<<"$all_presets" || problems+=("$doc names a preset that does not exist: $preset")
  done < <({ grep -oE -- '--preset[ =][a-z0-9_-]+' "$doc" | sed -E 's/--preset[ =]//' || true
             grep -oE '(^|[^a-z/])build/[a-z0-9_-]+' "$doc" | sed 's|.*build/||' || true
             grep -xE '(linux|windows|release-|bench)[a-z0-9_-]*' <<<"$words" || true; } | sort -u)
  while IFS= read -r entry; do
    [ -z "$entry" ] || grep -qx -- "$entry" <<<"$entries" || problems+=("$doc names a ctest entry that does not exist: $entry")
  done < <(grep -xE "($prefixes)(_[a-z0-9]+)+" <<<"$words" | sort -u)
done

# The demo's example, unindented, as one block of each document.
example=$(sed -n '/\/\/ example begins/,/\/\/ example ends/p' demo/src/jqel/demo/Demo.java | sed '1d;$d' | sed 's/^        //')
[ -n "$example" ] || problems+=("demo/src/jqel/demo/Demo.java has no example between its markers")
for doc in README.md packaging/DEPLOYMENT.md; do
  python3 -c 'import sys; sys.exit(sys.argv[1] + "\n" not in open(sys.argv[2]).read())' "$example" "$doc" ||
    problems+=("$doc does not hold the demo's example as one block")
done

if [ ${#problems[@]} -gt 0 ]; then
  printf 'check-docs: %s\n' "${problems[@]}" >&2
  exit 1
fi
echo "check-docs: the documents name only ctest entries and presets that exist ($(wc -l <<<"$entries") entries, $(wc -l <<<"$all_presets") presets)"
