#!/bin/sh
# Checks each Windows plug-in as a user would install it: one file that
# imports nothing but system DLLs, exports ENTRYPOINT alone and carries a
# "PiPL" resource.
#   check_dlls.sh OBJDUMP WINDRES PLUGIN...
set -e
objdump="$1"
windres="$2"
shift 2
for plugin in "$@"; do
    headers="$("$objdump" -p "$plugin")"
    imports="$(echo "$headers" | sed -n 's/.*DLL Name: //p' | sort | tr '\n' ' ')"
    if [ "$imports" != "KERNEL32.dll msvcrt.dll " ]; then
        echo "$plugin imports: $imports"
        exit 1
    fi
    exports="$(echo "$headers" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep '\[' | grep -v Table | awk '{print $NF}' | tr '\n' ' ')"
    if [ "$exports" != "ENTRYPOINT " ]; then
        echo "$plugin exports: $exports"
        exit 1
    fi
    if ! "$windres" -i "$plugin" -O rc 2>/dev/null | grep -q '"PIPL"'; then
        echo "$plugin has no PiPL resource"
        exit 1
    fi
    echo "$plugin: imports $imports; exports $exports; PiPL resource"
done
