#!/usr/bin/env bash
# Every test a document names as `Suite.Test` exists in the suites, so that a
# contract never points at a test that was renamed or removed.
#   check_test_names.sh DOCUMENT TESTS_FOLDER
set -euo pipefail
document=$1
tests=$2
names=$(grep -o '`[A-Z][A-Za-z0-9]*\.[A-Z][A-Za-z0-9]*`' "$document" | tr -d '`' | sort -u)
[ -n "$names" ] || { echo "$document names no test"; exit 1; }
missing=0
for name in $names; do
    suite=${name%%.*}
    test=${name#*.}
    if ! grep -rqE "TEST(_F|_P)?\($suite, $test\)" "$tests"; then
        echo "$document names $name, which no suite holds"
        missing=1
    fi
done
[ $missing -eq 0 ] && echo "$(echo "$names" | wc -l) test names in $(basename "$document") found"
exit $missing
