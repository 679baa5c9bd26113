#!/bin/sh
# Builds the release artefacts the dist.* tests look at: build.sh NATIVE [WINBUILD]
# (the installer only where makensis is installed; dist.windows says so).
set -e
# Run from ctest under `make test`, this inherits make's job-server words, whose
# pipe numbers mean nothing (or another file) here: build on our own.
unset MAKEFLAGS MFLAGS MAKELEVEL
cmake --build "$1" --target qimbo_deb
[ -n "${2:-}" ] || exit 0
if command -v makensis >/dev/null; then
  cmake --build "$2" --target qimbo_dist
else
  echo "makensis (Debian package nsis) is missing: building the zip only"
  cmake --build "$2" --target qimbo_zip
fi
