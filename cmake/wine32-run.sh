#!/bin/sh
# Runs a 32-bit Windows test executable under 32-bit Wine with the build tree's own prefix.
: "${WINEPREFIX:?WINEPREFIX must point at the lane's Wine prefix}"
export WINEDEBUG=-all
exec /usr/lib/wine/wine "$@"
