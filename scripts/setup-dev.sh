#!/usr/bin/env bash
# Contributor setup: what the C++ tests, the fuzzer and the Python tests
# need. From Debian: GoogleTest, clang (for the fuzzer), nlohmann/json's CMake
# package (for the C++ libraries built without Python) and Xvfb (a display for
# the render_mode="human" window test); the rest from PyPI
# (requirements-dev.txt). scripts/test.sh runs it first. Safe to run again: it
# skips what is already there. A Python user needs none of this:
# `pip install ".[rl]"` in a virtualenv is enough (README.md).
set -euo pipefail
export PIP_ROOT_USER_ACTION=ignore PIP_DISABLE_PIP_VERSION_CHECK=1
cd "$(dirname "$0")/.."

debian_packages=(libgtest-dev clang libclang-rt-14-dev nlohmann-json3-dev xvfb iproute2)
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
