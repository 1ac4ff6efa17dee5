#!/bin/sh
# Compares the library's ABI with the committed baseline: a removed export or
# a changed export (its signature, or a type it uses) fails; added exports
# pass. scripts/update-abi-baseline.sh records an intended change.
#
#   check-abi.sh BASELINE LIBRARY
set -eu
status=0
abidiff --no-added-syms "$1" "$2" || status=$?
if [ "$status" -ne 0 ]; then
  echo "abi: the exports of $2 differ from $1 (abidiff status $status)." >&2
  echo "abi: if the change is intended, run scripts/update-abi-baseline.sh and commit the baseline." >&2
  exit 1
fi
echo "abi ok"
