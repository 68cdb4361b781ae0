#!/bin/sh
# Every plug-in in each floating-point state that hosts leave, each in a
# fresh process (the state set before the plug-in is loaded), against the
# default state's output, bit for bit; then the same images again and again
# in one more process, all the same. Nothing may trap, and every call must give
# the host its state back (tests/dump.cpp).
#   float_state.sh RUNNER DUMP PLUGIN-DIR COMPARER [STATE...]
# RUNNER is "" or "wine"; COMPARER is a dump that runs here, for `same`;
# the STATEs are those beyond the ones every x86 build is tried in.
set -e
run="$1" dump="$2" plugins="$3" compare="$4"
shift 4
states="zero up down ftz traps $*"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
status=0
fail() {
    echo "FAILED: $*"
    status=1
}
for plugin in SpectraPlane SpectraPlaneInverse SpectraVolume SpectraRow; do
    $run "$dump" state "$plugins" $plugin default "$out/default" </dev/null ||
        fail "$plugin in the default state"
    for state in $states; do
        printf '%s, state %s: ' $plugin $state
        if $run "$dump" state "$plugins" $plugin $state "$out/$state" </dev/null; then
            "$compare" same "$out/default" "$out/$state" || fail "$plugin, state $state"
        else
            fail "$plugin, state $state"
        fi
    done
    printf '%s, again and again: ' $plugin
    if $run "$dump" repeat "$plugins" $plugin "$out/repeat" </dev/null; then
        "$compare" same "$out/default" "$out/repeat" || fail "$plugin, again and again"
    else
        fail "$plugin, again and again"
    fi
done
exit $status
