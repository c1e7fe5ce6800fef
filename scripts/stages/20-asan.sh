# Host build with AddressSanitizer and UndefinedBehaviorSanitizer (clang), same tests.
set -euo pipefail
cd "$QLX_ROOT"
start=$(date +%s)
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$QLX_JOBS"
echo "--- asan: configured and built in $(( $(date +%s) - start )) s"
ctest --preset asan -j "$QLX_JOBS"
