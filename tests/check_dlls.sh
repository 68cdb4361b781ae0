#!/bin/sh
# Checks each Windows plug-in as a user would install it: one file that
# imports nothing but system DLLs, exports ENTRYPOINT alone, undecorated, and
# carries a "PiPL" resource with the code property of its own processor and
# no other, and a version resource (1.0.6 for the planar plug-ins, 1.0.0 for
# the descreen, 1.0.3 for the others, product Spectra). No code in it moves a 256- or 512-bit vector
# to or from the stack with an aligned move: Windows does not align the stack
# to 32 or 64 bytes, and such a move would fault there (wine does not show
# it).
#   check_dlls.sh OBJDUMP WINDRES CODE-PROPERTY PLUGIN...
set -e
objdump="$1"
windres="$2"
code="$3"
objcopy="$(echo "$objdump" | sed 's/objdump$/objcopy/')"
shift 3
resources_section="$(mktemp)"
trap 'rm -f "$resources_section"' EXIT
case "$code" in 8664) other=wx86 ;; *) other=8664 ;; esac
# Four-character codes are stored backwards: "8664" as "4668".
reversed() { echo "$1" | rev; }
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
    resources="$("$windres" -i "$plugin" -O rc 2>/dev/null)"
    if ! echo "$resources" | grep -q '"PIPL"'; then
        echo "$plugin has no PiPL resource"
        exit 1
    fi
    "$objcopy" -O binary --only-section=.rsrc "$plugin" "$resources_section"
    if ! LC_ALL=C grep -aq "$(reversed $code)" "$resources_section" ||
        LC_ALL=C grep -aq "$(reversed $other)" "$resources_section"; then
        echo "$plugin: its property list should name $code and not $other"
        exit 1
    fi
    case "$(basename "$plugin")" in
    SpectraPlane.8bf | SpectraPlaneInverse.8bf) version="1, 0, 6, 0" dotted=1.0.6 ;;
    SpectraDescreen.8bf) version="1, 0, 0, 0" dotted=1.0.0 ;;
    *) version="1, 0, 3, 0" dotted=1.0.3 ;;
    esac
    for want in "FILEVERSION $version" "VALUE \"ProductName\", \"Spectra\"" \
        "VALUE \"FileVersion\", \"$dotted\""; do
        if ! echo "$resources" | grep -qF "$want"; then
            echo "$plugin: its version resource lacks $want"
            exit 1
        fi
    done
    aligned="$("$objdump" -d --no-show-raw-insn "$plugin" | grep -E \
        'vmov(ap[sd]|dqa(32|64)?)[[:space:]].*(%[yz]mm[0-9]+,.*\(%[re][sb]p|\(%[re][sb]p.*,%[yz]mm)' |
        head -n 3)"
    if [ -n "$aligned" ]; then
        echo "$plugin moves vectors to or from the stack with aligned moves:"
        echo "$aligned"
        exit 1
    fi
    echo "$plugin: imports $imports; exports $exports; PiPL with $code; version $dotted; no aligned wide stack moves"
done
