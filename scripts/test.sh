#!/usr/bin/env bash
# Sets up, builds and runs every test: the release build with warnings as
# errors, the Python package installed in a fresh virtual environment and its
# tests, the format check and clang-tidy, the same tests under
# AddressSanitizer + UndefinedBehaviorSanitizer, then each fuzz target for a
# bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."

FUZZ_SECONDS="${KAVEL_FUZZ_SECONDS:-30}"

bash scripts/install-deps.sh

echo "== release build, warnings as errors"
cmake --preset ci
cmake --build --preset ci
ctest --preset ci -j2

echo "== Python package: pip install . in a fresh virtual environment, then pytest"
rm -rf build/python-venv
/usr/bin/python3 -m venv --system-site-packages build/python-venv
build/python-venv/bin/python -m pip install --no-index --disable-pip-version-check \
  --config-settings build-dir=build/python .
KAVEL_CLI=build/ci/cli/kavel-cli build/python-venv/bin/python -m pytest -q -p no:cacheprovider tests/python

echo "== format check and clang-tidy"
bash scripts/lint.sh build/ci

echo "== Debian package"
bash scripts/check-package.sh build/ci

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
cmake --preset asan
cmake --build --preset asan
ctest --preset asan -j2

echo "== fuzzing, ${FUZZ_SECONDS} s per target"
cmake --preset fuzz
cmake --build --preset fuzz
bash scripts/run-fuzzers.sh build/fuzz "$FUZZ_SECONDS"

echo "== all tests passed"
