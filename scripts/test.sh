#!/usr/bin/env bash
# The whole suite: unit and window tests (offscreen), end-to-end tests on a
# virtual desktop, the bounded fuzz run and a benchmark smoke run; then the
# same tests once more, built with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
build=$1
asan=$2
cd "$(dirname "$0")/.."
jobs=$(nproc)
# Whatever the caller's locale, the tests and the tools they run (xdotool's
# matching of non-ASCII window titles among them) read text as UTF-8.
# C.UTF-8 is on every Debian system.
export LC_ALL=C.UTF-8
unset LANGUAGE

# Tests on the virtual desktop depend on a window manager's timing; one that
# fails gets a second run. The others run once.
run_suite() {
    ctest --test-dir "$1" --output-on-failure -j2 --timeout 900 -LE "e2e|fuzz"
    ctest --test-dir "$1" --output-on-failure --timeout 900 -L e2e --repeat until-pass:2
}

echo "== tests"
run_suite "$build"
ctest --test-dir "$build" --output-on-failure --timeout 900 -L fuzz

echo "== benchmark smoke run (10,000 entries)"
QT_QPA_PLATFORM=offscreen "$build/bench/bench_catalogue" --cache "$build/bench-cache" \
    --sizes 10000 --reps 1
QT_QPA_PLATFORM=offscreen "$build/bench/bench_import" --cache "$build/bench-cache" \
    --files 2000 --reps 1 --tagged-files 250

echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B "$asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALVERO_WERROR=ON \
    -DKALVERO_SANITIZE=ON >/dev/null
cmake --build "$asan" -j"$jobs"
# A small quarantine: the key derivation allocates on each of its 64,000 rounds.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:quarantine_size_mb=4
export LSAN_OPTIONS=suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The fuzz run is sanitized already; it is not run twice.
run_suite "$asan"
