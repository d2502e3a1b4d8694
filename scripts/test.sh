#!/usr/bin/env bash
# Runs every test: the C++ engine and stadium tests (plain and under
# AddressSanitizer + UndefinedBehaviorSanitizer), then the Python tests
# against the freshly installed module.
set -euo pipefail
export PIP_ROOT_USER_ACTION=ignore PIP_DISABLE_PIP_VERSION_CHECK=1
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
python=$(command -v python3)

run_cpp_suite() {  # build dir, extra cmake args...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DVEXLO_BUILD_MODULE=OFF -DVEXLO_BUILD_TESTS=ON \
    -DPython_EXECUTABLE="$python" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure
}

echo "== C++ tests"
run_cpp_suite build/cpp -DCMAKE_BUILD_TYPE=Release
echo "== C++ tests under AddressSanitizer and UBSan"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_cpp_suite build/cpp-sanitize -DCMAKE_BUILD_TYPE=Debug -DVEXLO_SANITIZE=ON

echo "== Python tests"
python3 -m pip install -q --disable-pip-version-check --no-build-isolation .
python3 -m pytest -q tests/python
