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

# build_host SOURCE_DIR BUILD_DIR PREFIX CXX CXXFLAGS: configures and builds a host project on its
# own against the package installed in PREFIX, which find_package must be the one to have found.
build_host() {
    cmake -S "$1" -B "$2" -DCMAKE_PREFIX_PATH="$3" -DCMAKE_CXX_COMPILER="$4" \
        -DCMAKE_CXX_FLAGS="$5" >"$scratch/configure.log" || { cat "$scratch/configure.log"; exit 1; }
    grep -qx "RvkCore_DIR:PATH=$3/lib/cmake/RvkCore" "$2/CMakeCache.txt" ||
        { echo "find_package(RvkCore) did not find $3" >&2; exit 1; }
    cmake --build "$2" -j1 >"$scratch/build.log" || { cat "$scratch/build.log"; exit 1; }
}

# inits_a_repository RVK...: the command runs `init` in a new folder and says what it should.
inits_a_repository() {
    mkdir "$scratch/repo"
    local folder said
    folder=$(cd "$scratch/repo" && pwd -P)
    said=$(cd "$folder" && "$@" init)
    [[ $said == "initialized empty repository at $folder" ]] || { echo "$* init said: $said" >&2; exit 1; }
}

case $mode in
install)
    build=$1 prefix=$2
    cmake --build "$build" -j1 >"$scratch/build.log" || { cat "$scratch/build.log"; exit 1; }
    rm -rf "$prefix"
    cmake --install "$build" --prefix "$prefix" >/dev/null
    # The installed program runs from its prefix on its own run path, found by no other means.
    inits_a_repository env -u LD_LIBRARY_PATH "$prefix/bin/rvk"
    ;;
find-package)
    build_host "$1" "$scratch/host" "$2" "$3" "$4"
    inits_a_repository "$scratch/host/bin/rvk"
    ;;
consumer)
    build_host "$1" "$scratch/consumer" "$2" "$3" "$4"
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
