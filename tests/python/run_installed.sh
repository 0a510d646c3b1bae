#!/usr/bin/env bash
# Installs the build tree to a prefix of its own and imports semhost from
# there, as the README says: the installed package must run the installed
# semhost, isolated and in process.
# Usage: run_installed.sh BUILD_DIR WORK_DIR PYTHON
set -euo pipefail
build="$1" work="$2" python="$3"
rm -rf "$work"
cmake --install "$build" --prefix "$work" >/dev/null
cd "$work"  # not a folder that holds a semhost package of its own
PYTHONPATH="$work/lib/python3/dist-packages" "$python" - "$work" "$build/examples/gain/Gain.sem" <<'PY'
import os, sys
import numpy as np
import semhost
from semhost import program
prefix, gain = sys.argv[1], sys.argv[2]
assert semhost.__file__.startswith(os.path.join(prefix, "lib/python3/dist-packages/semhost/")), semhost.__file__
assert program.program() == os.path.join(prefix, "bin", "semhost"), program.program()
x = np.arange(12, dtype=np.float32).reshape(2, 6)
for isolated in (True, False):
    y = semhost.load(gain, isolated=isolated).render(x, set={"Gain": 2})
    assert np.array_equal(y, 2 * x), (isolated, y)
print("installed semhost package OK:", semhost.__file__)
PY
