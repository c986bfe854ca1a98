#!/usr/bin/env bash
# Sets up the machine, builds the library and the reference host, and runs the host through a short
# session in a fresh sample folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build=build/example
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRVK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target rvk >/dev/null
rvk=$PWD/$build/examples/rvk

sample=$(mktemp -d "${TMPDIR:-/tmp}/rvk-sample-XXXXXX")
outside=$(mktemp -d "${TMPDIR:-/tmp}/rvk-outside-XXXXXX")
trap 'rm -rf "$sample" "$outside"' EXIT
mkdir -p "$sample/plans/level 1"
printf 'drawing\n' > "$sample/plans/level 1/ground floor.dwg"

step() { printf '\n$ %s\n' "$*"; "$@"; }
cd "$sample"
step "$rvk" init "$sample"
step "$rvk" where "$sample/plans/level 1"
step "$rvk" relpath "$sample/plans/level 1/ground floor.dwg"
echo
echo "\$ $rvk where $outside   (a folder outside any repository: exit code 1 expected)"
if "$rvk" where "$outside" 2>&1; then echo "unexpected success" >&2; exit 1; fi
echo
echo "example session finished"
