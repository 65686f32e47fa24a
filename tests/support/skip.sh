#!/bin/sh
# Stands in for a test that cannot run in this build and says why.
# usage: skip.sh <reason>
# Exits 77 (skipped), 1 instead when LYRANE_SKIP_IS_FAILURE=1.
echo "SKIP: $1"
if [ "${LYRANE_SKIP_IS_FAILURE:-0}" = 1 ]; then exit 1; fi
exit 77
