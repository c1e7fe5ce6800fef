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
# The simulated driver library as the maker builds it (MSVC C++ ABI): the machine of its target,
# KERNEL32 alone, and the three entries under their plain names, as the executable looks them up.
for preset in mingw-i686 mingw-x86_64; do
  dll="build/$preset/sim/shlk/qlx_shlk_msvc.dll"
  [ -f "$dll" ] || { echo "missing $dll (stage 30 builds it)"; exit 1; }
  /usr/bin/python3 - "$dll" "${preset#mingw-}" <<'PY'
import sys
import pefile

path, arch = sys.argv[1], sys.argv[2]
pe = pefile.PE(path)
machine = {"i686": 0x14C, "x86_64": 0x8664}[arch]
imports = sorted(e.dll.decode().lower() for e in pe.DIRECTORY_ENTRY_IMPORT)
exports = sorted(s.name.decode() for s in pe.DIRECTORY_ENTRY_EXPORT.symbols if s.name)
failures = []
if pe.FILE_HEADER.Machine != machine:
    failures.append("machine %#x" % pe.FILE_HEADER.Machine)
if imports != ["kernel32.dll"]:
    failures.append("imports %s" % imports)
if exports != ["SHLKCreate", "SHLKDestroy", "SHLKGetVersion"]:
    failures.append("exports %s" % exports)
print(("FAIL  " if failures else "ok    ") + path + ": " + ("; ".join(failures) or "KERNEL32 only, SHLK exports"))
sys.exit(1 if failures else 0)
PY
done
