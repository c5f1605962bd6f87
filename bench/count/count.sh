#!/bin/bash
# Instructions per call of each native of the library against its floor, the
# same JNI, converter and agent calls with nothing added, counted by
# callgrind: runs the driver (count.cpp) under valgrind and prints one row per
# case of the benchmark.
#
#   bash bench/count/count.sh [--check] <jqel_count>
#
# The driver dumps callgrind's counters after each case's calls, labelled
# "<case>|<calls>|<library's symbol>|<its object>|<floor's symbol>|<its
# object>". From each dump, for the library and for the floor:
#   inclusive  the cost of the calls to the native's symbol with all they
#              called: the fake JNIEnv's functions, the converter, the agent,
#              the C library. The driver's work between calls is not in it.
#              The fake, the converter and the agent allocate, and what an
#              allocation costs depends a little on the heap's state, so
#              these counts move by up to about 150 instructions per call
#              when anything else changes.
#   own        the cost of every instruction in the native's object file
#              (libJQelAgtMsg.so or libJQelBenchFloor.so): the library's own
#              code, or the floor's. Calls through the PLT count with the
#              callee (callgrind's --skip-plt). Exact.
#   calls      how often the native's code calls each function outside its
#              object file: JNI functions, converter, agent, free. Exact.
# Each is divided by the number of calls.
#
# --check: exit 1 if in any case the library's own instructions per call
# exceed the floor's by more than that case's bound below, or if the library
# calls any function outside itself more often per call than the floor does,
# beyond what that case allows below. Exit 77 when valgrind is missing.
set -euo pipefail

check=0
if [ "${1:-}" = --check ]; then
  check=1
  shift
fi
driver=${1:?usage: count.sh [--check] <jqel_count>}

if ! command -v valgrind >/dev/null; then
  echo "SKIPPED: valgrind is not installed, so no instructions were counted." \
    "Debian's package valgrind has it (tools/setup.sh installs it)."
  exit 77
fi

# case:most own instructions per call that the library may add to its
# floor's:the calls per call it may make beyond the floor's (function=count,
# ...). From the counts of the commit that set them (docs/benchmark.md), with
# a little slack; the listing's frames of local references are its only
# extra calls.
bounds='
message send:0:
message ack:0:
monvalue send:0:
set 16/16:31:
get 16/16:20:
set 16/4K:31:
get 16/4K:20:
remove 16/16:12:
remove 16/4K:12:
names 1:25:
names 16:78:PushLocalFrame=1,PopLocalFrame=1
names 1000:2440:PushLocalFrame=16,PopLocalFrame=16
'

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# Every symbol bound when the program loads, as the library itself is
# (-z now), so that no call of the floor's counts the dynamic linker's
# lazy binding; the driver also makes one call of each case before counting.
if ! LD_BIND_NOW=1 valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.out" \
    --compress-strings=no --compress-pos=no "$driver" >"$out/log" 2>&1; then
  cat "$out/log"
  echo "FAILED: the driver failed under valgrind"
  exit 1
fi

