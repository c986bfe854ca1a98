#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for rvk's shared history, for tests and trials on one machine.
#
#   scripts/pg-server.sh start DIR   makes a cluster in DIR (which must be empty or absent) and
#                                    starts it; prints one line per login role: its name, a
#                                    space, and a connection string for it (no password in it).
#                                    A cluster that DIR holds already is started again, on its
#                                    port.
#   scripts/pg-server.sh stop DIR    stops the cluster in DIR (DIR itself stays)
#
# The server listens on a socket in DIR and on 127.0.0.1 only, on a free port. Run as root (as CI
# does), it runs as the unprivileged system user "postgres", which then owns DIR. It has the
# group roles rvk_writers, rvk_readers and rvk_admin, the login roles drafter1 and drafter2
# (writers), reader (readers) and admin (rvk_admin, which may also create roles: rvk remote create
# makes rvk_owner, the role that owns the repository and that nobody logs in as), and a database
# "rvk" in which rvk_admin may create the shared repository (rvk remote create).
#
# Authentication is "trust" on the socket and on the loopback address: this cluster is throwaway
# and reachable from this machine only, so any local user may connect as any role. A real server
# uses passwords in ~/.pgpass, certificates or peer authentication instead.
set -euo pipefail

usage() { echo "usage: $0 start DIR | stop DIR" >&2; exit 2; }
[ $# -eq 2 ] || usage
action=$1
dir=$2
bin=${PG_BIN:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)}
if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
  echo "pg-server: no PostgreSQL server binaries found (install postgresql)" >&2
  exit 3
fi
as_server=()
if [ "$(id -u)" -eq 0 ]; then
  as_server=(runuser -u postgres --)
fi

case $action in
start)
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd -P)
  if [ -f "$dir/port" ] && [ -d "$dir/data" ]; then
    port=$(cat "$dir/port")
    "${as_server[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-p $port -k $dir -c listen_addresses=127.0.0.1" start >/dev/null
    for role in drafter1 drafter2 reader admin; do
      echo "$role host=$dir port=$port user=$role dbname=rvk"
    done
    exit 0
  fi
  if [ -n "$(ls -A "$dir")" ]; then
    echo "pg-server: $dir is not empty" >&2
    exit 1
  fi
  if ((${#as_server[@]})); then
    chown postgres: "$dir"
    if ! "${as_server[@]}" test -w "$dir"; then
      echo "pg-server: the user postgres cannot reach $dir: let others search its parent folders (chmod o+x)" >&2
      exit 1
    fi
  fi
  "${as_server[@]}" "$bin/initdb" -D "$dir/data" -U postgres --auth=trust -E UTF8 \
    --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
  # A port nobody listens on: a random one, tried again when the server cannot take it.
  started=
  for attempt in 1 2 3 4 5 6 7 8; do
    port=$((20000 + RANDOM % 40000))
    if (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      continue
    fi
    if "${as_server[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
         -o "-p $port -k $dir -c listen_addresses=127.0.0.1" start >/dev/null; then
      started=1
      break
    fi
  done
  if [ -z "$started" ]; then
    echo "pg-server: the server did not start; see $dir/server.log" >&2
    exit 1
  fi
  echo "$port" >"$dir/port"
  "$bin/psql" -X -q -v ON_ERROR_STOP=1 -h "$dir" -p "$port" -U postgres -d postgres <<'SQL'
CREATE ROLE rvk_writers NOLOGIN;
CREATE ROLE rvk_readers NOLOGIN;
CREATE ROLE rvk_admin NOLOGIN;
CREATE ROLE drafter1 LOGIN IN ROLE rvk_writers;
CREATE ROLE drafter2 LOGIN IN ROLE rvk_writers;
CREATE ROLE reader LOGIN IN ROLE rvk_readers;
CREATE ROLE admin LOGIN CREATEROLE IN ROLE rvk_admin;
CREATE DATABASE rvk;
GRANT CREATE ON DATABASE rvk TO rvk_admin;
SQL
  for role in drafter1 drafter2 reader admin; do
    echo "$role host=$dir port=$port user=$role dbname=rvk"
  done
  ;;
stop)
  [ -d "$dir/data" ] || { echo "pg-server: no cluster in $dir" >&2; exit 1; }
  "${as_server[@]}" "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null
  ;;
*)
  usage
  ;;
esac
