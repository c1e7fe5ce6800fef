# Proves from both Windows executables themselves: resources, GUI subsystem, system imports only.
set -euo pipefail
cd "$QLX_ROOT"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The resources as windres compiles app.rc, which is what the host build's table is made from.
x86_64-w64-mingw32-windres -Ires -O res -i res/app.rc -o "$work/app.res"
for preset in mingw-i686 mingw-x86_64; do
  exe="build/$preset/QuadriluxProUpdate.exe"
  [ -f "$exe" ] || { echo "missing $exe (stage 30 builds it)"; exit 1; }
  # Debian's python3-pefile lives with the system interpreter.
  /usr/bin/python3 tools/check_pe.py "$exe" res "$work/app.res"
done
