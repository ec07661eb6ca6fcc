#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing.
# Usage: scripts/install-deps.sh [EXTRA-PACKAGE...]
set -euo pipefail

# clang-format and clang-tidy are the checks of scripts/check-format.sh and scripts/tidy.sh;
# the browser tests add chromium (scripts/browser-test.sh).
packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev
  libbenchmark-dev libcli11-dev nlohmann-json3-dev pkg-config dpkg-dev xz-utils clang-format
  clang-tidy "$@")

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing missing packages: ${missing[*]}" >&2
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The HTTP server of `wassetup ui` on every platform: cpp-httplib as the single header that its
# Debian source package holds (Debian's binary package is a compiled Linux library), with
# Debian's patches applied. It goes into a cache folder outside the repository, where CMake
# looks for it (QIM_HTTPLIB_DIR); the system's package sources are left alone: the source is
# fetched through a private sources list and package lists of its own.
httplib_version=0.11.4+ds-1+deb12u1
httplib_dir=${QIM_HTTPLIB_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/qimplugin/cpp-httplib-$httplib_version}
if [ ! -f "$httplib_dir/httplib.h" ]; then
  echo "Fetching the source of cpp-httplib $httplib_version into $httplib_dir" >&2
  fetch=$(mktemp -d "${TMPDIR:-/tmp}/httplib-source.XXXXXX")
  trap 'rm -rf "$fetch"' EXIT
  mkdir -p "$fetch/lists/partial"
  echo "deb-src http://deb.debian.org/debian bookworm main" >"$fetch/sources.list"
  apt_private=(-q -o "Dir::Etc::SourceList=$fetch/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o "Dir::State::Lists=$fetch/lists" -o "Dir::Cache=$fetch/cache")
  # apt checks the files against the signed release; dpkg-source's own check of the .dsc
  # signature lacks the Debian keyring and only warns. What they say is shown on failure.
  if ! (cd "$fetch" && apt-get "${apt_private[@]}" update &&
    apt-get "${apt_private[@]}" source --download-only "cpp-httplib=$httplib_version" &&
    dpkg-source -x ./*.dsc source) >"$fetch/log" 2>&1; then
    cat "$fetch/log" >&2
    echo "install-deps: could not fetch the source of cpp-httplib $httplib_version" >&2
    exit 1
  fi
  mkdir -p "$httplib_dir"
  cp "$fetch/source/httplib.h" "$fetch/source/LICENSE" "$httplib_dir/"
fi
