#!/usr/bin/env bash
# The whole suite: unit and window tests (offscreen), end-to-end tests on a
# virtual desktop, the bounded fuzz run and the benchmark smoke run.
set -euo pipefail
build=$1
cd "$(dirname "$0")/.."
ctest --test-dir "$build" --output-on-failure -j2 --timeout 600
