#!/bin/sh
# Installs a build tree into a scratch prefix and compares the headers that
# land in its include directory with the list a document keeps between the
# lines "<!-- installed headers: begin -->" and "<!-- installed headers: end -->",
# one header a line as `path/below/include`. Fails naming every difference,
# so the list users read stays the list they get.
# usage: installed_headers_test.sh BUILD_DIR INCLUDEDIR DOCUMENT
set -eu
build=$1 includedir=$2 document=$3

scratch=$(mktemp -d "${TMPDIR:-/tmp}/lyrane-headers-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

# Only the prefix given here may receive the files.
unset DESTDIR
if ! cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1; then
    cat "$scratch/install.log"
    echo "installed_headers_test: cmake --install failed (is the whole tree built?)" >&2
    exit 1
fi

begin='<!-- installed headers: begin -->'
end='<!-- installed headers: end -->'
if ! grep -qxF "$begin" "$document" || ! grep -qxF "$end" "$document"; then
    echo "installed_headers_test: $document has no lines '$begin' and '$end'" >&2
    exit 1
fi
awk -v begin="$begin" -v end="$end" '
    $0 == begin { inside = 1; next }
    $0 == end { inside = 0 }
    inside && match($0, /`[^`]+`/) { print substr($0, RSTART + 1, RLENGTH - 2) }
' "$document" | LC_ALL=C sort >"$scratch/documented"

(cd "$prefix/$includedir" && find . \( -type f -o -type l \) | sed 's|^\./||') |
    LC_ALL=C sort >"$scratch/installed"

missing=$(LC_ALL=C comm -23 "$scratch/documented" "$scratch/installed")
unlisted=$(LC_ALL=C comm -13 "$scratch/documented" "$scratch/installed")
status=0
if [ -n "$missing" ]; then
    echo "Listed in $(basename "$document") but not installed:"
    echo "$missing" | sed 's/^/  /'
    status=1
fi
if [ -n "$unlisted" ]; then
    echo "Installed but not listed in $(basename "$document"):"
    echo "$unlisted" | sed 's/^/  /'
    status=1
fi
if [ "$status" = 0 ]; then
    echo "installed_headers_test: the $(wc -l <"$scratch/installed") installed headers match the list"
fi
exit "$status"
