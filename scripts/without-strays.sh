#!/bin/sh
# Runs a command, the test suite, and fails if a process it started is still
# running once it has ended: an X server, a bus daemon, a tracer, a program
# under test. Every process started under the command inherits a mark in its
# environment, and keeps it when it leaves its parent and its session, as
# daemons do; nothing else on the machine carries it.
#   without-strays.sh COMMAND [ARGUMENTS...]
set -u

mark="LINEWATCH_SUITE_RUN=$$-$(date +%s%N)"
export LINEWATCH_SUITE_RUN="${mark#*=}"
status=0
"$@" || status=$?
unset LINEWATCH_SUITE_RUN

strays() {
    grep -l -s -z -x -F -e "$mark" /proc/[0-9]*/environ | sed 's|^/proc/\([0-9]*\)/environ$|\1|'
}

# A daemon whose bus or display went away ends by itself within a moment.
tries=0
left=$(strays)
while [ -n "$left" ] && [ "$tries" -lt 50 ]; do
    sleep 0.1
    tries=$((tries + 1))
    left=$(strays)
done

if [ -n "$left" ]; then
    echo "processes the suite started are still running:" >&2
    for pid in $left; do
        printf '  %s: %s\n' "$pid" "$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)" >&2
    done
    # shellcheck disable=SC2086
    kill $left 2>/dev/null
    [ "$status" -ne 0 ] || status=1
fi
exit "$status"
