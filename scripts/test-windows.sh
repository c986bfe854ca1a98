#!/usr/bin/env bash
# The Windows half of the tests: builds what is missing (the dependencies, through windows-deps.sh,
# once per machine), cross-builds rvk-core with MinGW-w64 into build/windows, runs every test under
# Wine with ctest, installs the package into build/windows/install, and builds two small hosts from
# that package alone (one makes a repository, one installs translations) and runs them under Wine.
# Usage: scripts/test-windows.sh          (run from anywhere; RVK_WINDOWS_DEPS as windows-deps.sh)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build/windows
mkdir -p "$here/build"  # its logs lie beside it
say() { echo "test-windows: $*" >&2; }
start=$SECONDS

prefix=$(bash "$here/scripts/windows-deps.sh" | tail -n1)
export RVK_WINDOWS_DEPS_PREFIX=$prefix

# One Wine prefix for the whole run, made once, and one server kept alive through it: each program
# then starts in a fraction of the time a cold Wine takes.
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-rvk}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ ! -d "$WINEPREFIX" ]; then
  say "making the Wine prefix $WINEPREFIX"
  wineboot --init >/dev/null 2>&1 || wine cmd /c exit >/dev/null 2>&1 || true
fi
wineserver -p </dev/null >/dev/null 2>&1 || true  # none running yet, or already one
trap 'wineserver -k 2>/dev/null || true' EXIT
# Wine's own services start with the first program and live on; started here, they hold none of
# the pipes through which ctest reads a test's output (and waits for their end).
wineboot </dev/null >/dev/null 2>&1 || true

# A Linux rvk beside rvk.exe for the test of a mixed office: the one scripts/test.sh built, if any.
posix_rvk=${RVK_POSIX_RVK:-$here/build/ci-plain/bin/rvk}
[ -x "$posix_rvk" ] || posix_rvk=

say "configuring and building into $build"
# The windows preset of CMakePresets.json, whose folder is $build: the toolchain file, and the
# dependencies' prefix from RVK_WINDOWS_DEPS_PREFIX, exported above.
cmake -S "$here" --preset windows -DRVK_POSIX_RVK="$posix_rvk" >"$build.configure.log" 2>&1 ||
  { cat "$build.configure.log"; exit 1; }
nice -n 10 cmake --build "$build" -j2 >"$build.build.log" 2>&1 ||
  { grep -E 'error|Error' "$build.build.log" | head -n 40; exit 1; }

say "running the tests under Wine"
status=0
ctest --test-dir "$build" -j2 --output-on-failure >"$build.ctest.log" 2>&1 || status=$?
grep -E '^ *[0-9]+/[0-9]+ Test .*(Failed|Not Run|Timeout|Skipped|Exception)' "$build.ctest.log" || true
sed -n '/tests passed/,$p' "$build.ctest.log"

say "installing into $build/install"
rm -rf "$build/install"
cmake --install "$build" --prefix "$build/install" >/dev/null

# run_package_host SOURCE BUILD NAME WHAT: configures and builds the host project in SOURCE into
# BUILD from the installed package alone (which find_package must be the one to find), puts
# NAME.exe beside the installed DLLs, as a host ships it, and runs it there on a new folder.
run_package_host() {
  local source=$1 folder=$2 name=$3 what=$4
  rm -rf "$folder"
  cmake -S "$source" -B "$folder" --toolchain "$here/cmake/mingw-w64.cmake" \
    -DRVK_WINDOWS_DEPS_PREFIX="$prefix" -DCMAKE_FIND_ROOT_PATH="$build/install" >"$folder.log" 2>&1 ||
    { cat "$folder.log"; exit 1; }
  grep -qx "RvkCore_DIR:PATH=$build/install/lib/cmake/RvkCore" "$folder/CMakeCache.txt" ||
    { say "find_package(RvkCore) did not find $build/install"; exit 1; }
  cmake --build "$folder" >>"$folder.log" 2>&1 || { cat "$folder.log"; exit 1; }
  cp "$folder/$name.exe" "$build/install/bin/"
  mkdir -p "$folder/repo"
  wine "$build/install/bin/$name.exe" "$(winepath -w "$folder/repo" 2>/dev/null)" ||
    { say "$what failed"; exit 1; }
  rm "$build/install/bin/$name.exe"
}

say "building a host from the installed package alone"
host=$build/package-host
rm -rf "$host"
mkdir -p "$host/src"
cat >"$host/src/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(PackageHost LANGUAGES CXX)
find_package(RvkCore 0.1 REQUIRED)
add_executable(package_host main.cpp)
target_link_libraries(package_host PRIVATE rvk::core)
target_link_options(package_host PRIVATE -municode)  # wmain: the wide command line
CMAKE
cat >"$host/src/main.cpp" <<'CPP'
// Makes a repository in the folder it is given and says whether its folder is hidden.
#include <windows.h>

#include <cstdio>

#include <common/RootPath.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2)
        return 2;
    const auto root = common::RootPath::get(OdString(argv[1]), true);
    if (!root.hasValue())
        return 1;
    const DWORD attributes = GetFileAttributesW(root.value().rvkPath().c_str());
    const bool hidden = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN);
    std::printf("repository at %s, %s\n", root.value().rvkPath().ansi_str(),
                hidden ? "hidden" : "not hidden");
    return hidden ? 0 : 1;
}
CPP
run_package_host "$host/src" "$host/build" package_host "the package host"

# A host that installs its translations through the wx DLL it shares with librvkcore.dll, and reads
# the state file the library writes (tests/package), from the installed package alone as well.
say "building the translating host of tests/package from the installed package"
run_package_host "$here/tests/package" "$build/package-consumer" package_consumer "the translating host"

say "a host of the kit alone, against a throwaway server, from the installed package"
bash "$here/tests/package/kit_test.sh" windows "$build/install" "$prefix" ||
  { say "the kit's host failed"; exit 1; }

say "done in $((SECONDS - start)) s"
exit $status
