# Sourced by the tests of rvk against a shared history, with the path to rvk or rvk.exe as $1: a
# throwaway cluster (pg_cluster.sh), rvk() running that program, $out for what it prints, and the
# checks of session_checks.sh. rvk.exe runs under Wine and reaches the server over the loopback
# address, as a Windows machine of the office would reach it over the network.
program=$(cd "$(dirname "$1")" && pwd -P)/$(basename "$1")
source "$(dirname "${BASH_SOURCE[0]}")/pg_cluster.sh"
if [[ $program == *.exe ]]; then
    export WINEDEBUG=${WINEDEBUG:--all}
    rvk() { wine "$program" "$@"; }
    all_by_address
else
    rvk() { "$program" "$@"; }
fi
out=$base/out
# shellcheck source=session_checks.sh
source "$(dirname "${BASH_SOURCE[0]}")/session_checks.sh"
