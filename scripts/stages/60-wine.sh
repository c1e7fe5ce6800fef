# The real executables of both mingw-w64 builds (scripts/stages/30-mingw.sh) end to end under Wine,
# against the virtual Quadrilux Pro behind our Wine MIDI driver.
set -euo pipefail
cd "$QLX_ROOT"
tests/wine/run.sh
