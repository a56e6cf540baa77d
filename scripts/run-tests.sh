#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice:
# once in a normal build and once under AddressSanitizer + UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
run_suite() {
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPONDRA_WERROR=ON "$@"
    cmake --build "$dir" -j "$jobs"
    (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

run_suite build
run_suite build-asan -DPONDRA_SANITIZE=ON -DPONDRA_BUILD_BENCH=OFF

# Short, bounded fuzzing runs of every fuzz target.
bash scripts/run-fuzzers.sh