# One line per dump and mechanism: case|mechanism|calls|inclusive|own|calls
# seen|function=calls;... for the functions outside its object that it calls.
# Callgrind's format: "ob=" and "fn=" name the function whose cost lines
# ("<line> <Ir>") follow; "cob="/"cfn=" and "calls=<n> <line>" announce a
# call, whose inclusive cost is the next cost line and not the caller's own.
mapfile -t dumps < <(printf '%s\n' "$out"/callgrind.out.* | sort -V)
counts=$(for f in "${dumps[@]}"; do
  awk '
    function owner(path,   p, n, m) {
      n = split(path, p, "/")
      for (m in object) if (index(p[n], object[m]) == 1) return m
      return ""
    }
    /^desc: Trigger: Client Request: / {
      split(substr($0, 32), l, "|")
      label = l[1]; calls = l[2]
      symbol["library"] = l[3]; object["library"] = l[4]
      symbol["floor"] = l[5]; object["floor"] = l[6]
    }
    /^ob=/ { mine = owner(substr($0, 4)); next }
    /^fn=/ { callee_mine = mine; next }
    /^cob=/ { callee_mine = owner(substr($0, 5)); next }
    /^cfn=/ { cfn = substr($0, 5); next }
    /^calls=/ { split(substr($0, 7), c, " "); in_call = 1; next }
    /^[0-9]/ {
      if (in_call) {
        for (m in symbol) if (cfn == symbol[m]) { inclusive[m] += $2; seen[m] += c[1] }
        if (mine != "" && callee_mine != mine) {
          name = cfn
          sub(/\(.*/, "", name); sub(/.*::/, "", name)
          out_calls[mine, name] += c[1]; names[name] = 1
        }
        in_call = 0; callee_mine = mine
      } else if (mine != "") {
        own[mine] += $2
      }
    }
    END {
      if (label == "") exit
      for (m in symbol) {
        list = ""
        for (name in names) if ((m, name) in out_calls) list = list name "=" out_calls[m, name] ";"
        printf "%s|%s|%d|%d|%d|%d|%s\n", label, m, calls, inclusive[m], own[m], seen[m], list
      }
    }
  ' "$f"
done)

echo "Instructions per call, counted by callgrind through the fake JNIEnv"
echo "(whose functions cost what they cost in the fake, not in a JVM: see docs/benchmark.md)"
awk -F'|' -v check=$check -v bounds="$bounds" '
  BEGIN {
    n = split(bounds, b, "\n")
    for (i = 1; i <= n; i++) {
      if (split(b[i], f, ":") != 3) continue
      own_bound[f[1]] = f[2]
      k = split(f[3], e, ",")
      for (j = 1; j <= k; j++) { split(e[j], kv, "="); extra_bound[f[1], kv[1]] = kv[2] }
    }
    printf "%-14s %11s %11s %9s %8s   %7s %7s %9s %8s\n", "", "inclusive", "", "", "", "own", "", "", ""
    printf "%-14s %11s %11s %9s %8s   %7s %7s %9s %8s\n", "case", "library", "floor",
      "lib/floor", "lib-floor", "library", "floor", "lib/floor", "lib-floor"
  }
  function ratio(a, b) { return b > 0 ? sprintf("%.3f", a / b) : (a > 0 ? "inf" : "1.000") }
  {
    key = $1; m = $2; calls = $3
    if ($6 != calls) { print "FAILED: " key ", " m ": " $6 " calls of the native counted, not " calls; bad = 1 }
    incl[key, m] = $4 / calls; own[key, m] = $5 / calls
    k = split($7, e, ";")
    for (j = 1; j <= k; j++) if (split(e[j], kv, "=") == 2) { called[key, m, kv[1]] = kv[2] / calls; callee[key, kv[1]] = 1 }
    if (!(key in seen_case)) { seen_case[key] = 1; order[++cases] = key }
  }
  END {
    for (i = 1; i <= cases; i++) {
      k = order[i]
      li = incl[k, "library"]; fi = incl[k, "floor"]; lo = own[k, "library"]; fo = own[k, "floor"]
      printf "%-14s %11.0f %11.0f %9s %8.0f   %7.1f %7.1f %9s %8.1f\n", k, li, fi, ratio(li, fi), li - fi,
        lo, fo, ratio(lo, fo), lo - fo
    }
    print ""
    for (i = 1; i <= cases; i++) {
      k = order[i]
      if (!(k in own_bound)) { print "FAILED: no bound for " k; bad = 1; continue }
      lo = own[k, "library"]; fo = own[k, "floor"]
      if (lo - fo > own_bound[k] + 0.5) {
        printf "%s: the library adds %.1f own instructions per call to its floor'"'"'s; the bound is %d\n",
          k, lo - fo, own_bound[k]
        over = 1
      }
      for (key in callee) {
        split(key, kc, SUBSEP)
        if (kc[1] != k) continue
        fn = kc[2]; d = called[k, "library", fn] - called[k, "floor", fn]
        if (d != 0) printf "%s: the library calls %s %+g times per call against its floor\n", k, fn, d
        if (d > extra_bound[k, fn] + 0) {
          printf "%s: ... which is more than the %d allowed\n", k, extra_bound[k, fn]
          over = 1
        }
      }
    }
    if (cases != 12) { print "FAILED: " cases " cases counted, not 12"; bad = 1 }
    if (check && over) print "FAILED: the library adds more to its floor than its bounds allow (bench/count/count.sh)"
    if (bad || (check && over)) exit 1
  }
' <<<"$counts"
