#!/usr/bin/env bash
# usage: cli_test.sh TOLVAN [PYTHON CHECK_WFDB [EDFPLUS_READER]]: each case runs the tool and
# checks its exit code and one line of its output (a regular expression); the rendered WFDB
# records and EDF+ files are read back by independent readers (a Python decoder, EDFlib).
set -uo pipefail
tool=$1
python=${2:-}
check_wfdb=${3:-}
edfplus_reader=${4:-}
work=$(mktemp -d /tmp/tolvan-cli-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir nodes
export TOLVAN_DEVICE_PATTERN=$work/nodes/ttyACM%d TOLVAN_LOCK_DIR=$work/nodes
failures=0

# check EXIT REGEX ARGS...
check() {
    local want=$1 pattern=$2
    shift 2
    local out rc
    out=$(timeout 120 "$tool" "$@" 2>&1)
    rc=$?
    if [ "$rc" -ne "$want" ] || ! grep -Eq -- "$pattern" <<<"$out"; then
        echo "FAILED: tolvan $* -> exit $rc (want $want), output:"
        echo "$out" | sed 's/^/    /'
        failures=$((failures + 1))
    else
        echo "ok: tolvan $*"
    fi
}

check 0 "^  3  no simulator could be connected" --help
for command in list info play render plot update; do
    check 0 "^Usage: tolvan $command" "$command" --help
done
check 0 "^Usage: tolvan play" help play
check 2 "unknown command" frobnicate
check 2 "unknown function or no such file: bogus" play bogus --offline
check 2 "--amplitude: x is not a number" play sine --amplitude x
check 1 "TOLVSetAmplitude\(99\) refused: -2" play sine --amplitude 99 --offline
check 3 "no simulator: timed out after 500 ms \(no such node: $work/nodes/ttyACM4\)" \
    info --port 4 --timeout 500
check 3 "no serial node matches" list

# Offline: render to EDF and CSV, read both back (the EDF through the library's own reader).
check 0 "rendered sine: 2.0 s at 1000 samples/s to sine.edf" \
    render sine --amplitude 2 --frequency 5 --seconds 2 -o sine.edf
check 0 "played sine.edf for 1.[0-9] s: [0-9]+ samples, -1.00[0-9] .. 1.00[0-9] mV" \
    play sine.edf --offline --seconds 1
check 0 "rendered ecg" render ecg --bpm 120 --seconds 3 --rate 500 -o ecg.csv
check 0 "plotted 1500 samples of ecg.csv to ecg.png" plot ecg.csv -o ecg.png
[ "$(head -c 8 ecg.png | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] ||
    { echo "FAILED: ecg.png is not a PNG"; failures=$((failures + 1)); }
check 0 "plotted 2000 samples of sine.edf to sine.svg" plot sine.edf -o sine.svg
grep -q "<polyline" sine.svg || { echo "FAILED: sine.svg has no trace"; failures=$((failures + 1)); }

# Ground truth: WFDB records and EDF+ with the beats, read back by independent readers.
# wfdb NAME BEATS LABELS RENDER-ARGS...: the record and a CSV twin, then the checks.
wfdb() {
    local name=$1 beats=$2 labels=$3
    shift 3
    check 0 "annotations: $beats beats" render "$@" --annotations -o "$name.hea"
    check 0 "rendered" render "$@" -o "$name.csv"
    local listing=""
    if [ -n "$edfplus_reader" ]; then
        check 0 "annotations: $beats beats" render "$@" --annotations -o "$name.edf"
        "$edfplus_reader" "$name.edf" | tail -n +2 >"$name.edf.txt" ||
            { echo "FAILED: EDFlib refused $name.edf"; failures=$((failures + 1)); }
        listing=$name.edf.txt
    fi
    if [ -n "$python" ]; then
        if ! out=$("$python" "$check_wfdb" "$name.hea" "$name.csv" "$labels" $listing); then
            echo "FAILED: $name: $out"
            failures=$((failures + 1))
        else
            echo "ok: $out"
        fi
    fi
}
wfdb ecg72 12 N=12 ecg --bpm 72 --seconds 10 --rate 360
# Paced from the second beat on: the first pulse comes 20 ms before the second period.
wfdb paced 10 N=1,/=9 ecg --bpm 60 --pace 2 --seconds 10 --rate 500 --format 212
wfdb long 4 N=4 ecg --bpm 10 --seconds 20 --rate 1000
check 2 "--format is 16 or 212" render ecg --format 17 -o x.hea

# Against a virtual simulator started for the run: what it decoded from the stream.
check 0 "played sine for 2.0 s: [0-9]+ samples, -0.500 .. 0.500 mV" \
    play sine --amplitude 1 --frequency 5 --seconds 2 --vdev --vdev-csv dev.csv
check 0 "plotted [0-9]+ samples of dev.csv" plot dev.csv -o dev.svg
check 0 "^PPG module +QAP2112-" info --vdev=ppg2112
check 0 "ttyACM0 +QPS0130-260815 +firmware 1.3.05.12" list --vdev

# Firmware update of a virtual simulator, with an image made by tolvan-vdev.
vdev=$(dirname "$tool")/../virtual-device/tolvan-vdev
check 4 "nosuch.bin: no such file \(-2\)" update nosuch.bin --vdev
head -c 1000 /dev/zero >short.bin
check 4 "short.bin: not an image of this kind" update short.bin --vdev
if [ -x "$vdev" ] && "$vdev" --make-firmware-image fw.bin --image-version 1.4.0.1 >/dev/null; then
    check 0 "^updated: QPS0130-260815 now runs firmware 1.4.00.01" update fw.bin --vdev
else
    echo "FAILED: tolvan-vdev could not make a firmware image"; failures=$((failures + 1))
fi

echo "$failures failed"
[ "$failures" -eq 0 ]
