#!/bin/sh
# Starts or stops the virtual display of the real-window tests: xvfb.sh start|stop <state-dir>
set -eu
state="$2"
[ "$1" = stop ] && { kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true; exit 0; }
mkdir -p "$state"
rm -f "$state/display" # so that only the new server's number is waited for
# Output goes to a log, so that ctest does not wait on our pipes. With -noreset the server
# never starts over when its last client leaves, dropping whoever connects meanwhile.
setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -dpi 96 -nolisten tcp -noreset \
    3>"$state/display" >"$state/xvfb.log" 2>&1 </dev/null &
echo $! >"$state/xvfb.pid"
for _ in $(seq 100); do
    [ -s "$state/display" ] && exit 0
    sleep 0.1
done
cat "$state/xvfb.log" >&2
exit 1
