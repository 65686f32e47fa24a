#!/bin/sh
# Installs a build tree into a scratch prefix, builds one outside program
# against it through pkg-config alone, runs it and compares its standard
# output with the expected text.
# usage: run_outside.sh BUILD_DIR LIBDIR SOURCE EXPECTED COMPILER [FLAG...]
set -eu
build=$1 libdir=$2 source=$3 expected=$4
shift 4

# A cross build names its target's library tree and emulator here; the
# program is then built against that tree and run under the emulator.
target_tree=${LYRANE_TARGET_SYSROOT:-}
if [ -n "$target_tree" ]; then
    # pkg-config moves every path it prints into the tree, except those that
    # already lie inside it: so does the scratch prefix.
    mkdir -p "$target_tree/tmp"
    scratch=$(mktemp -d "$target_tree/tmp/lyrane-outside-XXXXXX")
else
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/lyrane-outside-XXXXXX")
fi
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

# Only the prefix given here may receive the files.
unset DESTDIR
if ! cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1; then
    cat "$scratch/install.log"
    echo "run_outside: cmake --install failed (is the whole tree built?)" >&2
    exit 1
fi

if [ -n "$target_tree" ]; then
    PKG_CONFIG_LIBDIR="$prefix/$libdir/pkgconfig:$LYRANE_TARGET_PKG_CONFIG_LIBDIR"
    PKG_CONFIG_SYSROOT_DIR=$target_tree
    export PKG_CONFIG_LIBDIR PKG_CONFIG_SYSROOT_DIR
else
    PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
    export PKG_CONFIG_PATH
fi
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

if [ -n "$target_tree" ]; then
    # The emulator hands -E settings to the program alone.
    # shellcheck disable=SC2086 # the emulator's command is a word list by design
    $LYRANE_TARGET_EMULATOR -E "LD_LIBRARY_PATH=$prefix/$libdir" \
        "$scratch/outside" "$scratch" >"$scratch/output.txt"
else
    LD_LIBRARY_PATH="$prefix/$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
        "$scratch/outside" "$scratch" >"$scratch/output.txt"
fi
if [ -n "$target_tree" ]; then
    sed -f "$(dirname "$0")/emulator_differences.sed" "$scratch/output.txt" >"$scratch/device.txt"
    mv "$scratch/device.txt" "$scratch/output.txt"
fi
diff -u "$expected" "$scratch/output.txt"
echo "run_outside: $(basename "$source") built from the installed package and printed the expected text"
