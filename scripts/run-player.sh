#!/usr/bin/env bash
# Starts the player; it starts the tracking server itself. Without a session bus, one is made
# for this run.
set -euo pipefail
bin="$(dirname "$0")/../build/bin"
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    exec dbus-run-session -- "$bin/vantrel-player"
fi
exec "$bin/vantrel-player"
