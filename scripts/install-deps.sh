#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail
pkgs=(cmake make g++ googletest libgtest-dev libbenchmark-dev libsqlite3-dev libsodium-dev libpq-dev postgresql
      mingw-w64 g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth x11-utils xdotool
      fonts-wqy-microhei fonts-wine imagemagick fontconfig fp-utils python3 bc
      clang libclang-rt-14-dev llvm iproute2 unicode-data)
# The releases (make dist, make deb) and their tests.
pkgs+=(nsis dpkg-dev lintian file systemd)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "install-deps: installing ${missing[*]}"
SUDO=; [ "$(id -u)" -eq 0 ] || SUDO=sudo
$SUDO apt-get update -qq
# dpkg without a sync after every file (a machine that dies mid-install is set
# up again anyway) and without a manual-page index: a fresh machine is ready sooner.
echo 'man-db man-db/auto-update boolean false' | $SUDO debconf-set-selections 2>/dev/null || true
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
  -o Dpkg::Options::=--force-unsafe-io "${missing[@]}" >/dev/null
