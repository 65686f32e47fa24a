#!/bin/sh
# Installs a build tree into a scratch prefix and compares the headers it
# installs with the expected list: only what an outside program may use, and
# the detail headers their layout needs, are installed.
# usage: installed_headers.sh BUILD_DIR EXPECTED
set -eu
build=$1 expected=$2
scratch=$(mktemp -d "${TMPDIR:-/tmp}/lyrane-headers-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
unset DESTDIR
if ! cmake --install "$build" --prefix "$scratch/prefix" >"$scratch/install.log" 2>&1; then
    cat "$scratch/install.log"
    echo "installed_headers: cmake --install failed (is the whole tree built?)" >&2
    exit 1
fi
(cd "$scratch/prefix" && find include -type f | LC_ALL=C sort) >"$scratch/headers.txt"
diff -u "$expected" "$scratch/headers.txt"
echo "installed_headers: the install holds exactly the expected headers"
