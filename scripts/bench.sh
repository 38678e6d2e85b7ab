#!/usr/bin/env bash
# Runs the benchmarks. Catalogues are generated once into $build/bench-cache.
# BENCH_SIZES (default 10000,100000,1000000) and BENCH_REPS (default 5) narrow a run;
# "thunder" typed one key every 80 ms runs on the largest size. BENCH_AUDITION_KEYS
# (default 30) and BENCH_AUDITION_STARTS (default 5) size the audition benchmark.
set -euo pipefail
build=$1
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
"$build/bench/bench_catalogue" --cache "$build/bench-cache" \
    --sizes "${BENCH_SIZES:-10000,100000,1000000}" --reps "${BENCH_REPS:-5}"
echo
"$build/bench/bench_keystroke" "$build/bench-cache" 100000 thunder "${BENCH_REPS:-5}"
# Each key, then typed at a person's pace, on the largest catalogue asked for.
largest=$(tr ',' '\n' <<<"${BENCH_SIZES:-10000,100000,1000000}" | sort -n | tail -1)
if [ "$largest" -gt 100000 ]; then
    echo
    "$build/bench/bench_keystroke" "$build/bench-cache" "$largest" thunder "${BENCH_REPS:-5}"
fi
echo
"$build/bench/bench_keystroke" "$build/bench-cache" "$largest" thunder "${BENCH_REPS:-5}" 80
echo
# BENCH_IMPORT_FILES (default 100000) sizes the import benchmark's tree,
# BENCH_TAGGED_FILES (default 10000) its tree of tagged files.
"$build/bench/bench_import" --cache "$build/bench-cache" \
    --files "${BENCH_IMPORT_FILES:-100000}" --reps "${BENCH_IMPORT_REPS:-3}" \
    --tagged-files "${BENCH_TAGGED_FILES:-10000}"
echo
# A second rescan of the import benchmark's tree, against the walk alone.
"$build/bench/bench_rescan" --cache "$build/bench-cache" \
    --files "${BENCH_IMPORT_FILES:-100000}" --reps "${BENCH_REPS:-5}"
echo
# BENCH_ANALYSIS_FILES (default 300) sizes the analysis benchmark's set of files.
"$build/bench/bench_analysis" --cache "$build/bench-cache" \
    --files "${BENCH_ANALYSIS_FILES:-300}" --reps "${BENCH_ANALYSIS_REPS:-3}"
echo
# Key to sound while auditioning: handed to the running player, and a player
# process started for comparison.
"$build/bench/bench_audition" "$build/bin" "${BENCH_AUDITION_KEYS:-30}" "${BENCH_AUDITION_STARTS:-5}"
