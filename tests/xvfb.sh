#!/bin/sh
# Starts or stops the virtual display that the real-window tests use.
# Usage: xvfb.sh start|stop <state-dir>
set -eu
state="$2"
case "$1" in
start)
    mkdir -p "$state"
    rm -f "$state/display"
    # Output goes to a log, so that ctest does not wait on our pipes.
    setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -dpi 96 -nolisten tcp \
        3>"$state/display" >"$state/xvfb.log" 2>&1 </dev/null &
    echo $! >"$state/xvfb.pid"
    i=0
    while [ ! -s "$state/display" ]; do
        i=$((i + 1))
        if [ "$i" -gt 100 ]; then
            echo "Xvfb did not start:" >&2
            cat "$state/xvfb.log" >&2
            exit 1
        fi
        sleep 0.1
    done
    echo "Xvfb on :$(cat "$state/display")"
    ;;
stop)
    [ -f "$state/xvfb.pid" ] && kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
    rm -f "$state/xvfb.pid" "$state/display"
    ;;
esac
