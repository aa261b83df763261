#!/usr/bin/env bash
# Checks that every Windows executable of a build is a PE32+ image that imports only DLLs
# that come with Windows, so the programs run without shipping a runtime.
#
# Usage: scripts/check-pe-imports.sh BUILD_DIR
set -euo pipefail
build_dir=${1:?usage: check-pe-imports.sh BUILD_DIR}
objdump=x86_64-w64-mingw32-objdump

system_dlls='^(kernel32|user32|gdi32|gdiplus|advapi32|shell32|ole32|oleaut32|msvcrt|ws2_32|wininet|iphlpapi|fwpuclnt|rpcrt4|dbghelp|userenv|wtsapi32|winmm|shlwapi|comctl32|crypt32|bcrypt|secur32|psapi|version|ntdll|mswsock|dnsapi|netapi32|winhttp|setupapi|ncrypt)\.dll$'

mapfile -t exes < <(find "$build_dir" -name '*.exe' -not -path '*/wineprefix/*' -not -path '*/CMakeFiles/*' | sort)
if [ ${#exes[@]} -eq 0 ]; then
  echo "no executables found under $build_dir"
  exit 1
fi

bad=0
for exe in "${exes[@]}"; do
  if ! file -b "$exe" | grep -q '^PE32+ executable'; then
    echo "not a PE32+ image: $exe ($(file -b "$exe"))"
    bad=1
    continue
  fi
  while read -r dll; do
    if ! printf '%s\n' "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$system_dlls"; then
      echo "$exe imports $dll, which Windows does not provide"
      bad=1
    fi
  done < <("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
done
[ $bad -eq 0 ] && echo "checked ${#exes[@]} executables: PE32+, Windows DLLs only"
exit $bad
