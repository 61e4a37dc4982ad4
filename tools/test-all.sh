#!/usr/bin/env bash
# Builds every target and runs every test: native unit tests, the same under
# sanitizers, the table concurrency test under ThreadSanitizer, the fuzzers
# for a bounded time, and the Windows build under Wine.
set -uo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh || exit 1

passed=0
failed=0
status=0
logs=build/test-logs
mkdir -p "$logs"

step() { echo; echo "=== $*"; }

# Configures, builds and tests one preset, adding its counts to the totals.
# Optional further words wrap the test run (xvfb-run for the Windows build).
run_preset() {
  local preset=$1; shift
  step "preset $preset"
  if ! { cmake --preset "$preset" >"$logs/$preset-configure.log" 2>&1 &&
         cmake --build --preset "$preset" -j 2 >"$logs/$preset-build.log" 2>&1; }; then
    tail -n 40 "$logs/$preset-configure.log" "$logs/$preset-build.log" 2>/dev/null
    echo "$preset: build failed"
    failed=$((failed + 1)); status=1
    return
  fi
  "$@" ctest --preset "$preset" 2>&1 | tee "$logs/$preset-ctest.log" | grep -E 'tests passed|Failed|\*\*\*|Timeout' 
  local line total bad
  line=$(grep -E '[0-9]+ tests failed out of [0-9]+' "$logs/$preset-ctest.log" | tail -n 1)
  if [ -z "$line" ]; then
    echo "$preset: ctest ran no test"
    failed=$((failed + 1)); status=1
    return
  fi
  bad=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
  passed=$((passed + total - bad)); failed=$((failed + bad))
  [ "$bad" = 0 ] || status=1
}

run_preset native
run_preset native-sanitize
run_preset native-tsan

# Any input that takes more than FUZZ_TIMEOUT seconds fails the run: a load
# that grows faster than the file shows up there.
step "fuzzing the settings reader and store (about 70 s)"
if FUZZ_SECONDS=${FUZZ_SECONDS:-60} FUZZ_TIMEOUT=${FUZZ_TIMEOUT:-10} bash tests/fuzz/run.sh; then
  passed=$((passed + 1))
else
  echo "fuzz: failed"
  failed=$((failed + 1)); status=1
fi
# Wine needs a display for windows; a virtual one serves the whole run.
run_preset win32 xvfb-run -a -s "-screen 0 1280x1024x24"

# The release zip from a clean build folder of its own (its DLL must be the
# bytes the Windows tests ran); each of its checks counts, and so do the
# checks' own tests, as one.
step "release zip and its checks (one to two minutes)"
bash tools/release.sh --dist build/release-dist --compare-with build/win32 >"$logs/release.log" 2>&1
release_rc=$?
grep -E '^(ok|FAIL): ' "$logs/release.log"
passed=$((passed + $(grep -c '^ok: ' "$logs/release.log")))
release_bad=$(grep -c '^FAIL: ' "$logs/release.log")
if [ "$release_rc" != 0 ] && [ "$release_bad" = 0 ]; then
  tail -n 20 "$logs/release.log"; release_bad=1
fi
if python3 -m unittest discover -s tools/release >"$logs/release-tests.log" 2>&1; then
  passed=$((passed + 1))
else
  tail -n 30 "$logs/release-tests.log"; release_bad=$((release_bad + 1))
fi
failed=$((failed + release_bad))
[ "$release_bad" = 0 ] || status=1

echo
echo "total: $passed passed, $failed failed"
exit $status
