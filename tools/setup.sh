#!/usr/bin/env bash
# Installs what building, testing and the demo need on Debian, and nothing
# when it is all there already. Safe to run again and again.
set -euo pipefail

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev googletest libbenchmark-dev
  g++-mingw-w64-i686 mingw-w64-tools
  wine wine32:i386 xvfb xauth locales
  ffmpeg
)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  fresh_arch=1
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ] || [ -n "${fresh_arch:-}" ]; then
  echo "setup: installing ${missing[*]:-(package lists for i386)}"
  # A mirror in mid-sync fails one index now and then: try again, and go on
  # with what was fetched (the install below says if something is missing).
  for attempt in 1 2 3; do
    if ! as_root apt-get update -qq 2>&1 | grep -E '^(E|W):' >&2; then
      break
    fi
    echo "setup: package lists incomplete (attempt $attempt), retrying" >&2
    sleep 15
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
fi

# Wine shows the Russian texts only with code page 1251, which this locale gives.
if ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
  echo "setup: generating the ru_RU.UTF-8 locale"
  as_root sh -c "grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' >> /etc/locale.gen; locale-gen >/dev/null"
fi
