#!/bin/bash
# Fails when the documents name a ctest entry or a preset that does not
# exist, or when CONTRIBUTING.md's tables of them are not complete:
#   - its table headed "| preset |" lists exactly the configure presets of
#     CMakePresets.json;
#   - its table headed "| ctest entry | presets |" lists exactly the entries
#     that `ctest -N` finds in each preset's build tree, each with the presets
#     it is in (for the presets that tools/test.sh runs);
#   - its table headed "| JVM | presets |" gives, for each preset checked,
#     exactly the entries that run a JVM and which one each runs (the last
#     JVM its command line names, "<32|64>-bit Java <n>");
#   - its "Layout" section names, as words in backticks ending in "/", only
#     folders that exist, and its table headed "| folder |" has a row for
#     every folder that git tracks at depth 1 or 2 (bridge/, tests/native/),
#     but for build/, dist/ and dot-folders;
#   - CMakePresets.json has a workflow preset for each configure preset, of
#     the same name, and no other;
#   - README.md's release table names (after the last "Java " of a row), for
#     the Windows archive, exactly the releases of the 32-bit JVMs that
#     `dll_junit*` entries run the DLL in, and for the Linux one those of the
#     64-bit JVMs that `junit*` entries run its library in;
#   - in README.md, CONTRIBUTING.md, docs/*.md and packaging/DEPLOYMENT.md, a
#     preset after `--preset` or in `build/<preset>`, a word in backticks that
#     starts like a preset (linux, windows, release-, bench), and a word in
#     backticks shaped like a ctest entry (letters, digits and underscores,
#     its part before the first underscore that of an existing entry, as in
#     dll_ or load_) must exist;
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

# The rows of CONTRIBUTING.md's table whose header starts with $1, as
# "<cell 1>|<cell 2>" with only the words in backticks kept.
table() {
  awk -v head="$1" '
    index($0, head) == 1 { inside = 1; next }
    inside && !/^\|/ { exit }
    inside && !/^\|[-| ]*$/ { split($0, cell, "|"); print cell[2] "|" cell[3] }' CONTRIBUTING.md
}
ticked() { grep -o '`[^`]*`' | tr -d '`' || true; }
# The lines only in $1 ("<") and only in $2 (">"), on one line.
differ() { diff <(echo "$1") <(echo "$2") | sed -n 's/^\([<>]\)/ \1/p' | paste -sd, || true; }

# The Layout section: every folder it names in backticks ("tests/native/",
# or the first cell of a row of its table) exists, and every folder git
# tracks down to depth 2 has its row. The build's own folders, build/ and
# dist/, are neither tracked nor there in a fresh clone.
layout_rows=$(table "| folder |" | cut -d'|' -f1 | ticked | sed 's#/$##' | sort -u)
layout_named=$({ echo "$layout_rows"
                 awk '/^## / { inside = ($0 == "## Layout") } inside' CONTRIBUTING.md | ticked |
                   grep -E '^[A-Za-z0-9_.-]+(/[A-Za-z0-9_.-]+)*/$' | sed 's#/$##' || true; } |
  grep -vE '^(build|dist)(/|$)' | sort -u || true)
while IFS= read -r folder; do
  [ -z "$folder" ] || [ -d "$folder" ] ||
    problems+=("CONTRIBUTING.md's layout names a folder that does not exist: $folder/")
done <<<"$layout_named"
tracked=$(git ls-files | awk -F/ 'NF > 1 { print $1 } NF > 2 { print $1 "/" $2 }' |
  grep -vE '(^|/)\.|^(build|dist)(/|$)' | sort -u)
unnamed=$(comm -13 <(echo "$layout_rows") <(echo "$tracked") | paste -sd' ')
[ -z "$unnamed" ] ||
  problems+=("CONTRIBUTING.md's layout table has no row for these folders: $unnamed")

# A workflow preset per configure preset, of its name: tools/test.sh runs them.
workflows=$(cmake --list-presets=workflow | sed -n 's/^ *"\([^"]*\)".*/\1/p' | sort)
[ "$workflows" = "$all_presets" ] ||
  problems+=("CMakePresets.json's workflow presets differ from its configure presets (< workflow, > configure):$(differ "$workflows" "$all_presets")")

listed=$(table "| preset |" | cut -d'|' -f1 | ticked | sort)
[ "$listed" = "$all_presets" ] ||
  problems+=("CONTRIBUTING.md's preset table differs from CMakePresets.json (< the table, > the presets):$(differ "$listed" "$all_presets")")

checked=$(printf '%s\n' "${presets[@]}" | sort)
documented=$(table "| ctest entry | presets |" | while IFS='|' read -r names in; do
  for name in $(ticked <<<"$names"); do
    for preset in $(ticked <<<"$in"); do
      # Only the presets checked: their trees are the ones listed.
      if grep -qx -- "$preset" <<<"$checked"; then echo "$name $preset"; fi
    done
  done
done | sort -u)
[ "$documented" = "$pairs" ] ||
  problems+=("CONTRIBUTING.md's ctest table differs from ctest -N (< the table, > the build trees):$(differ "$documented" "$pairs")")

# "entry preset <bits>-bit Java <n>" for every entry that runs a JVM: the
# last JVM named in its command line (load_messages names the JVMs of the
# other bitness before its own).
jvm_runs=$(for preset in "${presets[@]}"; do
  find "build/$preset" -name CTestTestfile.cmake -not -path '*/dll-runner/*' -exec grep -h '^add_test' {} + |
    sed -n 's#^add_test(\[=\[\([^]]*\)\]=\].*/jvm/java-\([0-9]*\)-openjdk-\(amd64\|i386\)/.*#\1 \3 \2#p' |
    sed "s/ amd64 / $preset 64-bit Java /; s/ i386 / $preset 32-bit Java /"
done | sort -u)
# The same from CONTRIBUTING.md's table: its rows "| <bits>-bit Java <n> ... | presets | entries |".
jvm_table=$(awk '
    index($0, "| JVM | presets |") == 1 { inside = 1; next }
    inside && !/^\|/ { exit }
    inside && !/^\|[-| ]*$/ { split($0, cell, "|"); print cell[2] "|" cell[3] "|" cell[4] }' CONTRIBUTING.md |
  while IFS='|' read -r jvm in names; do
    jvm=$(grep -oE '(32|64)-bit Java [0-9]+' <<<"$jvm")
    for preset in $(ticked <<<"$in"); do
      grep -qx -- "$preset" <<<"$checked" || continue
      for name in $(ticked <<<"$names"); do echo "$name $preset $jvm"; done
    done
  done | sort -u)
[ "$jvm_table" = "$jvm_runs" ] ||
  problems+=("CONTRIBUTING.md's JVM table differs from the entries' command lines (< the table, > the build trees):$(differ "$jvm_table" "$jvm_runs")")

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
echo "check-docs: the documents name only ctest entries and presets that exist, and CONTRIBUTING.md lists all $(wc -l <<<"$entries") entries, $(wc -l <<<"$all_presets") presets and $(wc -l <<<"$tracked") folders"
