#!/usr/bin/env bash
# The main demonstration: builds the library, the virtual device and the examples, then plays
# four signals through libtolvan and a virtual simulator on the real serial path: a 1 mV 1 Hz
# sine, the synthetic ECG at 60 beats/min, the AAMI EC13 waveform aami3a, the synthetic ECG
# with impedance respiration and apnoea on the external respiration module (also plotted as the
# module's resistance), and the synthetic ECG with three PPG channels on the PPG module 0x2112
# (plotted with the PPG pulses on one time axis, so that the pulse-transit time shows). What the simulator would have put on its output (decoded from the stream it received) goes to demo-output/ as
# CSV files and SVG plots.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target play_demo tolvan-vdev

root=$PWD
out=$root/demo-output
work=$(mktemp -d /tmp/tolvan-demo-XXXXXX)
vdev=""
cleanup() {
    if [ -n "$vdev" ]; then
        kill -INT "$vdev" 2>/dev/null || true
        wait "$vdev" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
export TOLVAN_DEVICE_PATTERN="$work/ttyACM%d" TOLVAN_LOCK_DIR="$work"
rm -rf "$out"
mkdir -p "$out"

# run NAME TITLE FUNCTION SECONDS [SPECIAL-WAVE]: one virtual simulator per run, own CSV file.
run() {
    local name=$1 title=$2 rc=0
    shift 2
    echo "=== $name: $title"
    build/tools/virtual-device/tolvan-vdev --port 0 --preset "${PRESET:-current}" --csv "$work/$name.csv" \
        >"$work/$name.log" &
    vdev=$!
    for _ in $(seq 50); do [ -e "$work/ttyACM0" ] && break; sleep 0.1; done
    (cd "$work" && "$root/build/examples/play_demo" "$@") || rc=$?
    kill -INT "$vdev"
    wait "$vdev" || true
    vdev=""
    if [ "$rc" -eq 3 ]; then
        echo "skipped: the reference data was not built in (see scripts/fetch-data.sh)"
        return 0
    fi
    [ "$rc" -eq 0 ] || { echo "play_demo failed ($rc)" >&2; cat "$work/$name.log" >&2; exit 1; }

    local stopped
    stopped=$(grep 'stopped;' "$work/$name.log") || { cat "$work/$name.log" >&2; exit 1; }
    echo "device:  ${stopped#*stopped; }"
    case "$stopped" in
        *" 0 stream errors"*) ;;
        *) cat "$work/$name.log" >&2; echo "stream errors in $name" >&2; exit 1 ;;
    esac
    cp "$work/$name.csv" "$out/$name.csv"
    printf 'decoded: '
    python3 tools/plot/plot_csv.py --summary "$out/$name.csv" -o "$out/$name.svg" \
        --title "$title" --label "$name" --rate "${RATE:-20000}"
}

run sine "1 mV p-p 1 Hz sine (output 1)" 1 3
run ecg "Synthetic ECG, 60 beats/min, 1 mV (output 7)" 7 4
run aami3a "AAMI EC13 aami3a (output 8, waveform 0)" 8 6 0
# Impedance respiration on the external respiration module (5000 samples/s): 1 ohm p-p at
# 20 breaths/min over a 1000 ohm baseline, apnoea for the last 56 s of every minute, so the
# breathing runs for 4 s and the resistance then holds.
PRESET=resp RATE=5000 TOLVAN_DEMO_RESPIRATION="1000 20 2 1000 56" \
    run resp "Synthetic ECG with impedance respiration and apnoea from 4 s (output 7)" 7 6
python3 tools/plot/plot_csv.py "$out/resp.csv" -o "$out/resp_ohms.svg" --rate 5000 \
    --column resp_ohms --title "Respiration module resistance, ohms" --label resp

# ECG with three PPG pulse channels on the PPG module 0x2112 (10000 samples/s): each PPG peak
# follows the R crest by a pulse-transit time of 200 ms. The module's channel map carries
# channels 1 and 2; the plot shows the ECG with both channels' AC levels on one time axis.
PRESET=ppg2112 RATE=10000 TOLVAN_DEMO_PPG=200 \
    run ppg "Synthetic ECG with three PPG channels, pulse-transit time 200 ms (output 7)" 7 4
python3 tools/plot/plot_csv.py "$out/ppg.csv" -o "$out/ppg_ptt.svg" --rate 10000 --start 1 \
    --duration 2 --also ch1_ac --also ch2_ac --label ecg \
    --title "ECG and PPG channels 1 and 2 (AC levels scaled): pulse-transit time 200 ms"

echo "=== plots and decoded samples in demo-output/:"
ls demo-output
