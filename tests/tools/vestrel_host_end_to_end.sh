#!/usr/bin/env bash
# vestrel-host end to end: the real loader, the plug-in, the reader simulator as prx08.dll.
#   vestrel_host_end_to_end.sh STAGE_DIR EXAMPLES_DIR [RUNNER]
# RUNNER runs Windows programs (the Wine wrapper of the lane); empty on Linux.
set -uo pipefail
stage=$1 examples=$2 runner=${3:-}
host="$stage/vestrel-host"
[ -n "$runner" ] && host="$stage/vestrel-host.exe"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# Paths as the program sees them (drive Z: under Wine).
native() { if [ -n "$runner" ]; then echo "Z:$1"; else echo "$1"; fi; }
vhost() { $runner "$host" "$@"; }
expect_status() {  # expected actual what
  [ "$1" = "$2" ] || fail "$3: exit status $2, expected $1"
}
expect_text() {  # file text what
  grep -qF -- "$2" "$1" || { fail "$3: no '$2' in:"; cat "$1"; }
}
one_line() {  # file what
  [ "$(wc -l < "$1")" -eq 1 ] || { fail "$2: not one line:"; cat "$1"; }
}

# 1. run: exactly the cards the simulator's script predicts, in order, then a clean stop.
PRX08_SIM_SCRIPT=$(native "$examples/demo_cards.txt") \
  vhost --json run "$(native "$examples/two_readers.xml")" --seconds 7 > "$scratch/run.out" 2> "$scratch/run.err"
expect_status 0 $? "run"
codes=$(grep '"event":"card"' "$scratch/run.out" | sed 's/.*"code":"\([0-9A-F]*\)".*/\1/' | tr '\n' ' ')
[ "$codes" = "0000A1B2C3 001234ABCD 0000A1B2C3 000BADF00D " ] || { fail "run: cards '$codes'"; cat "$scratch/run.out" "$scratch/run.err"; }
expect_text "$scratch/run.out" '"device":"Касса 1: вход","event":"card"' "run: events name their device"
expect_text "$scratch/run.out" '"id":"{7D1E5A20-3C4B-4F51-9A0E-000000000001}"' "run: events carry the identifier"
expect_text "$scratch/run.out" '"event":"skipped"' "run: a device not to be used stays off"
expect_text "$scratch/run.out" '"cards":4,"event":"stopped"' "run: stops by itself"

# 2. check: no reader (10), the reader held by a second process (11), the library missing (9).
PRX08_SIM_READERS=0 vhost check > "$scratch/none.out" 2>&1
expect_status 4 $? "check without a reader"
expect_text "$scratch/none.out" "error 10: Устройство PR-x08 не найдено" "check without a reader"
expect_text "$scratch/none.out" "Plug the reader in" "check without a reader: advice"

# On Linux the holder is stopped by SIGTERM; under Wine it ends by itself.
hold_seconds=60
[ -n "$runner" ] && hold_seconds=25
$runner "$host" --json run "$(native "$examples/two_readers.xml")" --seconds $hold_seconds > "$scratch/holder.out" 2>&1 &
holder=$!
for _ in $(seq 1 300); do grep -q '"event":"on"' "$scratch/holder.out" && break; sleep 0.2; done
vhost --json check > "$scratch/held.out" 2>&1
expect_status 4 $? "check with the reader held elsewhere"
expect_text "$scratch/held.out" '"code":11' "check with the reader held elsewhere"
expect_text "$scratch/held.out" "уже используется" "check with the reader held elsewhere: text"
if [ -z "$runner" ]; then
  kill -TERM "$holder"
  wait "$holder"
  expect_status 0 $? "run ended by SIGTERM"
  expect_text "$scratch/holder.out" '"event":"stopped"' "run ended by SIGTERM switches off"
else
  wait "$holder"
  expect_status 0 $? "run ended after its seconds"
fi

mkdir -p "$scratch/nolibrary"
cp "$stage"/Vestrel.plu "$host" "$scratch/nolibrary/"
$runner "$scratch/nolibrary/$(basename "$host")" check > "$scratch/nolib.out" 2>&1
expect_status 4 $? "check without prx08.dll"
expect_text "$scratch/nolib.out" "error 9: Ошибка загрузки библиотеки prx08.dll" "check without prx08.dll"

vhost check > "$scratch/ok.out" 2>&1
expect_status 0 $? "check with a reader"
expect_text "$scratch/ok.out" "OK:" "check with a reader"

# 3. Usage, load and configuration errors: one line and a distinct status, never a crash.
vhost > "$scratch/usage.out" 2>&1
expect_status 2 $? "no subcommand"
one_line "$scratch/usage.out" "no subcommand"
vhost run > "$scratch/usage2.out" 2>&1
expect_status 2 $? "run without a configuration"
one_line "$scratch/usage2.out" "run without a configuration"
vhost --plugin "$(native "$scratch/none.plu")" info > "$scratch/load.out" 2>&1
expect_status 3 $? "a missing plug-in"
one_line "$scratch/load.out" "a missing plug-in"
vhost run "$(native "$scratch/missing.xml")" > "$scratch/missing.out" 2>&1
expect_status 5 $? "a missing configuration"
one_line "$scratch/missing.out" "a missing configuration"
printf '<Система><Оборудование><Устройство Код=' > "$scratch/broken.xml"
vhost run "$(native "$scratch/broken.xml")" > "$scratch/broken.out" 2>&1
expect_status 5 $? "a malformed configuration"
one_line "$scratch/broken.out" "a malformed configuration"
vhost --json call Нечто > "$scratch/call.out" 2>&1
expect_status 4 $? "call of an unknown member"
expect_text "$scratch/call.out" '"code":20' "call of an unknown member"
vhost call ResultDescription 11 > "$scratch/call2.out" 2>&1
expect_status 0 $? "call"
expect_text "$scratch/call2.out" "уже используется" "call"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "vestrel-host end to end: all checks passed"
