#!/usr/bin/env bash
# Makes the release packages (scripts/package.sh) and tests them as users take them
# (tests/install/package_test.py): archive contents against the README, the Debian package
# unpacked into a scratch root and checked by lintian, the wheel in a fresh virtual environment.
#
# Usage: scripts/package_test.sh [--no-windows] [--no-wheel]
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$ROOT/scripts/package.sh" "$@"
/usr/bin/python3 "$ROOT/tests/install/package_test.py" --dist "$ROOT/dist" --source-dir "$ROOT" \
  --sample-dir "$ROOT/build/sample" --work-dir "$ROOT/build/package_test" "$@"
