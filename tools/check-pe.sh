#!/usr/bin/env bash
# What can be checked of QvUnInstall.exe or QvUninstCheck.exe without
# running it: a program of the expected architecture and subsystem, marked
# terminal-server aware (else a terminal server hands it a user's private
# Windows folder), with its version resource and a manifest naming that
# architecture and the rights it runs with, importing nothing but DLLs that
# every Windows has; QvUnInstall.exe also holds its progress dialog.
#   tools/check-pe.sh EXE x86|amd64
set -euo pipefail
exe=$1 arch=$2
case "$arch" in
  x86) tools=i686-w64-mingw32 format=pei-i386 magic="010b	(PE32)" kind="PE32 i386" ;;
  amd64) tools=x86_64-w64-mingw32 format=pei-x86-64 magic="020b	(PE32+)" kind="PE32+ x86-64" ;;
  *) echo "check-pe: the architecture is x86 or amd64, not '$arch'" >&2; exit 2 ;;
esac
name=$(basename "$exe")
case "$name" in
  QvUnInstall.exe) subsystem="00000002	(Windows GUI)" program="GUI program" level=requireAdministrator ;;
  QvUninstCheck.exe) subsystem="00000003	(Windows CUI)" program="console program" level=asInvoker ;;
  *) echo "check-pe: $name is neither QvUnInstall.exe nor QvUninstCheck.exe" >&2; exit 2 ;;
esac
# Statically linked: the C runtime is msvcrt, which every Windows has.
system_dlls="advapi32.dll comctl32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll shell32.dll
             shfolder.dll user32.dll userenv.dll version.dll"

faults=()
headers=$("$tools-objdump" -p "$exe" 2>&1) || faults+=("$headers")
resources=$("$tools-windres" -i "$exe" -O rc 2>&1) || faults+=("$resources")

grep -q "file format $format\$" <<<"$headers" || faults+=("not $format")
grep -qF "Magic			$magic" <<<"$headers" || faults+=("not $kind")
grep -qF "Subsystem		$subsystem" <<<"$headers" || faults+=("not a $program")
sed -n '/^DllCharacteristics/,/^[A-Z]/p' <<<"$headers" | grep -qw TERMINAL_SERVICE_AWARE ||
  faults+=("not marked terminal-server aware")
imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers")
for dll in $imports; do
  grep -qw -- "${dll,,}" <<<"$system_dlls" || faults+=("imports $dll")
done
if [ "$name" = QvUnInstall.exe ]; then
  grep -q "^129 DIALOG " <<<"$resources" || faults+=("no dialog 129")
fi
grep -q "\"OriginalFilename\", \"$name\"" <<<"$resources" || faults+=("no version resource")
manifest=$(sed -n '/^1 24 \/\* RT_MANIFEST \*\//,/^END/p' <<<"$resources")
[ -n "$manifest" ] || faults+=("no manifest")
grep -qF "processorArchitecture=\"\"$arch\"\"" <<<"$manifest" || faults+=("the manifest does not name $arch")
grep -qF "level=\"\"$level\"\"" <<<"$manifest" || faults+=("the manifest does not ask for $level")

if [ "${#faults[@]}" -ne 0 ]; then
  printf 'check-pe: %s:\n' "$exe" >&2
  printf '  %s\n' "${faults[@]}" >&2
  exit 1
fi
dialog=""
[ "$name" = QvUnInstall.exe ] && dialog="dialog 129, "
echo "check-pe: $exe: $kind $program, terminal-server aware, ${dialog}version resource, manifest for $arch" \
  "asking for $level, imports only system DLLs ($(echo $imports))"
