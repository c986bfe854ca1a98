#!/usr/bin/env bash
# A host built on rvk::client alone (tests/package/kit), against a throwaway PostgreSQL cluster:
#   kit_test.sh find-package PREFIX CXX CXXFLAGS   against the package installed in PREFIX
#   kit_test.sh subdirectory SOURCE_DIR CXX CXXFLAGS   with the project's sources beside it
# It clones, commits and pushes a drawing and takes its lock; its output is checked and shown.
set -euo pipefail
mode=$1 where=$2 cxx=${3:-} cxxflags=${4:-}
consumer_dir=$(cd "$(dirname "$0")" && pwd)
source "$consumer_dir/../host/pg_cluster.sh"
build=$base/consumer
case $mode in
find-package) set -- -DCMAKE_PREFIX_PATH="$where" ;;
subdirectory) set -- -DRVK_SOURCE_DIR="$where" -DRVK_BUILD_TESTS=OFF -DRVK_BUILD_EXAMPLES=OFF ;;
windows)
    set -- --toolchain "$consumer_dir/../../cmake/mingw-w64.cmake" -DRVK_WINDOWS_DEPS_PREFIX="$cxx" \
        -DCMAKE_FIND_ROOT_PATH="$where"
    cxx=x86_64-w64-mingw32-g++-posix cxxflags=
    all_by_address  # the host runs under Wine
    ;;
*) echo "unknown mode $mode" >&2; exit 2 ;;
esac
cmake -S "$consumer_dir/kit" -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$cxxflags" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$base/configure.log" 2>&1 ||
    { cat "$base/configure.log"; exit 1; }
if [[ $mode != subdirectory ]]; then
    grep -qx "RvkCore_DIR:PATH=$where/lib/cmake/RvkCore" "$build/CMakeCache.txt" ||
        { echo "find_package(RvkCore) did not find $where" >&2; exit 1; }
fi
cmake --build "$build" -j2 >"$base/build.log" 2>&1 || { tail -40 "$base/build.log"; exit 1; }
if [[ $mode == windows ]]; then
    # Beside the installed DLLs, as a host ships them.
    cp "$build/kit_consumer.exe" "$where/bin/"
    trap 'rm -f "$where/bin/kit_consumer.exe"; cleanup' EXIT
    out=$(cd "$base" && WINEDEBUG=-all wine "$where/bin/kit_consumer.exe" "$pg_admin" "$pg_drafter1" clone |
        tr -d '\r')
else
    out=$(cd "$base" && "$build/kit_consumer" "$pg_admin" "$pg_drafter1" clone)
fi
printf '%s\n' "$out"
expected='created a shared repository
cloned: HEAD is commit 0
committed 1
pushed: the server'"'"'s head is commit 1
locked plan.dwg'
[[ $out == "$expected" ]] || { echo "unexpected output" >&2; exit 1; }
# What the consumer said is on the server, as a reader sees it.
rows=$(psql -XAtq "$pg_reader" -c "SELECT c.id, l.path FROM rvk.commits c, rvk.locks l")
[[ $rows == "1|plan.dwg" ]] || { echo "the server holds: $rows" >&2; exit 1; }
