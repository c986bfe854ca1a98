#!/usr/bin/env bash
# Proves that the installed package serves a host that knows nothing of the source tree.
#
#   package_test.sh install BUILD_DIR PREFIX
#       finishes the build in BUILD_DIR, installs it into a fresh PREFIX (the fixture the other
#       two modes need; ctest runs it first and once) and runs the installed rvk from there;
#   package_test.sh find-package EXAMPLES_DIR PREFIX CXX CXXFLAGS
#       configures and builds the reference host on its own with find_package(RvkCore), and runs it;
#   package_test.sh consumer CONSUMER_DIR PREFIX CXX CXXFLAGS
#       configures and builds tests/package (a host that installs translations through wx and reads
#       the state file) with find_package(RvkCore COMPONENTS wxbase), and runs it;
#   package_test.sh pkg-config PREFIX CXX CXXFLAGS CONSUMER_DIR
#       compiles and runs a two-line program with the flags pkg-config gives for rvkcore, one with
#       those for rvkclient, then the same consumer with those of rvkcore and rvkcore-wxbase.
#
# CXXFLAGS are the flags the library was built with: a library built with sanitizers needs them in
# the program that loads it.
set -euo pipefail

mode=$1
shift
scratch=$(mktemp -d "${TMPDIR:-/tmp}/rvk-package-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

case $mode in
install)
    build=$1 prefix=$2
    cmake --build "$build" -j1 >"$scratch/build.log" || { cat "$scratch/build.log"; exit 1; }
    rm -rf "$prefix"
    cmake --install "$build" --prefix "$prefix" >/dev/null
    # The installed program runs from its prefix on its own run path, found by no other means.
    mkdir "$scratch/repo"
    folder=$(cd "$scratch/repo" && pwd -P)
    said=$(cd "$folder" && env -u LD_LIBRARY_PATH "$prefix/bin/rvk" init)
    [[ $said == "initialized empty repository at $folder" ]] ||
        { echo "the installed rvk said: $said" >&2; exit 1; }
    ;;
find-package)
    examples=$1 prefix=$2 cxx=$3 cxxflags=$4
    cmake -S "$examples" -B "$scratch/host" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$cxxflags" >"$scratch/configure.log" ||
        { cat "$scratch/configure.log"; exit 1; }
    # The installed package must have been used, not a library found elsewhere.
    grep -qx "RvkCore_DIR:PATH=$prefix/lib/cmake/RvkCore" "$scratch/host/CMakeCache.txt" ||
        { echo "find_package(RvkCore) did not find $prefix" >&2; exit 1; }
    cmake --build "$scratch/host" -j1 >"$scratch/build.log" || { cat "$scratch/build.log"; exit 1; }
    mkdir "$scratch/repo"
    folder=$(cd "$scratch/repo" && pwd -P)
    said=$(cd "$folder" && "$scratch/host/bin/rvk" init)
    [[ $said == "initialized empty repository at $folder" ]] ||
        { echo "unexpected output of rvk init: $said" >&2; exit 1; }
    ;;
consumer)
    consumer=$1 prefix=$2 cxx=$3 cxxflags=$4
    cmake -S "$consumer" -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$cxxflags" >"$scratch/configure.log" ||
        { cat "$scratch/configure.log"; exit 1; }
    grep -qx "RvkCore_DIR:PATH=$prefix/lib/cmake/RvkCore" "$scratch/consumer/CMakeCache.txt" ||
        { echo "find_package(RvkCore) did not find $prefix" >&2; exit 1; }
    cmake --build "$scratch/consumer" -j1 >"$scratch/build.log" || { cat "$scratch/build.log"; exit 1; }
    mkdir "$scratch/repo"
    "$scratch/consumer/package_consumer" "$scratch/repo"
    ;;
pkg-config)
    prefix=$1 cxx=$2 cxxflags=$3 consumer=$4
    export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
    flags=$(pkg-config --cflags --libs rvkcore)
    printf '%s\n' '#include <common/RootPath.h>' \
        'int main() { return common::repositoryExt() == OdString(L"tf") ? 0 : 1; }' >"$scratch/two.cpp"
    # shellcheck disable=SC2086 # the flags are words to split
    "$cxx" $cxxflags "$scratch/two.cpp" $flags -Wl,-rpath,"$prefix/lib" \
        -o "$scratch/two"
    "$scratch/two"
    # The kit's file, which brings the library's.
    flags=$(pkg-config --cflags --libs rvkclient)
    printf '%s\n' '#include <client/Text.h>' \
        'int main() { return client::quoteName("a\nb") == "\"a\\nb\"" ? 0 : 1; }' >"$scratch/kit.cpp"
    # shellcheck disable=SC2086 # the flags are words to split
    "$cxx" $cxxflags "$scratch/kit.cpp" $flags -Wl,-rpath,"$prefix/lib" -o "$scratch/kit"
    "$scratch/kit"
    # A host that installs translations links the wx the library is linked against.
    flags=$(pkg-config --cflags --libs rvkcore rvkcore-wxbase)
    # shellcheck disable=SC2086 # the flags are words to split
    "$cxx" $cxxflags -I"$consumer/.." "$consumer/consumer.cpp" $flags -Wl,-rpath,"$prefix/lib" \
        -o "$scratch/consumer"
    mkdir "$scratch/repo"
    "$scratch/consumer" "$scratch/repo"
    ;;
*)
    echo "unknown mode $mode" >&2
    exit 2
    ;;
esac
