#!/bin/bash
# Benchmark: what each native of the library costs against its floor (the same
# JNI work with nothing added), JNA and the foreign-function API, side by side
# in one JVM run against the stand-in agent. Not part of the test suite.
#
#   bash tools/bench.sh            full run: 11 rounds of at least 100 ms per case
#   bash tools/bench.sh --quick    10 ms rounds: proves the run works, rough numbers
#
# Installs what it needs, builds the `bench` preset (build/bench), checks that
# every mechanism gives the library's results (ctest), then prints the tables
# and writes build/bench/results.csv, build/bench/converter.csv and
# build/bench/results.png. Numbers are only worth comparing from a quiet
# machine: the table shows the load average. Last it prints each native's
# instructions per call against its floor's, counted by callgrind, which the
# load does not move (also in build/bench/instructions.txt).
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup.sh
jqel_install "${JQEL_CORE_PACKAGES[@]}" "${JQEL_COUNT_PACKAGES[@]}" libjna-java libjna-jni gnuplot-nox

cmake --preset bench >/dev/null
cmake --build --preset bench -j2
ctest --preset bench

out=build/bench
ffm=1
grep -q jqel.bench.ffm.absent "$out/bench/run-bench.sh" && ffm=0
sh "$out/bench/run-bench.sh" --csv "$out/results.csv" "$@"
echo
# The same natives' instructions per call against the floor's, counted by
# callgrind (bench/count/count.sh): exact where the timings above move with
# the machine's load.
bash bench/count/count.sh "$out/lib/jqel_count" | tee "$out/instructions.txt"
gnuplot -e "csv='$out/results.csv'; conv='$out/converter.csv'; png='$out/results.png'; ffm=$ffm" bench/plot.gp
echo "Wrote $out/results.csv, $out/converter.csv, $out/results.png and $out/instructions.txt"
