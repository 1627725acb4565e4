#!/usr/bin/env bash
# The main demonstration: builds the library, the virtual device and the examples, starts a
# virtual simulator, connects to it, plays a 1 mV 1 Hz sine for three seconds and shows what
# the simulator would have put on its output (decoded from the stream it received).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target play_sine tolvan-vdev

work=$(mktemp -d /tmp/tolvan-demo-XXXXXX)
trap 'kill "$vdev" 2>/dev/null || true; wait "$vdev" 2>/dev/null || true; rm -rf "$work"' EXIT
export TOLVAN_DEVICE_PATTERN="$work/ttyACM%d" TOLVAN_LOCK_DIR="$work"

echo "=== starting a virtual simulator on port 0"
build/tools/virtual-device/tolvan-vdev --port 0 --preset current --csv "$work/output.csv" &
vdev=$!
for _ in $(seq 50); do [ -e "$work/ttyACM0" ] && break; sleep 0.1; done

echo "=== playing a sine through libtolvan"
(cd "$work" && "$OLDPWD/build/examples/play_sine" 0 3)

kill -INT "$vdev"
wait "$vdev" || true
echo "=== what the simulator played (decoded from the stream)"
python3 - "$work/output.csv" <<'PY'
import csv, sys
rows = list(csv.DictReader(open(sys.argv[1])))
if not rows:
    sys.exit("no samples decoded")
keys = list(rows[0].keys())
ac = next(k for k in keys if k.lower().startswith("ac") and "mv" in k.lower())
dc = next(k for k in keys if k.lower().startswith("dc") and "mv" in k.lower())
acs = [float(r[ac]) for r in rows]
dcs = [float(r[dc]) for r in rows]
print(f"{len(rows)} samples at 20000/s ({len(rows)/20000:.2f} s)")
print(f"AC path: {min(acs):+.3f} .. {max(acs):+.3f} mV   DC path: {min(dcs):+.3f} .. {max(dcs):+.3f} mV")
step = max(1, len(rows) // 20)
for r in rows[::step][:20]:
    v = float(r[ac])
    bar = " " * int(20 + 36 * v) + "*"
    print(f"{int(r[keys[0]])/20000:6.3f} s {v:+.3f} mV |{bar}")
PY
