#!/usr/bin/env bash
# Builds what the Windows build needs and Debian does not ship for MinGW-w64: OpenSSL's libcrypto,
# RE2, PCRE2, SQLite, xxHash and GoogleTest, each from Debian's own source package of the version
# Debian ships, with the package's own build system, as static libraries; wxWidgets base as a DLL,
# which librvkcore.dll and its host share (a host's translations live in its wx); and PostgreSQL's
# client library libpq, as a DLL (with OpenSSL inside), for rvk's shared history.
#
# The result is a prefix outside the clone, made once per machine and kept:
#   ${RVK_WINDOWS_DEPS:-/var/cache/rvk-windows-deps}/<key>
# where <key> is made of the Debian versions of the sources and the revision of the recipes below,
# so a new Debian version or a changed recipe builds a new prefix and an unchanged one is found
# again. The prefix's path is the last line this script prints.
# Boost's header-only parts come from the host's own headers: the prefix holds a folder with only a
# link to /usr/include/boost, so /usr/include itself never reaches the MinGW include path.
#
# Also installs (apt-get) the cross compiler, Wine, MinGW's zlib and dpkg-dev, and adds a deb-src
# entry beside the deb one when there is none.
# Usage: scripts/windows-deps.sh        (RVK_WINDOWS_DEPS_JOBS sets make's -j, 2 by default)
set -euo pipefail

jobs=${RVK_WINDOWS_DEPS_JOBS:-2}
cache=${RVK_WINDOWS_DEPS:-/var/cache/rvk-windows-deps}
host=x86_64-w64-mingw32
say() { echo "windows-deps: $*" >&2; }

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

# --- packages ------------------------------------------------------------------------------------
# setup.sh installs what is missing; what it says goes to stderr, the prefix alone to stdout.
bash "$(dirname "$0")/setup.sh" g++-mingw-w64-x86-64-posix wine wine64 libz-mingw-w64-dev dpkg-dev \
  perl tcl python3 unicode-data >&2

# --- source entries: a deb-src for every deb of the deb822 sources --------------------------------
sources=/etc/apt/sources.list.d/debian.sources
if [ -f "$sources" ] && ! grep -q '^Types:.*deb-src' "$sources"; then
  say "adding deb-src to the entries of $sources"
  "${sudo_cmd[@]}" sed -i 's/^Types: deb$/Types: deb deb-src/' "$sources"
  "${sudo_cmd[@]}" apt-get update -qq
elif [ ! -f "$sources" ] && ! grep -qs '^deb-src ' /etc/apt/sources.list; then
  say "adding deb-src lines mirroring the deb lines of /etc/apt/sources.list"
  grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
    "${sudo_cmd[@]}" tee -a /etc/apt/sources.list >/dev/null
  "${sudo_cmd[@]}" apt-get update -qq
fi

# --- which versions, hence which prefix -----------------------------------------------------------
names=(openssl wxwidgets3.2 re2 pcre2 sqlite3 xxhash googletest postgresql-15)
declare -A version
# Raised whenever a build recipe below changes what it makes (2: wxWidgets base as a DLL).
recipes=2
key="recipes-$recipes"
for n in "${names[@]}"; do
  # The version `apt-get source NAME/bookworm` fetches, from its .dsc's name.
  v=$(apt-get source --print-uris -qq "$n/bookworm" 2>/dev/null |
      sed -n "s/.* ${n//./\\.}_\(.*\)\.dsc .*/\1/p" | head -n1)
  [ -n "$v" ] || { say "no source package $n/bookworm: is there a deb-src entry?"; exit 1; }
  version[$n]=$v
  key+="_$n-${v//[:~+]/.}"
done
# A short, stable folder name; the full list of versions is written inside it.
prefix="$cache/$(printf '%s' "$key" | sha256sum | cut -c1-16)"
if [ -f "$prefix/.complete" ]; then
  say "dependencies already built in $prefix"
  echo "$prefix"
  exit 0
fi

mkdir -p "$prefix" "$cache/src"
printf '%s\n' "$key" | tr _ '\n' >"$prefix/VERSIONS"
src="$cache/src/$(basename "$prefix")"
mkdir -p "$src"
say "building into $prefix (sources in $src)"

export PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig"
cross_cmake=(-DCMAKE_SYSTEM_NAME=Windows -DCMAKE_C_COMPILER=$host-gcc-posix
             -DCMAKE_CXX_COMPILER=$host-g++-posix -DCMAKE_RC_COMPILER=$host-windres
             -DCMAKE_FIND_ROOT_PATH="$prefix;/usr/$host" -DCMAKE_INSTALL_PREFIX="$prefix"
             -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF)

fetch() {  # fetch NAME: unpack Debian's source of NAME in $src once, print its folder
  local n=$1 dir
  dir=$(find "$src" -maxdepth 1 -type d -name "$n-*" | head -n1)
  if [ -z "$dir" ]; then
    (cd "$src" && apt-get source -qq "$n/bookworm" >/dev/null)
    dir=$(find "$src" -maxdepth 1 -type d -name "$n-*" | head -n1)
  fi
  echo "$dir"
}

timed() {  # timed NAME COMMAND...: run a build step and say how long it took
  local n=$1 start=$SECONDS
  shift
  say "$n ${version[$n]}: building"
  # In the background so that set -e holds inside the step (a tested command turns it off).
  "$@" >"$src/$n.log" 2>&1 &
  wait $! || { say "$n failed; see $src/$n.log"; tail -n 30 "$src/$n.log" >&2; exit 1; }
  say "$n: done in $((SECONDS - start)) s"
}

