#!/usr/bin/env bash
# usage: examples_test.sh EXAMPLES_DIR TOLVAN_VDEV TOLVAN_CLI SOURCE_DIR
# Runs each example on port 0 of a fresh virtual simulator and checks its exit status and one
# line of its output. Exit 3 of the standard-waveform examples (no reference data built in)
# counts as skipped only when the library says the table is missing.
set -uo pipefail
bin=$1 vdev=$2 cli=$3 source=$4
work=$(mktemp -d /tmp/tolvan-examples-XXXXXX)
pid=""
cleanup() { [ -n "$pid" ] && kill -INT "$pid" 2>/dev/null && wait "$pid"; rm -rf "$work"; }
trap cleanup EXIT
export TOLVAN_DEVICE_PATTERN=$work/ttyACM%d TOLVAN_LOCK_DIR=$work PYTHONPATH=$source/python
"$cli" render ecg --bpm 120 --seconds 2 --rate 500 -o "$work/ecg.edf" >/dev/null || exit 1
failures=0

# [PRESET=name] example REGEX COMMAND...: leaves the program's output in $out.
out=""
example() {
    local pattern=$1 rc
    shift
    "$vdev" --port 0 --preset "${PRESET:-current}" >/dev/null &
    pid=$!
    for _ in $(seq 100); do [ -e "$work/ttyACM0" ] && break; sleep 0.05; done
    out=$(timeout 120 "$@" 2>&1)
    rc=$?
    kill -INT "$pid"
    wait "$pid"
    pid=""
    if [ "$rc" -eq 3 ] && grep -q "not built into this library" <<<"$out"; then
        echo "skipped (no reference data): $*"
    elif [ "$rc" -ne 0 ] || ! grep -Eq -- "$pattern" <<<"$out"; then
        echo "FAILED: $* -> exit $rc, output:"
        echo "$out" | sed 's/^/    /'
        failures=$((failures + 1))
    else
        echo "ok: $* -> $(grep -E -- "$pattern" <<<"$out" | head -1)"
    fi
}

example "aami3a: [0-9]+ samples, peak 0\.[0-9]+ mV" "$bin/standard_waveform" 0
example "played to the end" "$bin/play_edf" "$work/ecg.edf" 0
example "^[3-4] pacing pulses in 3 s" "$bin/pacing" 0
# ptt_example PTT BPM COMMAND...: ECG and PPG pulses on the PPG module 0x2112; the example prints
# the delay from each R wave to each PPG peak of the ground truth. Every delay must lie within
# 1 ms of the requested pulse-transit time (the library places the R crest on the whole
# millisecond below it), and the pulses of four seconds must be there: three channels, one pulse
# per beat each.
ptt_example() {
    local ptt=$1 bpm=$2 before=$failures summary verdict
    shift 2
    PRESET=ppg2112 example "PPG module: QAP2112" "$@"
    [ "$failures" -eq "$before" ] || return 0
    summary=$(grep -E "^PTT requested $ptt ms" <<<"$out")
    verdict=$(awk -v ptt="$ptt" -v bpm="$bpm" '
        /^channel [0-2]: R wave/ { d = $(NF - 1); n++; if (d < ptt - 1 || d > ptt + 1) bad++ }
        END {
            if (n < 3 * int(3 * bpm / 60)) print "only " n " pulses"
            else if (bad) print bad " delays off by more than 1 ms"
        }' <<<"$out")
    if [ -z "$summary" ] || [ -n "$verdict" ]; then
        echo "FAILED: pulse-transit time $ptt ms at $bpm/min: ${verdict:-no summary}: $*"
        failures=$((failures + 1))
    else
        echo "    $summary"
    fi
}
ptt_example 200 60 "$bin/ppg_ptt" 0 200 60
example "AC -1\.000 \.\. 1\.000 mV" "$bin/record_output" 0
example "aami3a: [0-9]+ samples, peak 0\.[0-9]+ mV" "$bin/cpp_tasks" standard --port 0
example "ecg.edf: 1000 samples loaded" "$bin/cpp_tasks" edf "$work/ecg.edf" --port 0
example "pacing at 120 pulses/min" "$bin/cpp_tasks" pacing --port 0
example "AC -1\.000 \.\. 1\.000 mV" "$bin/cpp_tasks" record --port 0
# The Python examples need numpy and a library this interpreter can load (not so in a cross
# build: a 32-bit or ARM library under the build machine's Python).
if /usr/bin/python3 -c "import ctypes, os, numpy; ctypes.CDLL(os.environ['TOLVAN_LIBRARY'])" \
    2>/dev/null; then
    py="/usr/bin/python3 $source/examples/python/common_tasks.py"
    example "aami3a: [0-9]+ callback samples" $py standard --port 0
    example "played to the end" $py edf "$work/ecg.edf" --port 0
    example "^[3-5] pacing pulses in 2 s" $py pacing --port 0
    example "AC -1\.000 \.\. 1\.000 mV" $py record --port 0
    ptt_example 150 72 /usr/bin/python3 "$source/examples/python/ppg_ptt.py" --port 0 --ptt 150 \
        --bpm 72
else
    echo "skipped: the Python examples (no numpy, or the library is not for this interpreter)"
fi
echo "$failures failed"
[ "$failures" -eq 0 ]
