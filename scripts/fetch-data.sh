#!/usr/bin/env bash
# Downloads the PhysioNet reference records that the library builds into its standard tables
# (AAMI EC13 test waveforms, and the baseline-wander and muscle-artifact records of the MIT-BIH
# Noise Stress Test Database), checks every file against its known SHA-256, and prints how to
# build with them. Needs internet access and curl or wget.
#
#   scripts/fetch-data.sh [DIR]              download into DIR (default data-download/), then verify
#   scripts/fetch-data.sh --verify-only DIR  only verify the files already in DIR
set -euo pipefail

# sha256 and path below the data directory of every file.
SUMS='
90748bcf16d08fb563380958654d3306a4b63230d0f84aac742d27a2ad24571e  nstdb/bw.hea
15f68280aba8b006f5497c14da44b558e68caaabc2afc5c4b710eea779b7512c  nstdb/bw.dat
58e8b571fd24b00922f5735919481900bdcb6d5b080d7e81a291c8808aa05cb9  nstdb/ma.hea
40bda613a3e65adb277df1b72f8a41d2c1c2e0131ea4ec1e03cf1e2cd68199c4  nstdb/ma.dat
e83d67b88b30a2147e3db16a443b8f8a87b99cf04452a69e8b9d17c41382bba1  aami-ec13/RECORDS
3f4c923121b61be08b9d74e3f5a47b7401f966fbc2ee12f67e0110d417338090  aami-ec13/aami3a.hea
781c303c8d37a3674032326ffa1def02d702d3018b6bd9c4f924f7a018c18b35  aami-ec13/aami3a.dat
0d5390b07d0133953917e9ff407aa64038089081574ec90332cd1d3375d041dc  aami-ec13/aami3b.hea
88438c28a0d1376d6cbe0867a13e795f0b6607f949e0d82c34127821ba9b5ecc  aami-ec13/aami3b.dat
f70802ea35ca914b5359d4c784367169d3d4bf7485cf4827c6dc91c1b13e15e6  aami-ec13/aami3c.hea
734d588e938aca8ca535cce37b788447f8b1b755d7c0d8cbe57a3c261553d626  aami-ec13/aami3c.dat
ad7aa96dafdb80c9244f93d0ef693841c49fc57c37ba8ad674beef6ec75b90fb  aami-ec13/aami3d.hea
b73dd5289b6481676c914076e6097cfa7989814e4a835ba53eaaadb35d9ef816  aami-ec13/aami3d.dat
c84cd0bd99387b4921aa21e300c25c149018bd77a60359a79c7974545619e74e  aami-ec13/aami4a.hea
0677547260d4669e4f8cc66113eacbaa3e1706e3299d518ad2a44cdbacdea22e  aami-ec13/aami4a.dat
1b14ebacd9f36743dcb9c955cddf6d51985aeedd2f414c72d1d9ea79cfe2f9b3  aami-ec13/aami4a_d.hea
fceeb8775d177b66390480e87bbde9b68f32cd9c3faf31ab628fa8c8b7cd35f4  aami-ec13/aami4a_d.dat
dbfd8ceb9bd417f822d10f4ee8a56fa2955661710efaf7186d2b3a5a5700e9fe  aami-ec13/aami4a_h.hea
5f3ddbe4c91c3eeb4c4334b76abe4bc2f140f4db61740bf9beac977a4718a413  aami-ec13/aami4a_h.dat
a298bd6a92e0ec0703ddb346ffb76970c43db94a1f9ed123fd4b01d8b75acf01  aami-ec13/aami4b.hea
9ad85ad75ed1cce5524e0fa2e65ec6d693cbbb905e45fbacfa24a6a94f99ad92  aami-ec13/aami4b.dat
fabc5eaac7b8add54918bab6fff7cebba26414b6f5880d56a851fa800c636ff8  aami-ec13/aami4b_d.hea
3e52e063cb55e4e6c6508ea89481e26eb95721881a0025d7e35e8ab7a2744db8  aami-ec13/aami4b_d.dat
1baeb5c37e884163b6645e6f3d558c5ef08598cdd5f67e6cb682e2df9c0a3c3c  aami-ec13/aami4b_h.hea
156ca18e05ad145c0f69ccf94c8671c5c4328cec54f05d8413e599a796b8457b  aami-ec13/aami4b_h.dat
'
AAMI_URL=https://physionet.org/files/aami-ec13/1.0.0
NSTDB_URL=https://physionet.org/files/nstdb/1.0.0

verify() {
    local dir=$1 bad=0 sum file actual
    while read -r sum file; do
        [ -n "$file" ] || continue
        if [ ! -f "$dir/$file" ]; then
            echo "MISSING  $file"
            bad=1
            continue
        fi
        actual=$(sha256sum "$dir/$file" | cut -d' ' -f1)
        if [ "$actual" = "$sum" ]; then
            echo "OK       $file"
        else
            echo "MISMATCH $file (sha256 $actual)"
            bad=1
        fi
    done <<<"$SUMS"
    return $bad
}

fetch() {
    local url=$1 dest=$2
    if command -v curl >/dev/null; then
        curl -fsSL --retry 3 -o "$dest.part" "$url"
    elif command -v wget >/dev/null; then
        wget -q --tries=3 -O "$dest.part" "$url"
    else
        echo "fetch-data: needs curl or wget" >&2
        exit 1
    fi
    mv "$dest.part" "$dest"
}

if [ "${1:-}" = "-h" ] || [ "${1:-}" = "--help" ]; then
    sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
fi
if [ "${1:-}" = "--verify-only" ]; then
    dir=${2:?usage: fetch-data.sh --verify-only DIR}
    verify "$dir" && echo "all files match" || { echo "checksum verification failed" >&2; exit 1; }
    exit 0
fi

dir=${1:-data-download}
mkdir -p "$dir/aami-ec13" "$dir/nstdb"
while read -r _ file; do
    [ -n "$file" ] || continue
    case "$file" in
        aami-ec13/*) url=$AAMI_URL/${file#aami-ec13/} ;;
        nstdb/*) url=$NSTDB_URL/${file#nstdb/} ;;
    esac
    echo "fetching $url"
    fetch "$url" "$dir/$file"
done <<<"$SUMS"

if ! verify "$dir"; then
    echo "checksum verification failed: the downloaded files differ from the known records" >&2
    exit 1
fi
abs=$(cd "$dir" && pwd)
echo
echo "All files verified. Build with them:"
echo "  cmake -S . -B build -DTOLVAN_DATA_DIR=$abs && cmake --build build"
