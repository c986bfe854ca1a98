#!/usr/bin/env bash
# Runs the kit's shared-history tests (client_tests, filtered to SharedOperations*) against a
# throwaway PostgreSQL cluster.
#   kit_server_test.sh CLIENT_TESTS
# client_tests.exe runs under Wine and reaches the server over the loopback address, as a Windows
# machine of the office would reach it over the network.
set -euo pipefail
tests=$1
source "$(dirname "$0")/../host/pg_cluster.sh"
run=("$tests")
if [[ $tests == *.exe ]]; then
    export WINEDEBUG=${WINEDEBUG:--all}
    run=(wine "$tests")
    by_address() { sed "s|host=[^ ]*|host=127.0.0.1|" <<<"$1"; }
    pg_admin=$(by_address "$pg_admin") pg_drafter1=$(by_address "$pg_drafter1")
    pg_drafter2=$(by_address "$pg_drafter2") pg_super=$(by_address "$pg_super")
fi
RVK_TEST_ADMIN=$pg_admin RVK_TEST_DRAFTER1=$pg_drafter1 RVK_TEST_DRAFTER2=$pg_drafter2 \
    RVK_TEST_SUPER=$pg_super \
    "${run[@]}" --gtest_filter='SharedOperations*'