build_openssl() {  # libcrypto is what the library uses; libssl comes along (3.0 knows no no-docs; install_dev installs no docs)
  cd "$(fetch openssl)"
  ./Configure mingw64 --cross-compile-prefix=$host- --prefix="$prefix" --libdir=lib \
    no-shared no-tests no-module no-engine no-dso no-legacy no-comp no-ui-console
  make -j"$jobs" build_libs
  make install_dev
}

build_wxwidgets() {  # the base library, no GUI, as a DLL
  cd "$(fetch wxwidgets3.2)"
  mkdir -p build-mingw && cd build-mingw
  # One copy of wx in the process: the host's translations (wxTranslations::Set) are seen by
  # librvkcore.dll only when both load the same wx DLL. Debian's source has no zlib of its own;
  # MinGW's archive goes into the DLL (a folder holding only it comes first on the search path),
  # so that the DLL needs nothing beyond the compiler's run-time DLLs.
  mkdir -p zlib-static
  ln -sfn /usr/$host/lib/libz.a zlib-static/libz.a
  # (--disable-all-features leaves out what the Windows sources of the base library need.)
  ../configure --host=$host --prefix="$prefix" CC=$host-gcc-posix CXX=$host-g++-posix \
    LDFLAGS="-L$PWD/zlib-static" \
    --disable-gui --enable-shared --enable-unicode --with-zlib=sys --with-regex=builtin \
    --without-expat --without-liblzma --without-libcurl --disable-webrequest --disable-xrc \
    --disable-tests --disable-sys-libs
  make -j"$jobs"
  make install
}

build_re2() {  # its Makefile, as Debian builds it: the Unicode tables are made from unicode-data
  cd "$(fetch re2)"
  PATH=/usr/bin:$PATH make -j"$jobs" REBUILD_TABLES=1 CXX=$host-g++-posix AR=$host-ar \
    CXXFLAGS=-O2 prefix="$prefix" static
  make static-install prefix="$prefix"
}

build_pcre2() {  # its pkg-config file then carries PCRE2_STATIC for consumers
  cd "$(fetch pcre2)"
  mkdir -p build-mingw && cd build-mingw
  ../configure --host=$host --prefix="$prefix" CC=$host-gcc-posix CXX=$host-g++-posix --disable-shared --enable-static \
    --disable-pcre2grep-libz --disable-pcre2grep-libbz2 --disable-pcre2test-libreadline
  make -j"$jobs" libpcre2-8.la
  make install-libLTLIBRARIES install-includeHEADERS install-nodist_includeHEADERS \
    install-pkgconfigDATA
}

build_sqlite3() {  # its configure makes the amalgamation (with tclsh) and the library
  cd "$(fetch sqlite3)"
  mkdir -p build-mingw && cd build-mingw
  # The target's executable suffix picks the Windows back end; the helper programs that make the
  # amalgamation run here, so they get none (BEXE), and lemon is built for here (CROSS_BUILDING).
  config_TARGET_EXEEXT=.exe \
  ../configure --host=$host --prefix="$prefix" CC=$host-gcc-posix CXX=$host-g++-posix --disable-shared --enable-static --disable-tcl \
    --disable-readline --disable-load-extension
  make -j"$jobs" BEXE= CROSS_BUILDING=yes libsqlite3.la
  make BEXE= CROSS_BUILDING=yes install  # the library, its headers and .pc, and the shell
}

build_xxhash() {
  cd "$(fetch xxhash)"
  make -j"$jobs" CC=$host-gcc-posix AR=$host-ar libxxhash.a libxxhash.pc PREFIX="$prefix"
  mkdir -p "$prefix/lib/pkgconfig" "$prefix/include"
  install -m 644 libxxhash.a "$prefix/lib/"
  install -m 644 xxhash.h xxh3.h "$prefix/include/"
  install -m 644 libxxhash.pc "$prefix/lib/pkgconfig/"
}

build_googletest() {
  cd "$(fetch googletest)"
  cmake -S . -B build-mingw "${cross_cmake[@]}" -DINSTALL_GTEST=ON -DBUILD_GMOCK=ON
  cmake --build build-mingw -j"$jobs"
  cmake --install build-mingw
}

build_postgresql() {  # libpq alone: the headers it needs, the ports it uses, then the library
  cd "$(fetch postgresql-15)"
  ./configure --host=$host --prefix="$prefix" CC=$host-gcc-posix --without-readline \
    --without-zlib --without-icu --with-ssl=openssl CPPFLAGS="-I$prefix/include" \
    LDFLAGS="-L$prefix/lib" LIBS="-lcrypt32 -lws2_32"
  for dir in src/include src/port src/common src/interfaces/libpq; do
    make -C "$dir" -j"$jobs"
  done
  make -C src/interfaces/libpq install  # libpq.dll in bin/, its import library, libpq-fe.h, libpq.pc
  install -m 644 src/include/postgres_ext.h src/include/pg_config_ext.h "$prefix/include/"
}

total=$SECONDS
for n in "${names[@]}"; do
  # One stamp per dependency, so that a run stopped half way goes on where it stopped.
  [ -f "$prefix/.built-$n" ] && continue
  fn=build_$(sed 's/3\.2$//; s/-[0-9]*$//' <<<"$n")
  (timed "$n" "$fn")
  touch "$prefix/.built-$n"
done
mkdir -p "$prefix/boost-include"
ln -sfn /usr/include/boost "$prefix/boost-include/boost"
touch "$prefix/.complete"
say "all built in $((SECONDS - total)) s"
echo "$prefix"
