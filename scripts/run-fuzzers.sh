#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a short, fixed time
# on its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -d tests/fuzz ] || exit 0

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DPONDRA_FUZZ=ON -DPONDRA_BUILD_TESTS=OFF -DPONDRA_BUILD_BENCH=OFF
cmake --build build-fuzz -j "$(nproc)" --target pondra_fuzzers
for fuzzer in build-fuzz/tests/fuzz/fuzz_*; do
    [ -f "$fuzzer" ] && [ -x "$fuzzer" ] || continue
    name=$(basename "$fuzzer")
    corpus=$(mktemp -d)
    cp tests/fuzz/corpus/"${name#fuzz_}"/* "$corpus"/ 2>/dev/null || true
    echo "running $name"
    "$fuzzer" -max_total_time=20 -timeout=5 -rss_limit_mb=2048 "$corpus"
    rm -rf "$corpus"
done
