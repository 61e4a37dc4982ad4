#!/usr/bin/env bash
# Makes the zip users download, dist/ZVK_Gamma-<version>-win32.zip: the
# stripped DLL, the guides in Russian and English, and SHA256SUMS. Beside it
# go the unstripped DLL and the link map (to resolve a crash address a user
# reports) and a note of the commit and the tools that made it.
#
# Builds in a clean folder of its own, checks the DLL, runs it in the
# stand-in host under Wine, and packages only if all of that passes. The
# same commit built with the same Debian packages gives the same zip, byte
# for byte, wherever the tree lies and whenever it runs. On a machine that
# runs no 32-bit program (tools/arch32.sh) the smoke run cannot run: the zip
# is still made and checked otherwise, but its buildinfo says it is not for
# users; a release for users is made where the smoke run ran.
#
#   --dist DIR          where the zip and its companions go (default dist)
#   --compare-with DIR  a win32 build folder whose ZVK_Gamma.dll must be the
#                       same bytes as this build's (the test command passes
#                       build/win32: the DLL the tests ran is the one shipped)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

dist=dist
compare=""
while [ $# -gt 0 ]; do
  case $1 in
    --dist) dist=$2; shift 2 ;;
    --compare-with) compare=$2; shift 2 ;;
    -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
    *) echo "release: unknown argument $1" >&2; exit 2 ;;
  esac
done

bash tools/setup.sh

build=build/release
stage=$build/stage
smoke=$build/smoke
tool="python3 tools/release/release.py"
fail() { echo "release: $*; nothing packaged" >&2; exit 1; }

# The zip's times come from the commit, so they are the same on every run.
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release: note: the tree has uncommitted changes, so this zip is not the commit's"
  tree_state="with uncommitted changes"
else
  tree_state="clean"
fi

echo "== building ZVK_Gamma.dll and the stand-in host in $build (a clean folder)"
rm -rf "$build"
mkdir -p "$build"
if ! { cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
         -DCMAKE_BUILD_TYPE=Release -DZVK_BENCHMARKS=OFF &&
       cmake --build "$build" -j 2 --target ZVK_Gamma zvkhost; } >"$build/build.log" 2>&1; then
  tail -n 40 "$build/build.log"
  fail "the build failed (log: $build/build.log)"
fi

echo "== checking the DLL to be shipped"
unstripped=$build/plugin/ZVK_Gamma.dll
mkdir -p "$stage"
# strip puts the current time into the PE header unless it is given one:
# 0, as the linker leaves it.
SOURCE_DATE_EPOCH=0 i686-w64-mingw32-strip --strip-all -o "$stage/ZVK_Gamma.dll" "$unstripped"
version=$($tool version "$stage/ZVK_Gamma.dll")
[ -n "$version" ] || fail "the DLL has no product version"
name=ZVK_Gamma-$version-win32
i686-w64-mingw32-objdump -d --no-show-raw-insn "$unstripped" >"$build/ZVK_Gamma.asm"
$tool check-dll "$stage/ZVK_Gamma.dll" --unstripped "$unstripped" --version "$version" \
  --xp-imports tests/win32/xp_imports.txt --forbid "$top" \
  --disassembly "$build/ZVK_Gamma.asm" --map "$build/plugin/ZVK_Gamma.map" ||
  fail "the DLL failed its checks"
if [ -n "$compare" ]; then
  if cmp -s "$unstripped" "$compare/plugin/ZVK_Gamma.dll"; then
    echo "ok: ZVK_Gamma.dll: the same bytes as $compare/plugin/ZVK_Gamma.dll"
  else
    echo "FAIL: ZVK_Gamma.dll: differs from $compare/plugin/ZVK_Gamma.dll"
    fail "two builds of one tree gave different DLLs"
  fi
fi

# 32-bit Wine is a 32-bit Linux program; under emulation it is far too slow.
if [ "$(sh tools/arch32.sh)" = native ]; then
  echo "== smoke run: the stripped DLL in the stand-in host under Wine"
  $tool smoke-prepare "$smoke"
  cp "$build/host/zvkhost.exe" "$stage/ZVK_Gamma.dll" "$smoke/host/"
  rc=0
  (cd "$smoke/host" &&
   xvfb-run -a -s "-screen 0 1280x1024x24" "$top/$build/wine-run" zvkhost.exe ZVK_Gamma.dll ../smoke.zvk) \
    >"$smoke/host.log" 2>"$smoke/host.err" || rc=$?
  $tool smoke-check "$smoke" --log "$smoke/host.log" --rc "$rc" \
    --descriptor-expected tests/win32/host/descriptor.expected ||
    fail "the smoke run failed (host output: $smoke/host.log)"
  smoke_state="ran under 32-bit Wine and passed"
else
  echo "skipped: smoke run under 32-bit Wine: this machine runs no 32-bit program; this zip is not for users"
  smoke_state="NOT RUN (no 32-bit programs on the machine that made it): not for users"
fi

echo "== packaging"
$tool package --stage "$stage" --guides docs/guide --version "$version" --epoch "$epoch" \
  --zip "$build/$name.zip" || fail "the guides or the zip failed their checks"

mkdir -p "$dist"
rm -f "$dist/$name".*
cp "$build/$name.zip" "$dist/"
cp "$unstripped" "$dist/$name.debug.dll"
# The map names the module definition file by its full path.
sed "s|$top/||g" "$build/plugin/ZVK_Gamma.map" >"$dist/$name.map"
{
  echo "ZVK_Gamma $version for 32-bit Windows"
  echo "commit $(git rev-parse HEAD) ($tree_state), SOURCE_DATE_EPOCH=$epoch"
  echo "smoke run: $smoke_state"
  (cd "$dist" && sha256sum "$name.zip" "$name.debug.dll")
  echo "made with:"
  dpkg-query -W -f='  ${Package} ${Version}\n' g++-mingw-w64-i686-win32 g++-mingw-w64-i686-posix \
    binutils-mingw-w64-i686 mingw-w64-i686-dev cmake ninja-build python3 2>/dev/null || true
  echo "  Debian $(cat /etc/debian_version 2>/dev/null), zlib $(python3 -c 'import zlib; print(zlib.ZLIB_RUNTIME_VERSION)')"
} >"$dist/$name.buildinfo.txt"

echo
echo "release: $dist/$name.zip"
(cd "$dist" && sha256sum "$name.zip")
echo "beside it: $name.debug.dll (unstripped) and $name.map for crash addresses, $name.buildinfo.txt"
