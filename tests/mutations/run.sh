#!/usr/bin/env bash
# Mutation check of the guard tests: each patch here brings one fault back;
# its guard test must fail with it. Applies each patch in turn to one
# scratch copy of the tree, builds only what the guard needs (incremental,
# one build folder per preset, reused), runs the guard, reverts the patch,
# and prints a table. See tests/mutations/README.md.
#
#   bash tests/mutations/run.sh [--baseline] [patch...]
#
# --baseline runs each guard on the unpatched copy instead: every guard
# must pass there, or its "caught" means nothing.
set -uo pipefail
# Read whole before it runs: the script may be edited while it runs.
{
top=$(cd "$(dirname "$0")/../.." && pwd)
here=$top/tests/mutations
work=${MUTATION_DIR:-$top/build/mutations}
limit=${MUTATION_TIMEOUT:-600}
jobs=${MUTATION_JOBS:-2}
display=(xvfb-run -a -s "-screen 0 1280x1024x24")

baseline=0
if [ "${1:-}" = --baseline ]; then
  baseline=1
  shift
fi
patches=("$@")
[ ${#patches[@]} -gt 0 ] || patches=("$here"/*.patch)

src=$work/src
logs=$work/logs
mkdir -p "$src" "$logs"
sgit() { git -C "$src" -c user.name=mutations -c user.email=mutations@localhost "$@"; }

# The scratch copy follows the working tree (committed or not). Only files
# whose content differs are copied, so the build folders stay incremental,
# and a file a patch touched keeps a newer time than the objects built from
# the patched text.
[ -d "$src/.git" ] || sgit init -q
git -C "$top" ls-files -z -co --exclude-standard | python3 -c '
import os, sys
top, src = sys.argv[1:3]
names = set(n for n in sys.stdin.buffer.read().decode().split("\0") if n)
for name in names:
    a, b = os.path.join(top, name), os.path.join(src, name)
    if not os.path.isfile(a):
        continue
    data = open(a, "rb").read()
    if os.path.isfile(b) and open(b, "rb").read() == data:
        continue
    os.makedirs(os.path.dirname(b), exist_ok=True)
    open(b, "wb").write(data)
    os.chmod(b, os.stat(a).st_mode & 0o777)
for root, dirs, files in os.walk(src):
    rel = os.path.relpath(root, src)
    if rel == "." :
        dirs[:] = [d for d in dirs if d not in (".git", "build")]
    for f in files:
        name = os.path.normpath(os.path.join(rel, f))
        if name not in names:
            os.remove(os.path.join(root, f))
' "$top" "$src" || exit 1
sgit add -A && { sgit diff --cached --quiet || sgit commit -q -m "tree under test"; }

arch32=$(sh "$top/tools/arch32.sh")
start_all=$SECONDS
rows=()
caught_all=1

header() { sed -n "s/^# $1: *//p" "$2" | head -n 1; }

# The guard's program: the target's output anywhere in the build folder.
program_of() {
  find "$src/build/$1" -type f \( -name "$2" -o -name "$2.exe" \) -not -path '*/CMakeFiles/*' | head -n 1
}

# Runs a guard; prints its outcome word on the last line of the log.
run_guard() {
  local preset=$1 target=$2 log=$3; shift 3
  local build=$src/build/$preset wrap=() status
  case $preset in win32 | win64) wrap=("${display[@]}") ;; esac
  if [ "$target" = ctest ]; then
    (cd "$src" && timeout -k 10 "$limit" "${wrap[@]}" ctest --preset "$preset" -R "$@") >>"$log" 2>&1
    status=$?
    if grep -q 'No tests were found' "$log"; then echo none; return; fi
    if [ $status = 0 ] && grep -qE '\(Skipped\)' "$log" && ! grep -qE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed' "$log"; then
      echo skipped; return
    fi
  else
    local exe
    exe=$(program_of "$preset" "$target")
    if [ -z "$exe" ]; then echo none; return; fi
    case $preset in
      win32 | win64) (cd "$src" && env -- "${guard_env[@]}" timeout -k 10 "$limit" "${wrap[@]}" "$build/wine-run" "$exe" "$@") >>"$log" 2>&1 ;;
      *) (cd "$src" && env -- "${guard_env[@]}" timeout -k 10 "$limit" "$exe" "$@") >>"$log" 2>&1 ;;
    esac
    status=$?
    # A guard that hung leaves its Wine programs behind: end this prefix's.
    if [ $status = 124 ] && [ -n "${wrap[*]}" ]; then
      local prefix
      prefix=$(sed -n 's/^export WINEPREFIX="\${WINEPREFIX:-\(.*\)}"$/\1/p' "$build/wine-run")
      for kv in "${guard_env[@]}"; do [ "${kv%%=*}" = WINEPREFIX ] && prefix=${kv#*=}; done
      WINEPREFIX=$prefix wineserver -k
    fi
    if [ $status = 0 ] && grep -q '^\[  PASSED  \] 0 tests' "$log"; then echo none; return; fi
    if [ $status = 0 ] && grep -q '^\[  SKIPPED \]' "$log" && ! grep -q '^\[       OK \]' "$log"; then
      echo skipped; return
    fi
  fi
  case $status in
    0) echo passed ;;
    124) echo timeout ;;
    *) echo failed ;;
  esac
}

