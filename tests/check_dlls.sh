#!/bin/sh
# Checks each Windows plug-in as a user would install it: one file that
# imports nothing but KERNEL32 and the C runtime (msvcrt.dll, or the UCRT's
# api-ms-win-crt sets that every Windows 10 and 11 has), exports ENTRYPOINT
# alone, undecorated, and carries a "PiPL" resource with the code property of
# its own processor and no other, and a version resource (1.0.6 for the
# planar plug-ins, 1.0.0 for the descreen, 1.0.3 for the others, product
# Spectra). On x86, no code in it moves a 256- or 512-bit vector to or from
# the stack with an aligned move: Windows does not align the stack to 32 or 64
# bytes, and such a move would fault there (wine does not show it).
#   check_dlls.sh READOBJ OBJDUMP CODE-PROPERTY PLUGIN...
# READOBJ is llvm-readobj, which reads every processor's files; OBJDUMP is
# GNU objdump for x86 files, "" for ARM64 ones.
set -e
readobj="$1"
objdump="$2"
code="$3"
shift 3
# A resource's bytes, as one string of hex digits.
resource_hex() { # PLUGIN TYPE
    "$readobj" --coff-resources "$1" | sed -n "/^  Type: $2 /,/^  Type: /p" |
        sed -n 's/^ *[0-9A-F]*: \([0-9A-F ]*\)  *|.*/\1/p' | tr -d ' \n'
}
# Four-character codes are stored backwards: "8664" as "4668".
code_hex() { echo "$1" | rev | tr -d '\n' | od -An -tx1 | tr -d ' \n' | tr a-f A-F; }
# Text of the version resource in UTF-16.
utf16_hex() { printf '%s' "$1" | od -An -tx1 | sed 's/\([0-9a-f][0-9a-f]\)/\100/g' | tr -d ' \n' | tr a-f A-F; }
for plugin in "$@"; do
    imports="$("$readobj" --coff-imports "$plugin" | sed -n 's/^  Name: //p' | sort | tr '\n' ' ')"
    others="$(echo "$imports" | tr ' ' '\n' | grep -v -e '^KERNEL32.dll$' -e '^$' |
        grep -v -e '^api-ms-win-crt-[a-z0-9-]*\.dll$' | tr '\n' ' ')"
    case "$others" in
    "" | "msvcrt.dll ") ;;
    *)
        echo "$plugin imports: $imports"
        exit 1
        ;;
    esac
    # lld 14 numbers exports from 0 and leaves slot 0 empty: no name, no address
    exports="$("$readobj" --coff-exports "$plugin" | sed -n 's/^  Name: \(..*\)/\1/p' | tr '\n' ' ')"
    if [ "$exports" != "ENTRYPOINT " ]; then
        echo "$plugin exports: $exports"
        exit 1
    fi
    pipl="$(resource_hex "$plugin" PIPL)"
    if [ -z "$pipl" ]; then
        echo "$plugin has no PiPL resource"
        exit 1
    fi
    for other in 8664 wx86 wa64; do
        if [ $other = "$code" ]; then
            echo "$pipl" | grep -q "$(code_hex $other)" || {
                echo "$plugin: its property list does not name $code"
                exit 1
            }
        elif echo "$pipl" | grep -q "$(code_hex $other)"; then
            echo "$plugin: its property list names $other"
            exit 1
        fi
    done
    case "$(basename "$plugin")" in
    SpectraPlane.8bf | SpectraPlaneInverse.8bf) minor=6 ;;
    SpectraDescreen.8bf) minor=0 ;;
    *) minor=3 ;;
    esac
    version="$(resource_hex "$plugin" "VERSIONINFO (ID 16)")"
    # VS_FIXEDFILEINFO: its signature, its own version, then the file's
    # version as 1.0 and $minor.0
    for want in "BD04EFFE000001000000010000000${minor}00" "$(utf16_hex "1.0.$minor")" \
        "$(utf16_hex ProductName)" "$(utf16_hex Spectra)"; do
        if ! echo "$version" | grep -q "$want"; then
            echo "$plugin: its version resource lacks 1.0.$minor or product Spectra"
            exit 1
        fi
    done
    if [ -n "$objdump" ]; then
        aligned="$("$objdump" -d --no-show-raw-insn "$plugin" | grep -E \
            'vmov(ap[sd]|dqa(32|64)?)[[:space:]].*(%[yz]mm[0-9]+,.*\(%[re][sb]p|\(%[re][sb]p.*,%[yz]mm)' |
            head -n 3)"
        if [ -n "$aligned" ]; then
            echo "$plugin moves vectors to or from the stack with aligned moves:"
            echo "$aligned"
            exit 1
        fi
    fi
    echo "$plugin: imports $imports; exports $exports; PiPL with $code; version 1.0.$minor"
done
