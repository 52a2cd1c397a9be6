#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing.
# As root it runs apt-get; otherwise it says exactly what to install.
# Extra package names given as arguments are needed too.
set -euo pipefail
need=(cmake make g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev libsimdjson-dev libelf-dev libxml2-dev libzip-dev libssl-dev binutils
  lcov libxml2-utils python3 python3-junitparser
  libclang-14-dev llvm-14-dev clang-14 "$@")
missing=()
for pkg in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -eq 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
else
  echo "missing packages: ${missing[*]}" >&2
  echo "install them with: sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
