#!/usr/bin/env bash
# Checks what the Windows programs need from the machine they run on: every imported DLL must
# come with Windows (no mingw runtime DLL beside the exe), and the embedded manifest must ask for
# the right execution level: the real program for administrator rights, since it writes to
# devices, the demo only for the caller's own.
#
# usage: check-exe.sh OBJDUMP EXE...
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 OBJDUMP EXE..." >&2
  exit 2
fi
objdump=$1
shift

# DLLs that every supported Windows carries, in lower case.
system_dlls=(
  kernel32.dll user32.dll gdi32.dll comctl32.dll comdlg32.dll advapi32.dll setupapi.dll
  cfgmgr32.dll shell32.dll shlwapi.dll ole32.dll oleaut32.dll msvcrt.dll version.dll
  winmm.dll uxtheme.dll imm32.dll msimg32.dll ntdll.dll ws2_32.dll bcrypt.dll
)

is_system_dll() {
  local wanted dll
  wanted=$(printf '%s' "$1" | tr '[:upper:]' '[:lower:]')
  for dll in "${system_dlls[@]}"; do
    [ "$dll" = "$wanted" ] && return 0
  done
  return 1
}

faults=0
fault() {
  echo "FAIL: $*" >&2
  faults=$((faults + 1))
}

for exe in "$@"; do
  if [ ! -f "$exe" ]; then
    fault "$exe does not exist"
    continue
  fi
  if ! headers=$("$objdump" -p "$exe"); then
    fault "$objdump cannot read $exe"
    continue
  fi
  mapfile -t dlls < <(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' |
    tr -d '\r')
  if [ "${#dlls[@]}" -eq 0 ]; then
    fault "$exe imports no DLL at all: not a program objdump understands"
  fi
  echo "$(basename "$exe") imports: ${dlls[*]}"
  for dll in "${dlls[@]}"; do
    is_system_dll "$dll" || fault "$exe imports $dll, which Windows does not provide"
  done

  # The manifest is stored in the resources as plain text.
  case "$(basename "$exe")" in
    KorvaneUpdateTool.exe) wanted=requireAdministrator ;;
    KorvaneUpdateToolDemo.exe) wanted=asInvoker ;;
    *) continue ;;
  esac
  levels=$(grep -aoE "requestedExecutionLevel[^>]*level=[\"'][A-Za-z]+[\"']" "$exe" |
    sed -E "s/.*level=[\"']([A-Za-z]+)[\"']/\1/" | sort -u | tr '\n' ' ' || true)
  if [ "$levels" != "$wanted " ]; then
    fault "$exe: the manifest should ask for $wanted, asks for: ${levels:-nothing}"
  fi
done

if [ "$faults" -ne 0 ]; then
  exit 1
fi
echo "all programs depend on Windows' own DLLs only and ask for their execution level"
