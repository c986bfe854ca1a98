# Sourced by the shared-history tests: starts a throwaway PostgreSQL cluster with
# scripts/pg-server.sh in a new folder, stops it and removes the folder on exit, and sets
# $base (the folder), $pg_admin, $pg_drafter1, $pg_drafter2, $pg_reader (connection strings) and
# $pg_super (the cluster's superuser, for editing rows by hand). Exits 77 (skipped) when the
# PostgreSQL server is not installed.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
pg_server=$here/../../scripts/pg-server.sh
if ! ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1 || ! command -v psql >/dev/null; then
    echo "SKIPPED: the PostgreSQL server and psql are not installed (scripts/setup.sh installs them)"
    exit 77
fi
base=$(mktemp -d "${TMPDIR:-/tmp}/rvk-shared-XXXXXX")
# The server may run as another user, who must reach its folder.
chmod 755 "$base"
cleanup() {
    bash "$pg_server" stop "$base/pg" >/dev/null 2>&1 || true
    rm -rf "$base"
}
trap cleanup EXIT
bash "$pg_server" start "$base/pg" >"$base/roles"
role() { sed -n "s/^$1 //p" "$base/roles"; }
pg_admin=$(role admin)
pg_drafter1=$(role drafter1)
pg_drafter2=$(role drafter2)
pg_reader=$(role reader)
pg_super="host=$base/pg port=$(cat "$base/pg/port") user=postgres dbname=rvk"

# by_address CONNINFO: the same connection over the loopback address instead of the socket
# folder, as a Windows program under Wine (or a machine of the office) reaches the server.
by_address() { sed "s|host=[^ ]*|host=127.0.0.1|" <<<"$1"; }
# Every role's connection string by_address, for a test whose programs all run under Wine.
all_by_address() {
    pg_admin=$(by_address "$pg_admin") pg_drafter1=$(by_address "$pg_drafter1")
    pg_drafter2=$(by_address "$pg_drafter2") pg_reader=$(by_address "$pg_reader")
    pg_super=$(by_address "$pg_super")
}
