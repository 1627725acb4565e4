#!/usr/bin/env bash
# Cross builds of the deliverables that this Linux x86-64 machine can make and test:
#
#   scripts/cross.sh [arm32|i386|arm64|windows|all]...     (no argument: all)
#
#   arm32    Linux on 32-bit Arm (arm-linux-gnueabihf), tests under qemu-arm
#   i386     Linux on i386 (i686-linux-gnu), tests run natively
#   arm64    Linux on 64-bit Arm (aarch64-linux-gnu), tests under qemu-aarch64
#   windows  Windows x64 (x86_64-w64-mingw32, POSIX threads): TOLVANx64.dll, tests under wine
#
# Each target builds into build-<target>/: GoogleTest from Debian's source package
# (/usr/src/googletest) built for the target, then the library, the examples and the tests,
# then ctest. The reference-data generator runs during the build, so it is built for this
# machine once, in build-host-tools/. Missing packages are installed with apt-get.
# Environment: TOLVAN_CROSS_JOBS (default 2) build jobs and ctest jobs.
# Exits non-zero when a build or a test of any target fails.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${TOLVAN_CROSS_JOBS:-2}

targets=()
for arg in "${@:-all}"; do
  case "$arg" in
    all) targets+=(arm32 i386 arm64 windows) ;;
    arm32 | i386 | arm64 | windows) targets+=("$arg") ;;
    *) echo "usage: $0 [arm32|i386|arm64|windows|all]..." >&2; exit 2 ;;
  esac
done

packages=(cmake g++ make python3 googletest)
for target in "${targets[@]}"; do
  case "$target" in
    arm32) packages+=(g++-arm-linux-gnueabihf qemu-user) ;;
    arm64) packages+=(g++-aarch64-linux-gnu qemu-user) ;;
    i386) packages+=(g++-i686-linux-gnu libc6-i386 lib32stdc++6) ;;
    windows) packages+=(g++-mingw-w64-x86-64-posix wine64) ;;
  esac
done
scripts/deps.sh "${packages[@]}" || exit 1

# The generator of the constant tables, for this machine.
echo "=== host tools (build-host-tools)"
mkdir -p build-host-tools
if ! { cmake -S . -B build-host-tools -DTOLVAN_BUILD_TESTS=OFF -DTOLVAN_BUILD_BENCH=OFF \
         -DTOLVAN_BUILD_EXAMPLES=OFF >build-host-tools/build.log 2>&1 &&
       cmake --build build-host-tools -j"$jobs" --target tolvan_data_generator \
         >>build-host-tools/build.log 2>&1; }; then
  cat build-host-tools/build.log
  echo "host tools: build FAILED"
  exit 1
fi
generator=$root/build-host-tools/src/synthesis/tolvan_data_generator

status=0
summary_file=$(mktemp)
trap 'rm -f "$summary_file"' EXIT
note() { echo "$*" >>"$summary_file"; }

cross() {  # cross <target>; runs in a subshell, so its exports stay there
  local target=$1 toolchain dir=build-$1 start=$SECONDS
  case "$target" in
    arm32) toolchain=linux-arm32 ;;
    arm64) toolchain=linux-arm64 ;;
    i386) toolchain=linux-i386 ;;  # runs on the system's 32-bit libraries (/lib32)
    windows) toolchain=windows-x64
      export WINEPREFIX=$root/$dir/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" ;;
  esac
  local toolchain_file=$root/cmake/toolchains/$toolchain.cmake
  mkdir -p "$dir"
  echo "=== $target: GoogleTest"
  if ! { cmake -S /usr/src/googletest -B "$dir/googletest" -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" \
           -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF \
           -DCMAKE_INSTALL_PREFIX="$root/$dir/googletest/install" >"$dir/googletest.log" 2>&1 &&
         cmake --build "$dir/googletest" -j"$jobs" >>"$dir/googletest.log" 2>&1 &&
         cmake --install "$dir/googletest" >>"$dir/googletest.log" 2>&1; }; then
    cat "$dir/googletest.log"; note "$target: GoogleTest build FAILED"; return 1
  fi
  if [ "$target" = windows ]; then
    # One wine server and its services for the whole run, started here with their output away
    # from ctest's pipes (a server started by a test would hold them open and stall ctest).
    echo "=== $target: wine server"
    /usr/lib/wine/wineserver64 -p >/dev/null 2>&1 </dev/null
    /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 </dev/null
  fi
  echo "=== $target: configure and build ($dir)"
  if ! cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
         -DTOLVAN_HOST_DATA_GENERATOR="$generator" -DTOLVAN_BUILD_BENCH=OFF \
         -DGTest_DIR="$root/$dir/googletest/install/lib/cmake/GTest" >"$dir/configure.log" 2>&1; then
    cat "$dir/configure.log"; note "$target: configure FAILED"; return 1
  fi
  if ! cmake --build "$dir" -j"$jobs"; then
    note "$target: build FAILED ($((SECONDS - start)) s)"; return 1
  fi
  local built=$((SECONDS - start))
  echo "=== $target: tests"
  local log=$dir/ctest.log failed=0
  local retry=()
  # A program that loads TOLVANx64.dll and ends at once stalls at exit under wine about once in
  # 30 runs (cause not yet found): a failed test there gets one more try.
  [ "$target" != windows ] || retry=(--repeat until-pass:2 --timeout 120)
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" "${retry[@]}" 2>&1 | tee "$log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || failed=1
  [ "$target" != windows ] || /usr/lib/wine/wineserver64 -k
  note "$target: $(grep -E 'tests passed|tests failed' "$log" | tail -1), $(grep -c '(Skipped)' "$log")\
 skipped; build $built s, tests $((SECONDS - start - built)) s$([ $failed -eq 0 ] || echo ' FAILED')"
  return $failed
}

for target in "${targets[@]}"; do
  (cross "$target") || status=1
done

echo
echo "=== Summary"
sed 's/^/  /' "$summary_file"
exit $status
