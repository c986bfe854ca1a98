#!/usr/bin/env bash
# Runs the kit's shared-history tests (client_tests, every suite but LocalOperations.*, which
# client.local runs without a server, unless FILTER names others) against a throwaway PostgreSQL
# cluster.
#   kit_server_test.sh CLIENT_TESTS [FILTER]
# client_tests.exe runs under Wine and reaches the server over the loopback address, as a Windows
# machine of the office would reach it over the network.
set -euo pipefail
tests=$1
source "$(dirname "$0")/../host/pg_cluster.sh"
run=("$tests")
if [[ $tests == *.exe ]]; then
    export WINEDEBUG=${WINEDEBUG:--all}
    run=(wine "$tests")
    all_by_address
fi
RVK_TEST_ADMIN=$pg_admin RVK_TEST_DRAFTER1=$pg_drafter1 RVK_TEST_DRAFTER2=$pg_drafter2 \
    RVK_TEST_READER=$pg_reader RVK_TEST_SUPER=$pg_super \
    "${run[@]}" --gtest_filter="${2:--LocalOperations.*}"
