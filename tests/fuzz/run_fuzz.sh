#!/usr/bin/env bash
# Builds a fuzz target with clang into build-fuzz/ and runs it for a bounded
# time over the kept inputs.
#
#   tests/fuzz/run_fuzz.sh [store|csv] [seconds] [--merge]
#
# The target is the store's statements (the default) or the CSV reader.
# Kept inputs: the store's in tests/fuzz/seeds/ (written by hand, never
# pruned) and tests/fuzz/corpus/ (found by the fuzzer, at most 200); the CSV
# reader's in tests/fuzz/csv-seeds/ and tests/fuzz/csv-corpus/. Both are only
# read; what a run finds collects in build-fuzz/corpus-new/ (csv-corpus-new/).
# With --merge, the found inputs old and new are minimised against the seeds
# (libFuzzer's -merge=1) and the result replaces the corpus folder, ready to
# commit. A fault leaves the input that caused it in build-fuzz/artifacts/
# (csv-artifacts/) and makes the script fail.
set -euo pipefail

target=store
case ${1:-} in store | csv) target=$1; shift ;; esac
seconds=${1:-60}
merge=no
if [ "${2:-}" = --merge ]; then merge=yes; fi
case $seconds in
    '' | *[!0-9]*) echo "usage: $0 [store|csv] [seconds] [--merge]" >&2; exit 2 ;;
esac

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${KALVERO_FUZZ_BUILD:-$root/build-fuzz}
if [ $target = store ]; then
    prefix=
    what="the store"
    # The target keeps its catalogue and the rows it added from one input to
    # the next, so libFuzzer's leak check after each input would see every
    # input "leak" and run it twice; leaks are the sanitizer build's business.
    options=(-dict="$here/store.dict" -detect_leaks=0)
else
    prefix=csv-
    what="the CSV reader"
    options=(-dict="$here/csv.dict")
fi
seeds=$here/${prefix}seeds
corpus=$here/${prefix}corpus
new=$build/${prefix}corpus-new
artifacts=$build/${prefix}artifacts
max_kept=200

runtime="$(clang++ -print-resource-dir 2>/dev/null)/lib/linux/libclang_rt.fuzzer-$(uname -m).a"
if [ ! -e "$runtime" ]; then
    echo "libFuzzer's runtime is missing ($runtime): install clang and libclang-rt-14-dev" \
        "(scripts/install-deps.sh does)." >&2
    exit 1
fi

cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    >/dev/null
cmake --build "$build" -j"$(nproc)" --target "kalvero_fuzz_$target"
mkdir -p "$corpus" "$new" "$artifacts"
# Found inputs are only a head start for the next run; a pile of them slows
# its start, so past a few thousand they go (--merge keeps what they reach).
if [ "$(find "$new" -maxdepth 1 -type f | wc -l)" -gt 3000 ]; then
    find "$new" -mindepth 1 -maxdepth 1 -type f -delete
fi

# The catalogue goes on a memory file system when there is one; whatever the
# run leaves there, after a crash too, is removed on the way out.
scratch=$(mktemp -d /dev/shm/kalvero-fuzz.XXXXXX 2>/dev/null || mktemp -d)
merged=
trap 'rm -rf "$scratch" ${merged:+"$merged"}' EXIT
export KALVERO_FUZZ_TMP=$scratch
# Every input opens the catalogue, and each open allocates and frees large
# page buffers. With AddressSanitizer's default 256 MB quarantine of freed
# memory those are fresh pages every time, several times slower; a small
# quarantine still catches a use after free in the store's own small blocks.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16}

fuzzer=$build/kalvero_fuzz_$target
common=("${options[@]}" -max_len=4096 -timeout=30 -rss_limit_mb=2048)

count() { find "$1" -maxdepth 1 -type f | wc -l; }
echo "Fuzzing $what for ${seconds}s" \
    "($(count "$seeds") seeds, $(count "$corpus") kept, $(count "$new") found before)"
"$fuzzer" "${common[@]}" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$new" "$corpus" "$seeds"

if [ $merge = yes ]; then
    # Start from the seeds, so that only inputs reaching something the seeds
    # do not are kept; edges alone decide (not hit counts), which keeps the
    # kept corpus small.
    merged=$(mktemp -d "$build/merged.XXXXXX")
    cp "$seeds"/* "$merged"/
    "$fuzzer" "${common[@]}" -use_counters=0 -merge=1 "$merged" "$corpus" "$new"
    for seed in "$seeds"/*; do rm -f "$merged/$(basename "$seed")"; done
    found=$(count "$merged")
    if [ "$found" -gt $max_kept ]; then
        # Keep the smallest: they carry the most coverage per byte.
        echo "The merge kept $found inputs; keeping the $max_kept smallest."
        find "$merged" -maxdepth 1 -type f -printf '%s %p\n' | sort -n | tail -n $((found - max_kept)) |
            cut -d' ' -f2- | while read -r f; do rm "$f"; done
    fi
    find "$corpus" -mindepth 1 -maxdepth 1 -type f -delete
    find "$merged" -mindepth 1 -maxdepth 1 -type f -exec cp {} "$corpus"/ \;
    find "$new" -mindepth 1 -maxdepth 1 -type f -delete
    echo "Kept corpus: $(count "$corpus") inputs."
fi
