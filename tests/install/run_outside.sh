#!/bin/sh
# Installs a build tree into a scratch prefix, builds one outside program
# against it through pkg-config alone, runs it and compares its standard
# output with the expected text.
# usage: run_outside.sh BUILD_DIR LIBDIR SOURCE EXPECTED COMPILER [FLAG...]
set -eu
build=$1 libdir=$2 source=$3 expected=$4
shift 4

scratch=$(mktemp -d "${TMPDIR:-/tmp}/lyrane-outside-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

# Only the prefix given here may receive the files.
unset DESTDIR
if ! cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1; then
    cat "$scratch/install.log"
    echo "run_outside: cmake --install failed (is the whole tree built?)" >&2
    exit 1
fi

PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
export PKG_CONFIG_PATH
# A program that uses further packages names them in a source line
# "pkg-config-also: NAME...", and gets their flags through pkg-config too.
also=$(sed -n 's/^.*pkg-config-also: *//p' "$source" | head -n 1)
# A program of another installed package names its packages instead in a
# line "pkg-config-packages: NAME...".
packages=$(sed -n 's/^.*pkg-config-packages: *//p' "$source" | head -n 1)
# shellcheck disable=SC2086 # packages and also are word lists by design
flags=$(pkg-config --cflags --libs ${packages:-liblyrane_playback_processing} $also)
# shellcheck disable=SC2086 # flags are a word list by design
"$@" -o "$scratch/outside" "$source" $flags

LD_LIBRARY_PATH="$prefix/$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
    "$scratch/outside" "$scratch" >"$scratch/output.txt"
diff -u "$expected" "$scratch/output.txt"
echo "run_outside: $(basename "$source") built from the installed package and printed the expected text"
