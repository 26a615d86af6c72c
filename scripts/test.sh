#!/usr/bin/env bash
# The whole test run: install what is missing, build and test (g++, warnings as errors), build
# and test again under AddressSanitizer and UndefinedBehaviorSanitizer (clang), then run every
# fuzz target for a short while on its seed corpus.
#   FUZZ_SECONDS  seconds per fuzz target (default 20)
#   JOBS          parallel build jobs (default 2)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
jobs="${JOBS:-2}"
fuzz_seconds="${FUZZ_SECONDS:-20}"

bash scripts/install-deps.sh

echo "== Release build (g++)"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DRUVALDA_WERROR=ON \
      -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc >/dev/null
cmake --build build/release -j "$jobs"
(cd build/release && ctest --output-on-failure -j "$jobs")

echo "== Sanitizer build (clang, ASan + UBSan) with fuzz targets"
cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRUVALDA_WERROR=ON \
      -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
      -DRUVALDA_SANITIZE=ON -DRUVALDA_FUZZ=ON -DRUVALDA_WINE_TESTS=OFF >/dev/null
cmake --build build/sanitize -j "$jobs"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
(cd build/sanitize && ctest --output-on-failure -j "$jobs")

echo "== Fuzzing, ${fuzz_seconds} s per target"
for fuzzer in build/sanitize/fuzz/fuzz_*; do
    [ -x "$fuzzer" ] || continue
    name="$(basename "$fuzzer")"
    work="build/sanitize/fuzz-work/$name"
    rm -rf "$work" && mkdir -p "$work/corpus"
    # The seed corpus stays untouched; new inputs go to the work folder.
    [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$work/corpus/"
    (cd "$work" && "$root/$fuzzer" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 corpus 2>fuzz.log) || { tail -n 60 "$work/fuzz.log"; exit 1; }
    grep -E 'stat::number_of_executed_units' "$work/fuzz.log" | sed "s/^/$name: /"
done
echo "All tests passed."
