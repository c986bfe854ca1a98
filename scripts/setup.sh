#!/usr/bin/env bash
# Installs, with apt-get, every Debian package the build, the tests and the reference host need and
# that this machine lacks. Safe to run again: it installs nothing when everything is there.
# Usage: scripts/setup.sh [extra-package ...]
set -euo pipefail

packages=(
  cmake make g++ pkg-config git
  libwxgtk3.2-dev   # wxWidgets base: message translation
  libssl-dev        # OpenSSL libcrypto: SHA-256
  libboost-dev      # Boost headers: optional, variant
  libre2-dev libpcre2-dev  # the engines behind patterns from users
  libgtest-dev libbenchmark-dev
  libsqlite3-dev    # the host kit's database (its static archive goes into the kit)
  libxxhash-dev     # the host kit's stat cache: its checksum (likewise)
  postgresql postgresql-client libpq-dev  # the reference host's shared history: server, psql, client library
  sqlite3 strace    # the host tests: a crafted database, counting reads, killing commands at chosen calls
  chromium curl     # the web view's tests: its pages in a real browser, its refusals over plain HTTP
  nlohmann-json3-dev rapidjson-dev openssl  # bench/compare: the peers it measures against
  clang libclang-rt-14-dev clang-tidy cppcheck  # fuzz-smoke.sh and static-analysis.sh
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
