#!/usr/bin/env bash
# Soak run against the virtual device (not part of CI): MINUTES of wall time of playback with
# pacing and noise, a change every few milliseconds and an unplug/replug every RECONNECT seconds.
#   scripts/soak.sh MINUTES [RECONNECT_SECONDS=30]
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:?usage: scripts/soak.sh MINUTES [RECONNECT_SECONDS]}
build=build-soak
mkdir -p "$build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVAN_BUILD_TESTS=OFF \
  -DTOLVAN_BUILD_BENCH=OFF -DTOLVAN_BUILD_EXAMPLES=OFF >"$build/configure.log" 2>&1 ||
  { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j2 --target tolvan-soak
exec "$build/tools/soak/tolvan-soak" "$minutes" "${2:-30}"
