# Both Windows targets, warnings as errors.
set -euo pipefail
cd "$QLX_ROOT"
for preset in mingw-i686 mingw-x86_64; do
  start=$(date +%s)
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$QLX_JOBS"
  echo "--- $preset: configured and built in $(( $(date +%s) - start )) s"
done
