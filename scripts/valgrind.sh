#!/usr/bin/env bash
# Runs the test programs of a build (default build/release, which scripts/test.sh makes) under
# valgrind's memcheck: any invalid read or write, use of uninitialised memory or leak fails.
#   scripts/valgrind.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
scripts/setup-deps.sh valgrind

# The tests' forked children (calls under a file-size limit or another user) end with _exit,
# leaving what they inherited: their reports are silenced (the sanitizer suite checks them).
memcheck() {
    echo "== valgrind: $*"
    valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
        --track-origins=yes --child-silent-after-fork=yes "$@"
}
tests=$build/tests
tests/support/test_users.sh add
trap 'tests/support/test_users.sh remove' EXIT
memcheck "$tests/kelvane_tests" --gtest_brief=1 --gtest_filter='-large_test.*'
# That test replaces operator new and delete itself; valgrind redirects the calls it can see
# and not those inlined, so its pairs look mismatched though every block is freed once.
memcheck --show-mismatched-frees=no "$tests/alloc_failure_test" --gtest_brief=1
memcheck "$tests/corpus_test" --gtest_brief=1
memcheck "$tests/c_api_test" "$tests"
memcheck "$build/fuzz/fuzz_ops_replay" fuzz/corpus/fuzz_ops
memcheck "$build/fuzz/fuzz_names_replay" fuzz/corpus/fuzz_names
echo "== valgrind: no errors"
