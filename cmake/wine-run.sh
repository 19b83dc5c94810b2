#!/bin/sh
# Runs a Windows test executable under Wine with the build tree's own prefix:
#   wine-run.sh LOADER PROGRAM [ARGS...]
# LOADER is the lane's Wine loader (/usr/lib/wine/wine for 32-bit programs, /usr/lib/wine/wine64
# for 64-bit ones); the toolchain files name it.
: "${WINEPREFIX:?WINEPREFIX must point at the lane's Wine prefix}"
loader=${1:?the Wine loader comes first}
shift
export WINEDEBUG=-all
# Without a display, Wine's window driver refuses top-level windows; its null driver keeps
# them real (hidden, drawn nowhere), so that tests can create and read dialogs.
if [ -z "${DISPLAY:-}" ] && ! grep -qs '"Graphics"="null"' "$WINEPREFIX/user.reg"; then
  "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 || true
  # The desktop of a prefix that Wine has just created still runs on the old driver.
  /usr/lib/wine/wineserver -w || true
fi
exec "$loader" "$@"
