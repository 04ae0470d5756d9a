#!/usr/bin/env bash
# What can be checked of QvUnInstall.exe without running it: a GUI program
# of the expected architecture, with its progress dialog, version resource
# and a manifest naming that architecture and asking for an administrator,
# importing nothing but DLLs that every Windows has.
#   tools/check-pe.sh EXE x86|amd64
set -euo pipefail
exe=$1 arch=$2
case "$arch" in
  x86) tools=i686-w64-mingw32 format=pei-i386 magic="010b	(PE32)" kind="PE32 i386" ;;
  amd64) tools=x86_64-w64-mingw32 format=pei-x86-64 magic="020b	(PE32+)" kind="PE32+ x86-64" ;;
  *) echo "check-pe: the architecture is x86 or amd64, not '$arch'" >&2; exit 2 ;;
esac
# Statically linked: the C runtime is msvcrt, which every Windows has.
system_dlls="advapi32.dll comctl32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll shell32.dll
             shfolder.dll user32.dll userenv.dll version.dll"

faults=()
headers=$("$tools-objdump" -p "$exe" 2>&1) || faults+=("$headers")
resources=$("$tools-windres" -i "$exe" -O rc 2>&1) || faults+=("$resources")

grep -q "file format $format\$" <<<"$headers" || faults+=("not $format")
grep -qF "Magic			$magic" <<<"$headers" || faults+=("not $kind")
grep -qF "Subsystem		00000002	(Windows GUI)" <<<"$headers" || faults+=("not a GUI program")
imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers")
for dll in $imports; do
  grep -qw -- "${dll,,}" <<<"$system_dlls" || faults+=("imports $dll")
done
grep -q "^129 DIALOG " <<<"$resources" || faults+=("no dialog 129")
grep -q '"OriginalFilename", "QvUnInstall.exe"' <<<"$resources" || faults+=("no version resource")
manifest=$(sed -n '/^1 24 \/\* RT_MANIFEST \*\//,/^END/p' <<<"$resources")
[ -n "$manifest" ] || faults+=("no manifest")
grep -qF "processorArchitecture=\"\"$arch\"\"" <<<"$manifest" || faults+=("the manifest does not name $arch")
grep -qF 'level=""requireAdministrator""' <<<"$manifest" || faults+=("the manifest does not ask for an administrator")

if [ "${#faults[@]}" -ne 0 ]; then
  printf 'check-pe: %s:\n' "$exe" >&2
  printf '  %s\n' "${faults[@]}" >&2
  exit 1
fi
echo "check-pe: $exe: $kind GUI program, dialog 129, version resource, manifest for $arch asking for an" \
  "administrator, imports only system DLLs ($(echo $imports))"
