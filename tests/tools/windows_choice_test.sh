#!/usr/bin/env bash
# `tools/dev.sh windows-choice`, the test run's choice of the Windows build
# to test, against stand-in wine loaders: a loader that starts, one that
# the kernel refuses ("Exec format error", as the 32-bit loader on a kernel
# that runs no 32-bit program) and one that is missing.
#
#   windows_choice_test.sh DEV_SH
set -uo pipefail

dev_sh=$1
library=$(mktemp -d)
trap 'rm -rf "$library"' EXIT
failed=0

runs() { printf '#!/bin/sh\necho wine-8.0\n' >"$library/$1" && chmod +x "$library/$1"; }
# An ELF header of no machine this kernel runs.
refused() { printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$library/$1" && chmod +x "$library/$1"; }
missing() { rm -f "$library/$1"; }

# check <32-bit loader> <64-bit loader> <exit status> <what the output must hold>
check() {
  "$1" wine
  "$2" wine64
  local output status=0
  output=$(VORNETH_WINE_LIBRARY=$library "$dev_sh" windows-choice 2>&1) || status=$?
  if [ "$status" -ne "$3" ] || ! grep -qF -- "$4" <<<"$output"; then
    echo "wine $1, wine64 $2: exit status $status (expected $3), output:"
    echo "$output"
    failed=1
  fi
}

check runs runs 0 "against the 32-bit build (build-win/)"
check refused runs 0 "against the 64-bit build (build-win64/) under wine64, since this machine runs no 32-bit program ($library/wine: Exec format error)"
check missing runs 0 "against the 64-bit build"
check refused refused 1 "no Windows test can run on this machine: $library/wine gives 'Exec format error' and $library/wine64 gives 'Exec format error'"
check missing missing 1 "no Windows test can run on this machine"
exit $failed
