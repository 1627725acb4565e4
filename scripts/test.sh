#!/usr/bin/env bash
# Builds and runs every test three ways: a normal build, an AddressSanitizer+UBSan build, and a
# ThreadSanitizer build of the threading tests; then a short fuzz pass, and with TOLVAN_CROSS=1 the
# cross builds of the other deliverables (scripts/cross.sh). Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh || exit 1

CTEST_PREFIX=(env)
jobs=$(nproc 2>/dev/null || echo 2)
status=0
summary=()

run() {  # run <name> <build dir> <ctest args...> -- <cmake args...>
  local name=$1 dir=$2
  shift 2
  local ctest_args=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do ctest_args+=("$1"); shift; done
  shift
  echo "=== $name: configure and build ($dir)"
  if ! cmake -S . -B "$dir" "$@" >"$dir/configure.log" 2>&1; then
    cat "$dir/configure.log"; status=1; summary+=("$name: configure FAILED"); return
  fi
  if ! cmake --build "$dir" -j"$jobs"; then
    status=1; summary+=("$name: build FAILED"); return
  fi
  echo "=== $name: tests"
  local log="$dir/ctest.log"
  if "${CTEST_PREFIX[@]}" ctest --test-dir "$dir" --output-on-failure -j"$jobs" "${ctest_args[@]}" 2>&1 | tee "$log"; then
    summary+=("$name: $(grep -E 'tests passed|tests failed' "$log" | tail -1)")
  else
    status=1
    summary+=("$name: $(grep -E 'tests passed|tests failed' "$log" | tail -1) FAILED")
  fi
}

mkdir -p build
run "normal" build -LE python -- -DCMAKE_BUILD_TYPE=RelWithDebInfo

# The Python package (pytest) against the library and the virtual device of the normal build.
echo "=== python: pytest"
# The biosig cross-check runs when the build has its biosig_dump (biosig installed).
biosig_dump=""
[ -x build/tests/biosig_dump ] && biosig_dump="$PWD/build/tests/biosig_dump"
if TOLVAN_LIBRARY="$PWD/build/libtolvan.so" TOLVAN_VDEV="$PWD/build/tools/virtual-device/tolvan-vdev" \
    TOLVAN_BIOSIG_DUMP="$biosig_dump" PYTHONPATH="$PWD/python" \
    /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/python \
    2>&1 | tee build/pytest.log; then
  summary+=("python: $(tail -1 build/pytest.log)")
else
  status=1
  summary+=("python: $(tail -1 build/pytest.log) FAILED")
fi
mkdir -p build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run "asan+ubsan" build-asan -- -DCMAKE_BUILD_TYPE=Debug \
    "-DTOLVAN_SANITIZE=address,undefined" -DTOLVAN_BUILD_BENCH=OFF
# ThreadSanitizer cannot map its shadow memory under high ASLR entropy; run it with address
# randomisation off where the kernel allows it.
mkdir -p build-tsan
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
if setarch "$(uname -m)" -R true 2>/dev/null; then
  CTEST_PREFIX=(setarch "$(uname -m)" -R)
fi
run "tsan" build-tsan -L threading -- -DCMAKE_BUILD_TYPE=Debug -DTOLVAN_SANITIZE=thread \
  -DTOLVAN_BUILD_BENCH=OFF -DTOLVAN_BUILD_EXAMPLES=OFF

# A short fuzz pass over every file loader (ASan+UBSan, libFuzzer).
echo "=== fuzz: 10 s per loader"
if scripts/fuzz.sh 10; then
  summary+=("fuzz: no finding")
else
  status=1
  summary+=("fuzz: FAILED (reproducers in build-fuzz/artifacts)")
fi

# The other Linux deliverables and the Windows DLL (scripts/cross.sh): each target's library and
# tests, under qemu-user or wine. They take 30 to 40 minutes more and the device tests' timing
# under emulation is not steady enough to gate a change, so they run on request: TOLVAN_CROSS=1.
if [ "${TOLVAN_CROSS:-0}" = 1 ]; then
  echo "=== cross builds: arm32 i386 arm64 windows"
  cross_log=$(mktemp)
  scripts/cross.sh all 2>&1 | tee "$cross_log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  while IFS= read -r line; do summary+=("cross ${line#  }"); done \
    < <(sed -n '/^=== Summary/,$p' "$cross_log" | tail -n +2)
  rm -f "$cross_log"
fi

echo
echo "=== Summary"
for line in "${summary[@]}"; do echo "  $line"; done
exit $status
