#!/bin/sh
# Runs a 32-bit Windows test executable under 32-bit Wine with the build tree's own prefix.
: "${WINEPREFIX:?WINEPREFIX must point at the lane's Wine prefix}"
export WINEDEBUG=-all
# Without a display, Wine's window driver refuses top-level windows; its null driver keeps
# them real (hidden, drawn nowhere), so that tests can create and read dialogs.
if [ -z "${DISPLAY:-}" ] && ! grep -qs '"Graphics"="null"' "$WINEPREFIX/user.reg"; then
  /usr/lib/wine/wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 || true
  # The desktop of a prefix that Wine has just created still runs on the old driver.
  /usr/lib/wine/wineserver -w || true
fi
exec /usr/lib/wine/wine "$@"
