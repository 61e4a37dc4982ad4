#!/usr/bin/env bash
# Builds the settings fuzz targets with clang (libFuzzer, ASan, UBSan) and runs
# each for a bounded time from the checked-in seed corpus. Fails on any crash,
# leak, sanitizer report or broken invariant.
#   FUZZ_SECONDS  total time for all targets (default 60, shared evenly)
#   FUZZ_JOBS     parallel fuzzing processes per target (default 1)
#   FUZZ_BUILD    the build folder (default build/fuzz)
#   FUZZ_TIMEOUT  seconds one input may take before it counts as a failure
#                 (default 10; load_fuzz loads 256 KB per input)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${FUZZ_BUILD:-$root/build/fuzz}
targets=(reader_fuzz store_fuzz load_fuzz)
total=${FUZZ_SECONDS:-60}
each=$(( total / ${#targets[@]} ))
[ "$each" -ge 1 ] || each=1

mkdir -p "$build"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >"$build/configure.log" 2>&1 ||
  { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j 2 >"$build/build.log" 2>&1 || { tail -n 40 "$build/build.log"; exit 1; }

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
status=0
for target in "${targets[@]}"; do
  work="$build/$target.run"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  log="$work/log.txt"
  echo "fuzz: $target for ${each}s"
  # The seeds stay as checked in; what the run finds goes to its own folder.
  if ! "$build/$target" -max_total_time="$each" -timeout="${FUZZ_TIMEOUT:-10}" -rss_limit_mb=2048 -max_len=4096 \
       -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" "$here/corpus" >"$log" 2>&1; then
    status=1
  fi
  if grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|check failed' "$log"; then
    status=1
  fi
  grep -E '^stat::number_of_executed_units|^Done [0-9]+ runs' "$log" | sed "s/^/  /" || true
  if [ "$status" != 0 ]; then
    tail -n 60 "$log"
    ls -l "$work/artifacts"
    echo "fuzz: $target FAILED (log $log)"
    exit 1
  fi
done
echo "fuzz: all targets passed"
