#!/usr/bin/env bash
# Builds every configuration and runs every test, exactly as CI does:
#   1. release (g++ 12), warnings as errors: the whole CTest suite;
#   2. asan-ubsan (clang++ 14), warnings as errors: the whole suite again;
#   3. valgrind over the quick end-to-end tests of the release host;
#   4. fuzz (clang++ 14, libFuzzer + ASan/UBSan): each target for a bounded
#      time from its seed corpus (VK_FUZZ_SECONDS, default 60).
# Usage: tools/check.sh [release|asan-ubsan|valgrind|fuzz]...  (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."

stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(release asan-ubsan valgrind fuzz)
jobs=$(nproc)
fuzz_seconds=${VK_FUZZ_SECONDS:-60}

tools/install-deps.sh

banner() { printf '\n=== %s ===\n' "$*"; }

build() {
  banner "configure and build: $1"
  cmake --preset "$1" -DVK_WERROR=ON >/dev/null
  cmake --build --preset "$1" -j "$jobs"
}

for stage in "${stages[@]}"; do
  case "$stage" in
    release | asan-ubsan)
      build "$stage"
      banner "tests: $stage"
      ctest --preset "$stage" -j "$jobs"
      ;;
    valgrind)
      build release
      banner "tests under valgrind: quick end-to-end tests of the release host"
      ctest --preset release -L valgrind
      ;;
    fuzz)
      build fuzz
      for target in build/fuzz/fuzz/*_fuzz; do
        name=$(basename "$target")
        corpus="build/fuzz/corpus/$name"
        mkdir -p "$corpus"
        banner "fuzz: $name for ${fuzz_seconds}s"
        "$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 \
          -artifact_prefix="build/fuzz/$name-" "$corpus" "fuzz/corpus/$name" 2>&1 |
          grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|==[0-9]+==|SUMMARY|Done)' || true
        [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "fuzz target $name failed" >&2; exit 1; }
      done
      ;;
    *)
      echo "unknown stage: $stage" >&2
      exit 2
      ;;
  esac
done
banner "all checks passed"