for patch in "${patches[@]}"; do
  name=$(basename "$patch" .patch)
  log=$logs/$name.log
  [ $baseline = 0 ] || log=$logs/$name.baseline.log
  : >"$log"
  t0=$SECONDS
  fault=$(header Fault "$patch")
  guard=$(header Guard "$patch")
  read -r -a words <<<"$guard"
  preset=${words[0]:-}
  target=${words[1]:-}
  args=("${words[@]:2}")
  # Variables the guard runs with; a relative path is from the tree's top.
  guard_env=()
  for kv in $(header Env "$patch"); do
    value=${kv#*=}
    [ "${value#/}" != "$value" ] || value=$src/$value
    guard_env+=("${kv%%=*}=$value")
  done
  build_targets=$(header Build "$patch")
  [ -n "$build_targets" ] || build_targets=$target
  result=
  if [ ! -f "$patch" ]; then
    result="no such patch"
  elif [ -z "$preset" ] || [ -z "$target" ]; then
    result="no guard line"
  elif [ "$preset" = win32 ] && [ "$arch32" != native ]; then
    result="guard cannot run here (no 32-bit programs)"
  elif [ $baseline = 0 ] && ! sgit apply --check "$patch" >>"$log" 2>&1; then
    result="does not apply"
  elif [ ! -f "$src/build/$preset/build.ninja" ] && ! (cd "$src" && cmake --preset "$preset") >>"$log" 2>&1; then
    result="configure failed"
  else
    [ $baseline = 1 ] || sgit apply "$patch" >>"$log" 2>&1
    if ! (cd "$src" && cmake --build --preset "$preset" -j "$jobs" --target $build_targets) >>"$log" 2>&1; then
      result="build failed"
    else
      echo "--- guard: $guard" >>"$log"
      outcome=$(run_guard "$preset" "$target" "$log" "${args[@]}")
      if [ $baseline = 1 ]; then
        case $outcome in
          passed) result="guard passes" ;;
          failed) result="GUARD FAILS UNPATCHED" ;;
          timeout) result="GUARD TIMES OUT UNPATCHED" ;;
          skipped) result="guard cannot run here (skipped)" ;;
          none) result="guard ran no test" ;;
        esac
      else
        case $outcome in
          failed) result="caught" ;;
          timeout) result="caught (timed out after ${limit} s)" ;;
          passed) result="NOT CAUGHT" ;;
          skipped) result="guard cannot run here (skipped)" ;;
          none) result="guard ran no test" ;;
        esac
      fi
    fi
    if [ $baseline = 0 ]; then
      sgit apply -R "$patch" >>"$log" 2>&1
      if [ -n "$(sgit status --porcelain)" ]; then
        echo "revert left changes; reset" >>"$log"
        sgit checkout -q -- . && sgit clean -fdq
      fi
    fi
  fi
  [ "${result%% *}" = caught ] || [ "$result" = "guard passes" ] || caught_all=0
  secs=$((SECONDS - t0))
  echo "$name: $result (${secs} s)" >&2
  rows+=("| $name | $fault | \`$guard\` | $result | $secs |")
done

echo
echo "| patch | fault | guard | result | s |"
echo "|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
echo
echo "${#patches[@]} patches in $((SECONDS - start_all)) s; logs in $logs"
[ $caught_all = 1 ]
exit
}
