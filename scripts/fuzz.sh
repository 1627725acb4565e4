#!/usr/bin/env bash
# Builds the fuzz targets of the recording loaders and the device reply parsers with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for a bounded time on a generated seed corpus.
#   scripts/fuzz.sh [seconds per target, default 60]
# Exits non-zero when a target finds a crash, a leak, undefined behaviour or a timeout; the
# reproducer is left in build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=build-fuzz
targets=(text bin aha_txt aha_ecg edf edf_ex wfdb wfdb_record replies)

mkdir -p "$build"
CC=clang CXX=clang++ cmake -S fuzz -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build/configure.log" 2>&1 ||
  { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j2
python3 fuzz/make_corpus.py "$build/seeds"
mkdir -p "$build/artifacts"

status=0
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  echo "=== fuzz_$t: ${seconds}s"
  if ! UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ASAN_OPTIONS=detect_leaks=1 \
    "$build/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" "$corpus" "$build/seeds/$t" \
    >"$build/fuzz_$t.log" 2>&1; then
    tail -40 "$build/fuzz_$t.log"
    echo "fuzz_$t: FAILED"
    status=1
  else
    grep -E 'stat::number_of_executed_runs|cov:' "$build/fuzz_$t.log" | tail -2
  fi
done
exit $status
