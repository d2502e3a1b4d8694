#!/usr/bin/env bash
# Installs what the build and the tests need: GoogleTest, clang (for the
# fuzzer) and nlohmann/json's CMake package (for the C++ libraries built
# without Python) from Debian, the rest from PyPI. Safe to run again: it skips what is
# already there.
set -euo pipefail
export PIP_ROOT_USER_ACTION=ignore PIP_DISABLE_PIP_VERSION_CHECK=1
cd "$(dirname "$0")/.."

debian_packages=(libgtest-dev clang libclang-rt-14-dev nlohmann-json3-dev iproute2)
missing=()
for pkg in "${debian_packages[@]}"; do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then apt=(apt-get); else apt=(sudo apt-get); fi
  "${apt[@]}" update -qq
  DEBIAN_FRONTEND=noninteractive "${apt[@]}" install -y -qq "${missing[@]}" >/dev/null
fi

python3 -m pip install -q --disable-pip-version-check -r requirements-dev.txt
