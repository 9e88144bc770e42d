#!/usr/bin/env bash
# Builds every configuration and runs every test, exactly as CI does:
#   1. macos: every file of the macOS build compiled for x86_64 and arm64
#      Macs (clang 14, warnings as errors) against the declaration-only SDK
#      in tools/macos/, and the host and the bridge library linked for both
#      with ld64.lld against its stubs, joined and checked (tools/macos/README.md);
#   2. release (g++ 12), warnings as errors: the whole CTest suite;
#   3. asan-ubsan (clang++ 14), warnings as errors: the whole suite again;
#   4. valgrind over the quick end-to-end tests of the release host;
#   5. fuzz (clang++ 14, libFuzzer + ASan/UBSan): each target for a bounded
#      time from its seed corpus (VK_FUZZ_SECONDS, default 60).
# Usage: tools/check.sh [macos|release|asan-ubsan|valgrind|fuzz]...  (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."

stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(macos release asan-ubsan valgrind fuzz)
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
    macos)
      banner "macOS compile and link check: x86_64 and arm64"
      tools/macos/compile_check.py --build-dir build/macos-check --link-dir build/macos-link --jobs "$jobs"
      ;;
    release | asan-ubsan)
      build "$stage"
      banner "tests: $stage"
      # The valgrind label has its own stage; under the sanitizers it is not built.
      ctest --preset "$stage" -j "$jobs" -LE valgrind
      ;;
    valgrind)
      build release
      banner "tests under valgrind: quick end-to-end tests of the release host"
      ctest --preset release -L valgrind
      ;;
    fuzz)
      build fuzz
      # Each target runs on its working corpus (seeded at configure time),
      # with its dictionary when it has one. -malloc_limit_mb turns any
      # allocation made before a length check into a failure.
      for target in build/fuzz/fuzz/*_fuzz; do
        name=$(basename "$target")
        args=(-max_total_time="$fuzz_seconds" -malloc_limit_mb=64 -print_final_stats=1
              -artifact_prefix="build/fuzz/$name-")
        [ -f "fuzz/$name.dict" ] && args+=(-dict="fuzz/$name.dict")
        banner "fuzz: $name for ${fuzz_seconds}s"
        log="build/fuzz/$name.log"
        if ! "$target" "${args[@]}" "build/fuzz/fuzz/${name}_corpus" >"$log" 2>&1; then
          tail -n 60 "$log"
          echo "fuzz target $name failed; reproducer: build/fuzz/$name-*" >&2
          exit 1
        fi
        grep -E '^stat::number_of_executed_units|^Done [0-9]+ runs' "$log" || true
      done
      ;;
    *)
      echo "unknown stage: $stage" >&2
      exit 2
      ;;
  esac
done
banner "all checks passed"
