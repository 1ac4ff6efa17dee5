#!/bin/sh
# Python bindings: `pip install ./python` works without any package index,
# and the installed copy loads the built library, wraps every export and runs
# the example against the simulator. (ctest runs the whole binding suite from
# the source tree.) Argument: the build directory (default build-release).
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-release}
echo "== Python bindings: pip install ./python offline, then the installed package's tests"

python=""
for candidate in "$(command -v python3 || true)" /usr/bin/python3; do
  if [ -n "$candidate" ] && "$candidate" -c "import pytest" 2>/dev/null &&
     "$candidate" -m pip --version >/dev/null 2>&1; then
    python=$candidate
    break
  fi
done
if [ -z "$python" ]; then
  echo "ci/python.sh: no python3 with pip and pytest (scripts/setup-deps.sh installs them)" >&2
  exit 1
fi

site=$(mktemp -d)
trap 'rm -rf "$site"' EXIT
"$python" -m pip install --quiet --no-index --root-user-action=ignore --target "$site" "$top/python"
WEXO_LIBRARY="$build/libWEXO.so.1" WEXO_SIM="$build/sim/wexo-sim" PYTHONPATH="$site" \
  PYTHONDONTWRITEBYTECODE=1 "$top/tests/support/netns-run.sh" "$python" -m pytest -q -p no:cacheprovider \
  "$top/python/tests/test_bindings.py" "$top/python/tests/test_example.py"
