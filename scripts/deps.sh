#!/usr/bin/env bash
# Installs what the build, the tests and the demo need on a fresh Debian 12 machine.
# Only packages that are missing are installed; nothing is fetched outside Debian's archive.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in cmake g++ make clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev \
  libedf-dev python3 python3-numpy python3-pytest python3-setuptools python3-venv pkg-config "$@"; do
  have_pkg "$pkg" || need+=("$pkg")
done

if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq || true
  $SUDO apt-get install -y -qq "${need[@]}"
fi

# Optional: biosig, a peer that bench/recordings_bench prints beside the library when it is
# installed. Its absence (or a failed install) changes nothing else.
if ! have_pkg libbiosig-dev && apt-cache show libbiosig-dev >/dev/null 2>&1; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq libbiosig-dev || true
fi
