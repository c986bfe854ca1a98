#!/usr/bin/env bash
# Runs the kit's shared-history tests (client_tests, filtered to SharedOperations.* and the refusal
# tables, */SharedOperationsRefusals.*) against a throwaway PostgreSQL cluster.
#   kit_server_test.sh CLIENT_TESTS
set -euo pipefail
tests=$1
source "$(dirname "$0")/../host/pg_cluster.sh"
RVK_TEST_ADMIN=$pg_admin RVK_TEST_DRAFTER1=$pg_drafter1 RVK_TEST_DRAFTER2=$pg_drafter2 \
    RVK_TEST_READER=$pg_reader RVK_TEST_SUPER=$pg_super \
    "$tests" --gtest_filter='SharedOperations.*:*/SharedOperationsRefusals.*'
