#!/usr/bin/env bash
# Builds the fuzz targets in build-fuzz/ (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for SECONDS (default 30), starting from its seeds in
# engine/fuzz/corpus/<target> or ui/fuzz/corpus/<target>. Inputs found on the way stay in
# build-fuzz/corpus; a fault's input and log go to build-fuzz/findings. Exits 1 when any target
# found a fault.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DSAFEHOLD_FUZZ=ON -DSAFEHOLD_WERROR=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --parallel "$(nproc)"

export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
status=0
for seeds in engine/fuzz/corpus/*/ ui/fuzz/corpus/*/; do
  name=$(basename "$seeds")
  half=${seeds%%/*}
  work=build-fuzz/corpus/$name
  findings=build-fuzz/findings/$name
  mkdir -p "$work" "$findings"
  echo "fuzz: $name for ${seconds}s"
  if ! "build-fuzz/$half/fuzz/fuzz-$name" -max_total_time="$seconds" -timeout=30 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" "$work" "$seeds" \
    >"$findings.log" 2>&1; then
    echo "fuzz: $name found a fault ($findings.log):"
    tail -n 60 "$findings.log"
    status=1
  fi
  grep -E '^stat::number_of_executed_units' "$findings.log" || true
done
exit $status
