#!/usr/bin/env bash
# End to end in jalv, a host that tells the plug-in the transport only when it
# changes: a private JACK server (dummy driver), jalv with the plug-in's panel on
# the X server in $DISPLAY, then jalv_roll.py clicks Record and judges the take.
# Usage: run_jalv_e2e.sh <build tree's Vobrel.lv2> <artwork folder>
set -euo pipefail

bundle=$(cd "$1" && pwd)
artwork=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
uri=https://www.ferrowood-audio.com/plugins/vobrel
client=vobrel_jalv

work=$(mktemp -d /tmp/vobrel-jalv.XXXXXX)
pids=()
# Ends what this script started, newest first: politely, then for sure.
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || continue
        for ((t = 0; t < 50; t++)); do
            kill -0 "${pids[i]}" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE

# Only the build tree's bundle: a copy installed in ~/.lv2 or /usr/lib/lv2 must
# not stand in for it, and nothing here may touch the real home.
export HOME=$work/home LV2_PATH=$(dirname "$bundle")
export JACK_DEFAULT_SERVER=vobrel-e2e-$$ JACK_NO_START_SERVER=1 NO_AT_BRIDGE=1
mkdir -p "$HOME"

found=$(lv2info "$uri" | sed -n 's/^\tBundle:[[:space:]]*//p')
if [ "$found" != "file://$bundle/" ]; then
    echo "FAIL: lv2info finds the plug-in in '$found', not in the build tree's $bundle"
    exit 1
fi

# Bounded wait: poll COMMAND until it succeeds, at most SECONDS.
await() {
    local seconds=$1; shift
    for ((t = 0; t < seconds * 10; t++)); do
        "$@" > /dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

# Synchronous, with a long client time-out: a busy machine slows the roll down
# but never drops a client's cycle.
jackd --no-realtime -S -t 10000 -d dummy -r 48000 -p 256 > "$work/jackd.log" 2>&1 &
pids+=($!)
await 20 jack_lsp || { echo "FAIL: the JACK server did not start"; cat "$work/jackd.log"; exit 1; }

jalv.gtk3 -x -n "$client" "$uri" > "$work/jalv.log" 2>&1 &
pids+=($!)
if ! await 30 sh -c "jack_lsp | grep -qx '$client:audio_out_2'"; then
    echo "FAIL: jalv did not bring the plug-in up"
    cat "$work/jalv.log"
    exit 1
fi

status=0
python3 "$here/jalv_roll.py" "$client" "$artwork" &
pids+=($!)
wait "${pids[-1]}" || status=$?

if [ $status -ne 0 ]; then
    echo "--- jalv:"; cat "$work/jalv.log"
    echo "--- jackd:"; tail -20 "$work/jackd.log"
fi
exit $status
