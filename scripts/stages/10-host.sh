# Host build (g++) and every unit and scenario test on the virtual clock.
set -euo pipefail
cd "$QLX_ROOT"
start=$(date +%s)
cmake --preset host >/dev/null
cmake --build --preset host -j "$QLX_JOBS"
echo "--- host: configured and built in $(( $(date +%s) - start )) s"
ctest --preset host -j "$QLX_JOBS"
