# Host build (g++) and every unit and scenario test on the virtual clock.
set -euo pipefail
cd "$QLX_ROOT"
cmake --preset host >/dev/null
cmake --build --preset host -j "$QLX_JOBS"
ctest --preset host -j "$QLX_JOBS"
