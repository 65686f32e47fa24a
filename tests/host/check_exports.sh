#!/bin/sh
# Compares the names a shared library exports with the expected list, one
# name a line. AddressSanitizer adds an "__odr_asan." marker beside each
# exported variable; those belong to the variable and are left out.
# usage: check_exports.sh LIBRARY EXPECTED
set -eu
library=$1 expected=$2
actual=$(nm -D --defined-only "$library" | awk '{ print $3 }' | grep -v '^__odr_asan\.' | LC_ALL=C sort)
if [ "$actual" != "$(LC_ALL=C sort "$expected")" ]; then
    echo "check_exports: $(basename "$library") exports:"
    echo "$actual"
    echo "check_exports: expected:"
    LC_ALL=C sort "$expected"
    exit 1
fi
echo "check_exports: $(basename "$library") exports exactly the $(wc -l < "$expected") expected names"
