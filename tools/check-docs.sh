#!/bin/bash
# Fails when the documents name a ctest entry or a preset that does not
# exist, or when CONTRIBUTING.md's tables of them are not complete:
#   - its table headed "| preset |" lists exactly the configure presets of
#     CMakePresets.json;
#   - its table headed "| ctest entry | presets |" lists exactly the entries
#     that `ctest -N` finds in each preset's build tree, each with the presets
#     it is in (for the presets that tools/test.sh runs);
#   - in README.md, CONTRIBUTING.md, docs/*.md and packaging/DEPLOYMENT.md, a
#     preset after `--preset` or in `build/<preset>`, a word in backticks that
#     starts like a preset (linux, windows, release-, bench), and a word in
#     backticks shaped like a ctest entry (letters, digits and underscores,
#     its part before the first underscore that of an existing entry, as in
#     dll_ or load_) must exist.
# Each preset is configured first, so that its test list is current.
#   bash tools/check-docs.sh [preset...]    default: the presets of tools/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -gt 0 ]; then
  presets=("$@")
else
  read -r -a presets <<<"$(sed -n 's/^presets=(\(.*\))$/\1/p' tools/test.sh)"
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

if [ ${#problems[@]} -gt 0 ]; then
  printf 'check-docs: %s\n' "${problems[@]}" >&2
  exit 1
fi
echo "check-docs: the documents name only ctest entries and presets that exist, and CONTRIBUTING.md lists all $(wc -l <<<"$entries") entries and $(wc -l <<<"$all_presets") presets"
