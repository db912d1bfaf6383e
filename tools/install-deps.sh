#!/usr/bin/env bash
# Installs with apt-get whatever the build and the tests need and this
# machine lacks.  Usage: tools/install-deps.sh [native|all]
#   native  compilers, CMake, GoogleTest (enough to build, run and package
#           on Linux)
#   all     also lintian (the Debian package must pass it), the Windows
#           cross compiler, Wine and groff (default)
set -euo pipefail
what=${1:-all}
missing=()
have() { command -v "$1" >/dev/null 2>&1; }
have cmake || missing+=(cmake)
have g++ || missing+=(g++)
have make || missing+=(make)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
# jbbtool's tests: the stats page must parse as XML and render in headless
# Chromium.
have xmllint || missing+=(libxml2-utils)
have chromium || missing+=(chromium)
# ... and its JSON output must validate against its schemas, with the
# system's Python (not a pyenv one) and its jsonschema module.
/usr/bin/python3 -c 'import jsonschema' >/dev/null 2>&1 || missing+=(python3-jsonschema)
if [ "$what" = all ]; then
  have lintian || missing+=(lintian)
  have x86_64-w64-mingw32-g++-posix || missing+=(g++-mingw-w64-x86-64-posix)
  have wine64 || [ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
  have groff || missing+=(groff-base)  # the man pages as text in the zip
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
