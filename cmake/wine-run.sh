#!/bin/sh
# Runs a 64-bit Windows test executable under wine64 with the build tree's own prefix.
: "${WINEPREFIX:?WINEPREFIX must point at the lane's Wine prefix}"
export WINEDEBUG=-all
exec /usr/lib/wine/wine64 "$@"
