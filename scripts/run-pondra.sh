#!/usr/bin/env bash
# Installs what is missing, builds, and starts Pondra from the build folder.
# When no team server answers on localhost:8787 (the program's default), the
# local team server is started there for as long as the program runs, and
# stopped after it. The program's exit code is this script's.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build

server_pid=
program_pid=
stop_server() {
    if [ -n "$server_pid" ]; then
        kill -TERM "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
        server_pid=
    fi
}
trap stop_server EXIT
trap 'exit 143' TERM INT HUP

if ! (exec 3<>/dev/tcp/127.0.0.1/8787) 2>/dev/null; then
    echo "No team server on localhost:8787: starting the local one there."
    # Its own stdin, so that it does not read the terminal.
    build/tests/teamserver/pondra-team-server --port 8787 </dev/null >/dev/null &
    server_pid=$!
    for _ in $(seq 50); do
        (exec 3<>/dev/tcp/127.0.0.1/8787) 2>/dev/null && break
        kill -0 "$server_pid" 2>/dev/null || { echo "The local team server did not start." >&2; exit 1; }
        sleep 0.1
    done
fi

build/program/pondra &
program_pid=$!
# From now on a signal goes on to the program, which quits as its own Quit
# command does; the script waits for it, then stops the server.
trap 'kill -TERM "$program_pid" 2>/dev/null || true' TERM INT HUP
# A signal interrupts `wait`; wait again until the program has really ended.
status=0
while kill -0 "$program_pid" 2>/dev/null; do
    wait "$program_pid" && status=0 || status=$?
done
# The program may have ended just as a signal interrupted the last wait: its
# own status is still there to collect (127 once it has been collected).
if wait "$program_pid" 2>/dev/null; then status=0; else rc=$?; [ "$rc" -eq 127 ] || status=$rc; fi
exit "$status"
