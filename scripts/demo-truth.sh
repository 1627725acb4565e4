#!/usr/bin/env bash
# Ground truth: renders the AAMI EC13 waveform aami3a and the synthetic ECG with pacing offline
# into WFDB records with their annotations (tolvan render --annotations -o NAME.hea), plots each
# with its beat and pacing markers, and writes the same with EDF+ annotations; then plays the paced
# ECG on a virtual simulator and writes what the simulator decoded with the library's ground truth
# (tolvan play --vdev --vdev-csv device.hea --annotations). Everything goes to demo-output/truth/:
# NAME.hea/.dat/.atr, NAME.edf, NAME.svg.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target tolvan-cli tolvan-vdev

out=$PWD/demo-output/truth
rm -rf "$out"
mkdir -p "$out"
tolvan=$PWD/build/tools/cli/tolvan

# render NAME FUNCTION ARGS...: WFDB with annotations, EDF+ twin, plot of the first 10 s.
render() {
    local name=$1
    shift
    echo "=== $name: tolvan render $* --annotations"
    "$tolvan" render "$@" --annotations -o "$out/$name.hea"
    "$tolvan" render "$@" --annotations -o "$out/$name.edf" >/dev/null
    python3 tools/plot/plot_wfdb.py "$out/$name.hea" -o "$out/$name.svg" --seconds 10
}
if render aami3a aami3a --seconds 60 --rate 720; then :; else
    echo "(aami3a skipped: its reference data is not built in; see README, Reference data)"
fi
render paced ecg --bpm 70 --pace 2 --seconds 30 --rate 500
render paced212 ecg --bpm 60 --pace 2 --pace-width 1 --seconds 10 --rate 1000 --format 212
echo "=== device: tolvan play ecg --pace 2 on a virtual simulator, its decoded record with the truth"
"$tolvan" play ecg --bpm 70 --pace 2 --seconds 6 \
    --vdev --vdev-csv "$out/device.hea" --annotations
python3 tools/plot/plot_wfdb.py "$out/device.hea" -o "$out/device.svg" --seconds 5
echo "records, EDF+ files and plots in $out"
