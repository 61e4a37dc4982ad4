#!/usr/bin/env bash
# Installs what building, testing and the demo need on Debian, and nothing
# when it is all there already. Safe to run again and again.
set -euo pipefail

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

packages=(
  cmake ninja-build g++ g++-multilib clang libclang-rt-14-dev googletest libbenchmark-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools
  wine wine32:i386 wine64 xvfb xauth locales
  qemu-user-static
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
    update_log=$(as_root apt-get update -qq 2>&1) || true
    problems=$(grep -E '^(E|W):' <<<"$update_log" || true)
    [ -z "$problems" ] && break
    echo "$problems" >&2
    [ "$attempt" = 3 ] && break
    echo "setup: package lists incomplete (attempt $attempt), retrying" >&2
    sleep 15
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    install=(env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends)
    if ! as_root "${install[@]}" "${missing[@]}" >/dev/null; then
      # Without one suite's i386 index, i386 libraries cannot match the
      # versions of their installed amd64 twins from that suite; the release
      # suite has both architectures at one version.
      release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
      [ -n "$release" ] || { echo "setup: install failed and no release codename in /etc/os-release" >&2; exit 1; }
      echo "setup: install failed; retrying with $release as the default release" >&2
      as_root "${install[@]}" -o "APT::Default-Release=$release" "${missing[@]}" >/dev/null
    fi
  fi
fi

# Wine shows the Russian texts only with code page 1251, which this locale gives.
if ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
  echo "setup: generating the ru_RU.UTF-8 locale"
  as_root sh -c "grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' >> /etc/locale.gen; locale-gen >/dev/null"
fi
