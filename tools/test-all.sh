#!/usr/bin/env bash
# Builds every target and runs every test: native unit tests, the same under
# sanitizers, the table concurrency test under ThreadSanitizer, the fuzzers
# for a bounded time, the 32-bit core tests, and the Windows builds under
# Wine: the x86-64 test build under 64-bit Wine on every machine, the
# shipped i686 build under 32-bit Wine where this machine runs 32-bit
# programs (ZVK_EMULATE_32BIT=1 takes the other path; see tools/arch32.sh).
set -uo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh || exit 1

passed=0
failed=0
skipped=0
status=0
skip_notes=()
logs=build/test-logs
mkdir -p "$logs"

step() { echo; echo "=== $* (at $((SECONDS / 60))m$((SECONDS % 60))s)"; }
skip() { echo "skipped: $*"; skip_notes+=("$*"); skipped=$((skipped + 1)); }
fail_step() { echo "$*"; failed=$((failed + 1)); status=1; }

build_preset() {
  local preset=$1
  { cmake --preset "$preset" >"$logs/$preset-configure.log" 2>&1 &&
    cmake --build --preset "$preset" -j 2 >"$logs/$preset-build.log" 2>&1; } && return 0
  tail -n 40 "$logs/$preset-configure.log" "$logs/$preset-build.log" 2>/dev/null
  fail_step "$preset: build failed"
  return 1
}

# Runs one preset's tests (optional further words wrap ctest: xvfb-run for
# the Windows builds) into its log, quietly.
test_preset() {
  local preset=$1; shift
  "$@" ctest --preset "$preset" >"$logs/$preset-ctest.log" 2>&1
}

# Shows a preset's failures and skips and adds its counts to the totals.
count_preset() {
  local preset=$1 line total bad skips
  grep -E 'tests passed|\*\*\*|\(Skipped\)' "$logs/$preset-ctest.log"
  line=$(grep -E '[0-9]+ tests failed out of [0-9]+' "$logs/$preset-ctest.log" | tail -n 1)
  if [ -z "$line" ]; then
    tail -n 20 "$logs/$preset-ctest.log"
    fail_step "$preset: ctest ran no test"
    return
  fi
  bad=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
  skips=$(grep -cE '^[[:space:]]+[0-9]+ - .*\(Skipped\)$' "$logs/$preset-ctest.log")
  passed=$((passed + total - bad - skips)); failed=$((failed + bad)); skipped=$((skipped + skips))
  echo "$preset: $((total - bad - skips)) passed, $bad failed, $skips skipped"
  [ "$bad" = 0 ] || status=1
}

run_preset() {
  local preset=$1; shift
  step "preset $preset"
  build_preset "$preset" || return
  test_preset "$preset" "$@"
  count_preset "$preset"
}

arch32=$(sh tools/arch32.sh)
on_display() { xvfb-run -a -s "-screen 0 1280x1024x24" "$@"; }

run_preset native
run_preset native-sanitize
run_preset native-tsan

# Any input that takes more than FUZZ_TIMEOUT seconds fails the run: a load
# that grows faster than the file shows up there.
step "fuzzing the settings reader and store (about 70 s)"
if FUZZ_SECONDS=${FUZZ_SECONDS:-60} FUZZ_TIMEOUT=${FUZZ_TIMEOUT:-10} bash tests/fuzz/run.sh; then
  passed=$((passed + 1))
else
  fail_step "fuzz: failed"
fi

# The product's 32-bit code paths (x87 doubles, the i686 SSE2 loops) as a
# static Linux program: natively, or under qemu-i386-static.
if [ "$arch32" = none ]; then
  step "preset linux32"
  skip "linux32 (the 32-bit core tests): this machine runs no 32-bit program and has no qemu-i386-static"
else
  run_preset linux32
fi

# The Windows-side tests in the x86-64 build of the same sources: 64-bit
# Wine runs on every machine. Wine needs a display for windows; a virtual
# one serves each run. (One build at a time: side by side, the load makes
# a window's opening look like the caption flash of one already open.)
run_preset win64 on_display

# The shipped i686 build: always built (the release compares its DLL), its
# tests run under 32-bit Wine where 32-bit programs run natively; under
# emulation Wine takes hours and its timings mean nothing.
if [ "$arch32" = native ]; then
  run_preset win32 on_display
else
  step "preset win32"
  build_preset win32 &&
    skip "win32 (the i686 DLL's tests under 32-bit Wine): this machine runs no 32-bit program natively; the win64 build ran the same tests"
fi

# The release zip from a clean build folder of its own (its DLL must be the
# bytes the Windows tests ran); each of its checks counts, and so do the
# checks' own tests, as one.
step "release zip and its checks (one to two minutes)"
bash tools/release.sh --dist build/release-dist --compare-with build/win32 >"$logs/release.log" 2>&1
release_rc=$?
grep -E '^(ok|FAIL|skipped): ' "$logs/release.log"
passed=$((passed + $(grep -c '^ok: ' "$logs/release.log")))
while IFS= read -r note; do skip_notes+=("release: ${note#skipped: }"); skipped=$((skipped + 1)); done \
  < <(grep '^skipped: ' "$logs/release.log")
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
case $arch32 in
  native) echo "32-bit code: ran natively (linux32 natively, win32 under 32-bit Wine, the release smoke run; win64 as well)" ;;
  emulated) echo "32-bit code: ran under emulation only (linux32 under qemu-i386-static${ZVK_EMULATE_32BIT:+, by ZVK_EMULATE_32BIT}); win32 under Wine and the release smoke run skipped; the Windows-side tests ran in win64" ;;
  *) echo "32-bit code: did not run (no 32-bit programs, no qemu-i386-static); linux32, win32 under Wine and the release smoke run skipped; the Windows-side tests ran in win64" ;;
esac
for note in "${skip_notes[@]}"; do echo "  skipped: $note"; done
echo "total: $passed passed, $failed failed, $skipped skipped, in $((SECONDS / 60))m$((SECONDS % 60))s"
exit $status
