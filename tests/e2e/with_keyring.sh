#!/bin/sh
# Runs a program with an unlocked Secret Service: gnome-keyring on the session bus that
# dbus-run-session started for it, keeping its keyrings in $XDG_DATA_HOME (a test folder).
# The daemon stays in this process group, so stopping the run stops it too.
set -e
printf 'quillpost-e2e' | gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null 2>&1 &
gdbus wait --session --timeout 15 org.freedesktop.secrets
exec "$@"
