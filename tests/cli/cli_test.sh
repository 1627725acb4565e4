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
# verify ARGS...: check_wfdb.py ARGS (when Python is given).
verify() {
    [ -n "$python" ] || return 0
    local out
    if ! out=$("$python" "$check_wfdb" "$@"); then
        echo "FAILED: $*: $out"
        failures=$((failures + 1))
    else
        echo "ok: $out"
    fi
}
# edfplus NAME: writes NAME.edf.txt, the annotations EDFlib reads from NAME.edf, and prints its
# name (nothing without EDFlib).
edfplus() {
    [ -n "$edfplus_reader" ] || return 0
    "$edfplus_reader" "$1.edf" | tail -n +2 >"$1.edf.txt" || return 1
    echo "$1.edf.txt"
}
# wfdb NAME BEATS LABELS RENDER-ARGS...: the record and a CSV twin, then the checks.
wfdb() {
    local name=$1 beats=$2 labels=$3 listing
    shift 3
    check 0 "annotations: $beats beats" render "$@" --annotations -o "$name.hea"
    check 0 "rendered" render "$@" -o "$name.csv"
    [ -z "$edfplus_reader" ] ||
        check 0 "annotations: $beats beats" render "$@" --annotations -o "$name.edf"
    listing=$(edfplus "$name") || { echo "FAILED: EDFlib refused $name.edf"; failures=$((failures + 1)); }
    verify "$name.hea" "$name.csv" "$labels" $listing
}
wfdb ecg72 12 N=12 ecg --bpm 72 --seconds 10 --rate 360
# Paced from the second beat on: the first pulse comes 20 ms before the second period.
wfdb paced 10 N=1,/=9 ecg --bpm 60 --pace 2 --seconds 10 --rate 500 --format 212
wfdb long 4 N=4 ecg --bpm 10 --seconds 20 --rate 1000
check 2 "--format is 16 or 212" render ecg --format 17 -o x.hea

# Against a virtual simulator started for the run: what it decoded from the stream.
check 0 "played sine for 2.0 s: [0-9]+ samples, -0.500 .. 0.500 mV" \
    play sine --amplitude 1 --frequency 5 --seconds 2 --vdev --vdev-csv dev.csv --vdev-csv dev.edf
check 0 "plotted [0-9]+ samples of dev.csv" plot dev.csv -o dev.svg
check 0 "played dev.edf for 1.[0-9] s: [0-9]+ samples, -0.50[0-9] .. 0.50[0-9] mV" \
    play dev.edf --offline --seconds 1
# A play's ground truth. The virtual simulator's decoded record of the run (and its CSV) gets
# the truth merged with the pacing markers it saw on the wire; -o keeps the callback's samples.
# 5.5 s at 60/min, paced from the second beat: 6 beats, 5 pulses, 3 samples repeated by the
# packet builder's clock step (so a beat placed without them misses its peak by 2 or 3).
check 0 "tolvan-vdev: wrote devp.hea: [0-9]+ samples at 20000/s, 5 pacing markers, 6 annotations merged, 5 of 5 pacing pulses on a marker" \
    play ecg --bpm 60 --pace 2 --seconds 5.5 --vdev --vdev-csv devp.hea --vdev-csv devp.csv \
    --annotations -o hostp.hea
verify --device devp.hea devp.csv hostp.hea "/=5,N=1,^=5"
# On the library's timer: a WFDB record, its CSV twin and EDF+ written in one run agree.
check 0 "annotations: 3 beats, 2 pacing pulses" play ecg --bpm 60 --pace 2 --seconds 2.5 \
    --offline --annotations -o off.hea -o off.csv -o off.edf
listing=$(edfplus off) || { echo "FAILED: EDFlib refused off.edf"; failures=$((failures + 1)); }
verify off.hea off.csv "N=1,/=2" $listing
check 2 "--annotations wants -o FILE" play ecg --offline --annotations

# Recordings the two record loaders refuse, through the extension loaders: an EDF+D file of
# half-second records with a gap of 1.5 s, a multi-segment WFDB record (format 311, a gap, 16).
# at FILE SECONDS WANT: the CSV's value at that time is WANT mV (within 0.01).
at() {
    awk -F, -v t="$2" -v want="$3" 'NR > 1 && $1 + 0 >= t - 1e-9 {
        bad = $2 - want > 0.01 || want - $2 > 0.01
        if (bad) print "FAILED: " FILENAME " at " t " s: " $2 " mV, want " want
        exit bad }' "$1" || failures=$((failures + 1))
}
if [ -n "$python" ] && "$python" - <<'EOF'; then
import struct
def field(text, width): return text.encode().ljust(width)[:width]
head = (field("0", 8) + field("X X X X", 80) + field("Startdate 01-JAN-2020 X X X", 80)
        + field("01.01.20", 8) + field("00.00.00", 8) + field("768", 8) + field("EDF+D", 44)
        + field("2", 8) + field("0.5", 8) + field("2", 4)
        + field("ECG", 16) + field("EDF Annotations", 16) + field("", 160) + field("mV", 16)
        + field("-10", 8) + field("-1", 8) + field("10", 8) + field("1", 8)
        + field("-32768", 8) * 2 + field("32767", 8) * 2 + field("", 160)
        + field("100", 8) + field("30", 8) + field("", 64))
one = round(11 / 20 * 65535 - 32768)  # 1 mV
with open("gaps.edf", "wb") as f:
    f.write(head)
    for onset in ("+0", "+2"):  # the second record begins 1.5 s after the first ends
        tal = (onset + "\x14\x14\0").encode().ljust(60, b"\0")
        f.write(struct.pack("<100h", *[one] * 100) + tal)
open("multi.hea", "w").write("multi/3 1 250 750\nseg1 250\n~ 250\nseg2 250\n")
open("seg1.hea", "w").write("seg1 1 250 250\nseg1.dat 311 200 10 0 200 0 0 ECG\n")
open("seg1.dat", "wb").write(struct.pack("<84I", *[200 | 200 << 10 | 200 << 20] * 84))
open("seg2.hea", "w").write("seg2 1 250 250\nseg2.dat 16 200 16 0 400 0 0 ECG\n")
open("seg2.dat", "wb").write(struct.pack("<250h", *[400] * 250))
EOF
    check 0 "^TOLVLoadECGedfEx gaps.edf \(flags 2\)" \
        render gaps.edf --gaps --seconds 3 --rate 200 -o gaps.csv
    at gaps.csv 0.25 1 && at gaps.csv 1.0 0 && at gaps.csv 2.25 1
    check 0 "TOLVLoadECGedf refused gaps.edf \(-2\): trying TOLVLoadECGedfEx" render gaps.edf --seconds 3 --rate 200 -o nogaps.csv
    at nogaps.csv 0.75 1
    check 0 "TOLVLoadECGdat refused multi.hea \(-1\): trying TOLVLoadECGWfdbRecord" \
        render multi.hea --seconds 3 --rate 250 -o multi.csv
    at multi.csv 0.5 1 && at multi.csv 1.5 0 && at multi.csv 2.5 2
    check 0 "played multi.hea for 1.[0-9] s: [0-9]+ samples, 0.000 .. 1.000 mV" \
        play multi.hea --offline --seconds 1
else
    echo "FAILED: the recordings for the extension loaders could not be written"
    failures=$((failures + 1))
fi
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
