# Host build with AddressSanitizer and UndefinedBehaviorSanitizer (clang), same tests.
set -euo pipefail
cd "$QLX_ROOT"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$QLX_JOBS"
ctest --preset asan -j "$QLX_JOBS"
