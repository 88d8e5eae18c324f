#!/bin/sh
# Fails when a Windows executable imports a DLL that is not part of Windows
# itself (a MinGW runtime such as libstdc++-6.dll or libwinpthread-1.dll).
#   check_imports.sh OBJDUMP PROGRAM.exe
set -eu
objdump=$1
program=$2
dlls=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p')
echo "$program imports:" $dlls
[ -n "$dlls" ] || { echo "no imports found" >&2; exit 1; }
status=0
for dll in $dlls; do
  case $(echo "$dll" | tr '[:upper:]' '[:lower:]') in
    kernel32.dll | msvcrt.dll | oleaut32.dll | winmm.dll | ws2_32.dll | user32.dll | advapi32.dll | ntdll.dll) ;;
    api-ms-win-*.dll) ;;
    *) echo "not a system DLL: $dll" >&2; status=1 ;;
  esac
done
exit $status
