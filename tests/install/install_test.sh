#!/usr/bin/env bash
# usage: install_test.sh BUILD_DIR CONSUMER_DIR VERSION PYTHON_DIR SOURCE_DIR
set -euo pipefail
build=$1 consumer=$2 version=$3 pydir=$4 source=$5
work=$(mktemp -d /tmp/tolvan-install-XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
major=${version%%.*}

cmake --install "$build" --prefix "$prefix" >"$work/install.log"
for f in "lib/libtolvan.so.$version" "lib/libtolvan.so.$major" lib/libtolvan.so include/tolvan.h \
         lib/pkgconfig/tolvan.pc lib/cmake/tolvan/tolvanConfig.cmake bin/tolvan bin/tolvan-vdev \
         lib/udev/rules.d/60-tolvan.rules "$pydir/tolvan/__init__.py" "$pydir/tolvan/tolvan.h"; do
    [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
soname=$(readelf -d "$prefix/lib/libtolvan.so.$version" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
[ "$soname" = "libtolvan.so.$major" ] || { echo "SONAME $soname"; exit 1; }

# pkg-config
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
[ "$(pkg-config --modversion tolvan)" = "$version" ] || { echo "pkg-config version"; exit 1; }
# shellcheck disable=SC2046
cc "$consumer/consumer.c" $(pkg-config --cflags --libs tolvan) -o "$work/consumer-pc"
LD_LIBRARY_PATH=$prefix/lib "$work/consumer-pc" "$version"

# CMake package (the imported target's directory goes into the consumer's RPATH)
cmake -S "$consumer" -B "$work/consumer-build" -DCMAKE_PREFIX_PATH="$prefix" >"$work/cmake.log"
cmake --build "$work/consumer-build" >>"$work/cmake.log"
"$work/consumer-build/consumer" "$version"

# The installed tools run, and the Python package finds the library installed beside it.
"$prefix/bin/tolvan" --version | grep -q "$version"
if [ -x /usr/bin/python3 ]; then
    env -u TOLVAN_LIBRARY PYTHONPATH="$prefix/$pydir" /usr/bin/python3 -c '
import sys, tolvan
lib = tolvan.load()
assert lib.path.startswith(sys.argv[1]), lib.path
assert tolvan.__version__ == sys.argv[2] == lib.sdk_version(), tolvan.__version__
print("python:", lib.path)' "$prefix" "$version"
fi

# pip install --no-build-isolation ./python (Debian's setuptools), in a virtual environment that
# sees the system's packages; the installed package carries the header and the version.
if /usr/bin/python3 -c "import setuptools, venv, numpy" 2>/dev/null; then
    /usr/bin/python3 -m venv --system-site-packages "$work/venv"
    cp -r "$source/python" "$source/include" "$source/VERSION" "$work/"  # a clean copy to build
    rm -rf "$work/python/build" "$work/python/"*.egg-info
    "$work/venv/bin/pip" install -q --no-build-isolation --no-index "$work/python"
    (cd "$work" && TOLVAN_LIBRARY="$prefix/lib/libtolvan.so.$major" "$work/venv/bin/python" -c '
import os, sys, tolvan
assert tolvan.__file__.startswith(sys.argv[1]), tolvan.__file__
assert os.path.exists(os.path.join(os.path.dirname(tolvan.__file__), "tolvan.h"))
assert tolvan.__version__ == tolvan.load().sdk_version() == sys.argv[2]
print("pip:", tolvan.__file__)' "$work/venv" "$version")
fi
echo "installed and consumed: $prefix"
