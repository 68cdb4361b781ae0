#!/bin/sh
# Every plug-in in the default floating-point state, RUNS runs in one process
# that must all write the same; then in each state that hosts leave, each in
# a fresh process (the state set before the plug-in is loaded), bit for bit
# as in the default state. Nothing may trap, and every call must give the
# host its state back (tests/dump.cpp).
#   float_state.sh RUNNER DUMP PLUGIN-DIR RUNS [STATE...]
# RUNNER is "" or "wine"; the STATEs are those beyond the rounding modes and
# flush-to-zero that every build is tried in ("traps" on x86, "x87" on
# 32-bit x86).
run="$1" dump="$2" plugins="$3" runs="$4"
shift 4
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
status=0
for plugin in SpectraPlane SpectraPlaneInverse SpectraVolume SpectraRow SpectraDescreen; do
    $run "$dump" state "$plugins" $plugin default "$out/default" $runs </dev/null || {
        echo "FAILED: $plugin, $runs runs in the default state"
        status=1
    }
    for state in zero up down ftz "$@"; do
        if $run "$dump" state "$plugins" $plugin $state "$out/$state" </dev/null &&
            cmp -s "$out/default" "$out/$state"; then
            echo "$plugin, state $state: the same"
        else
            echo "FAILED: $plugin, state $state"
            status=1
        fi
    done
done
exit $status
