#!/usr/bin/env bash
# vestrel-host end to end: the real loader, the plug-in, the reader simulator as prx08.dll.
#   vestrel_host_end_to_end.sh STAGE_DIR EXAMPLES_DIR RUNNER STAND_IN VERSION WINE_PREFIX
# RUNNER runs Windows programs (the Wine wrapper of the lane and its loader); empty on Linux.
# STAND_IN is a library that reports a bad simulator script. WINE_PREFIX is the test's own
# prefix (created when missing; an English one beside it, WINE_PREFIX-en).
#
# Nothing outside changes the result: the named markers live in a runtime folder of the
# test's own (VESTREL_RUNTIME_DIR; under Wine, the test's own prefixes and so its own
# wineserver). To prove it, the test first starts a holder of the reader of its own outside
# that isolation, as an integrator's "vestrel-host run" in another terminal would.
set -uo pipefail
stage=$1 examples=$2 runner=${3:-} stand_in=$4 version=$5 prefix=$6
host="$stage/vestrel-host"
[ -n "$runner" ] && host="$stage/vestrel-host.exe"
scratch=$(mktemp -d)
foreign=""
cleanup() {
  [ -n "$foreign" ] && kill "$foreign" 2>/dev/null && wait "$foreign" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
failures=0
export LC_ALL=ru_RU.UTF-8 WINEDEBUG=-all
export VESTREL_RUNTIME_DIR="$scratch/runtime"
mkdir -p "$VESTREL_RUNTIME_DIR"

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# Paths as the program sees them (drive Z: under Wine).
native() { if [ -n "$runner" ]; then echo "Z:$1"; else echo "$1"; fi; }
expect_status() {  # expected actual what
  [ "$1" = "$2" ] || fail "$3: exit status $2, expected $1"
}
expect_text() {  # file text what
  grep -qF -- "$2" "$1" || { fail "$3: no '$2' in:"; cat "$1"; }
}
one_line() {  # file what
  [ "$(wc -l < "$1")" -eq 1 ] || { fail "$2: not one line:"; cat "$1"; }
}

# A Wine prefix of the test's own, in a locale.
prepare_prefix() {  # prefix locale
  [ -f "$1/system.reg" ] && return
  local loader=${runner##* }
  mkdir -p "$1"
  if [[ "$loader" == */wine ]]; then
    LC_ALL=$2 WINEPREFIX="$1" WINEARCH=win32 "$loader" wineboot -i >/dev/null 2>&1
  else
    LC_ALL=$2 WINEPREFIX="$1" "$loader" wineboot -i >/dev/null 2>&1
  fi
  WINEPREFIX="$1" /usr/lib/wine/wineserver -w
}
if [ -n "$runner" ]; then
  prepare_prefix "$prefix" ru_RU.UTF-8
  prepare_prefix "$prefix-en" en_US.UTF-8
  export WINEPREFIX="$prefix"
fi
vhost() { $runner "$host" "$@"; }
# The same program in English: an English user, and under Wine the English code page 1252.
vhost_en() {
  if [ -n "$runner" ]; then
    LC_ALL=en_US.UTF-8 WINEPREFIX="$prefix-en" $runner "$host" "$@"
  else
    LC_ALL=en_US.UTF-8 "$host" "$@"
  fi
}

# 0. Another holder of the reader on this machine, outside the test's isolation: on Linux in
# the user's own runtime folder, under Wine in the English prefix (used by this test only after
# the holder has gone).
if [ -n "$runner" ]; then
  WINEPREFIX="$prefix-en" $runner "$host" --json run "$(native "$examples/two_readers.xml")" --seconds 90 \
    > "$scratch/foreign.out" 2>&1 &
else
  env -u VESTREL_RUNTIME_DIR "$host" --json run "$examples/two_readers.xml" --seconds 300 > "$scratch/foreign.out" 2>&1 &
fi
foreign=$!
for _ in $(seq 1 300); do grep -q '"event":"on"\|switch-on-failed' "$scratch/foreign.out" && break; sleep 0.2; done

# 1. run: exactly the cards the simulator's script predicts, in order, then a clean stop; the
# configuration under a Cyrillic path.
mkdir -p "$scratch/Конфигурации ККМ"
cp "$examples/two_readers.xml" "$scratch/Конфигурации ККМ/КОНФИГУРАЦИЯ.xml"
PRX08_SIM_SCRIPT=$(native "$examples/demo_cards.txt") \
  vhost run --json "$(native "$scratch/Конфигурации ККМ/КОНФИГУРАЦИЯ.xml")" --seconds 7 > "$scratch/run.out" 2> "$scratch/run.err"
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
expect_text "$scratch/none.out" "код 10: Устройство PR-x08 не найдено" "check without a reader"
expect_text "$scratch/none.out" "Подключите считыватель" "check without a reader: advice"

# On Linux the holder is stopped by SIGTERM; under Wine it ends by itself.
hold_seconds=60
[ -n "$runner" ] && hold_seconds=25
$runner "$host" --json run "$(native "$examples/two_readers.xml")" --seconds $hold_seconds > "$scratch/holder.out" 2>&1 &
holder=$!
for _ in $(seq 1 300); do grep -q '"event":"on"' "$scratch/holder.out" && break; sleep 0.2; done
expect_text "$scratch/holder.out" '"event":"on"' "a holder in the test's own runtime, beside the foreign one"
vhost check --json > "$scratch/held.out" 2>&1
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
expect_text "$scratch/nolib.out" "код 9: Ошибка загрузки библиотеки prx08.dll" "check without prx08.dll"

vhost check > "$scratch/ok.out" 2>&1
expect_status 0 $? "check with a reader"
expect_text "$scratch/ok.out" "OK:" "check with a reader"
expect_text "$scratch/ok.out" "OpenReader = 0" "check with a reader: the open"

# 2b. check proves the reader reads: an open that fails, reads that fail, a card asked for.
printf '0 fault OpenReader all answer -5\n' > "$scratch/open-fails.txt"
PRX08_SIM_SCRIPT=$(native "$scratch/open-fails.txt") vhost check > "$scratch/open-fails.out" 2>&1
expect_status 4 $? "check with an open that fails"
expect_text "$scratch/open-fails.out" "считыватель 1: OpenReader ответил -5" "check with an open that fails"
printf '0 fault ReadCardNumber all answer -1\n' > "$scratch/reads-fail.txt"
PRX08_SIM_SCRIPT=$(native "$scratch/reads-fail.txt") vhost --json check > "$scratch/reads-fail.out" 2>&1
expect_status 4 $? "check with reads that fail"
expect_text "$scratch/reads-fail.out" "ReadCardNumber отвечал ошибкой (-1:" "check with reads that fail"
printf '0 present 0 00A1B2C3\n' > "$scratch/card.txt"
PRX08_SIM_SCRIPT=$(native "$scratch/card.txt") vhost check --card 5 > "$scratch/card.out" 2>&1
expect_status 0 $? "check --card with a card"
expect_text "$scratch/card.out" "Поднесите карту к считывателю 1" "check --card asks"
expect_text "$scratch/card.out" "Считыватель 1: карта 0000A1B2C3" "check --card shows the code"
vhost check --card 1 > "$scratch/nocard.out" 2>&1
expect_status 4 $? "check --card without a card"
expect_text "$scratch/nocard.out" "считыватель 1: за 1 с карта не прочитана" "check --card without a card"

# run --log: the plug-in's log for one run, and each reader's statistics at the stop.
printf '0 readers 2\n0 fault OpenReader 1 answer -5\n300 tap 0 00A1B2C3\n' > "$scratch/logged.txt"
PRX08_SIM_SCRIPT=$(native "$scratch/logged.txt") \
  vhost --json run "$(native "$examples/two_readers.xml")" --seconds 2 --log "$(native "$scratch/run.log")" > "$scratch/logged.out" 2>&1
expect_status 0 $? "run --log"
expect_text "$scratch/run.log" "reader 1: OpenReader answers -5" "run --log: the failed open"
expect_text "$scratch/run.log" "reader 0: card ****B2C3 accepted" "run --log: the card, masked"
expect_text "$scratch/run.log" "host call SwitchOn, kind 1: true, result 0" "run --log: the host's calls"
grep -q '"cards":1,.*"event":"statistics".*"reader":1,' "$scratch/logged.out" || { fail "run: reader 1's statistics"; cat "$scratch/logged.out"; }
grep -q '"event":"statistics".*"open":-5,.*"reader":2,' "$scratch/logged.out" || { fail "run: reader 2's statistics"; cat "$scratch/logged.out"; }

# A stop (SIGTERM) while a plug-in call hangs in the reader library ends the tool in time.
if [ -z "$runner" ]; then
  printf '300 block ReadCardNumber\n' > "$scratch/block.txt"
  # Its own runtime folder: a process ended with a call stuck leaves its marker behind, as one
  # that crashed would (the next holder finds it stale).
  mkdir -p "$scratch/runtime-stuck"
  VESTREL_RUNTIME_DIR="$scratch/runtime-stuck" PRX08_SIM_SCRIPT=$(native "$scratch/block.txt") "$host" run "$(native "$examples/two_readers.xml")" > "$scratch/stuck.out" 2>&1 &
  stuck=$!
  for _ in $(seq 1 100); do grep -q "Включено" "$scratch/stuck.out" && break; sleep 0.1; done
  sleep 0.5
  kill -TERM "$stuck"
  for _ in $(seq 1 40); do kill -0 "$stuck" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$stuck" 2>/dev/null; then
    fail "a stop with a stuck call: still running 4 s after SIGTERM"
    kill -KILL "$stuck"
  fi
  wait "$stuck"
  expect_status 4 $? "a stop with a stuck call"
  expect_text "$scratch/stuck.out" "вызов плагина SwitchOff не вернулся" "a stop with a stuck call names it"
fi

# 3. Configuration files as Windows tools save them: windows-1251 with its declaration, and
# without any declaration.
iconv -f UTF-8 -t WINDOWS-1251 "$examples/two_readers.xml" | sed 's/encoding="UTF-8"/encoding="windows-1251"/' > "$scratch/1251.xml"
iconv -f UTF-8 -t WINDOWS-1251 "$examples/two_readers.xml" | sed '1d' | sed 's/$/\r/' > "$scratch/1251-bare.xml"
for file in 1251.xml 1251-bare.xml; do
  PRX08_SIM_SCRIPT=$(native "$examples/demo_cards.txt") \
    vhost --json run "$(native "$scratch/$file")" --seconds 3 > "$scratch/$file.out" 2>&1
  expect_status 0 $? "run of $file"
  expect_text "$scratch/$file.out" '"device":"Касса 1: вход","event":"card"' "run of $file: names decoded"
done

# settings without a window system: the answers through standard input, then by options; the
# file keeps its encoding, its line ends and every line that did not change.
cp "$scratch/1251-bare.xml" "$scratch/settings.xml"
printf 'Касса 1: выход\n99\n2500\nнет\n\n' | vhost settings "$(native "$scratch/settings.xml")" > "$scratch/settings.out" 2>&1
expect_status 0 $? "settings from standard input"
expect_text "$scratch/settings.out" "Введите целое число от 1000 до 999999" "settings: the form's range"
iconv -f WINDOWS-1251 -t UTF-8 "$scratch/settings.xml" > "$scratch/settings.utf8" || fail "settings: no longer windows-1251"
expect_text "$scratch/settings.utf8" 'Наименование="Касса 1: выход"' "settings: the new name"
expect_text "$scratch/settings.utf8" 'Идентификатор="ИнтервалПовтора" Значение="2500"' "settings: the new interval"
expect_text "$scratch/settings.utf8" 'Идентификатор="СтарыйФорматДанных" Значение="0"' "settings: the old format switched off"
changed=$(diff "$scratch/1251-bare.xml" "$scratch/settings.xml" | grep -c '^>')
[ "$changed" = 3 ] || { fail "settings: $changed lines changed, expected 3"; diff "$scratch/1251-bare.xml" "$scratch/settings.xml"; }
[ "$(grep -c $'\r$' "$scratch/settings.xml")" = "$(wc -l < "$scratch/settings.xml")" ] || fail "settings: line ends no longer CR LF"
vhost --json settings "$(native "$scratch/settings.xml")" 2 --interval 3000 > "$scratch/settings2.out" 2>&1
expect_status 0 $? "settings by options"
expect_text "$scratch/settings2.out" '"settings":"saved"' "settings by options"
vhost settings "$(native "$scratch/settings.xml")" 2 --interval 999 > "$scratch/settings3.out" 2>&1
expect_status 2 $? "settings: an interval below the form's range"

# 4. Usage, load and configuration errors: one line and a distinct status, never a crash; what
# is wrong where: the file, the line and column, the device and the parameter.
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
vhost run "$(native "$scratch/nolibrary")" > "$scratch/folder.out" 2>&1
expect_status 5 $? "a folder for a configuration"
expect_text "$scratch/folder.out" "это папка" "a folder for a configuration"
: > "$scratch/empty.xml"
vhost run "$(native "$scratch/empty.xml")" > "$scratch/empty.out" 2>&1
expect_status 5 $? "an empty configuration"
expect_text "$scratch/empty.out" "файл конфигурации пуст" "an empty configuration"
printf '<Система>\n <Оборудование>\n  <Устройство Код=' > "$scratch/broken.xml"
vhost run "$(native "$scratch/broken.xml")" > "$scratch/broken.out" 2>&1
expect_status 5 $? "a malformed configuration"
one_line "$scratch/broken.out" "a malformed configuration"
expect_text "$scratch/broken.out" "broken.xml:3:19: значение атрибута Код должно быть в кавычках" "a malformed configuration: line and column"
sed 's/Идентификатор="Использовать" Значение="1"/Идентификатор="Использовать" Значение="да"/' "$examples/two_readers.xml" > "$scratch/da.xml"
vhost run "$(native "$scratch/da.xml")" > "$scratch/da.out" 2>&1
expect_status 5 $? "a parameter that is not a number"
expect_text "$scratch/da.out" "da.xml: устройство «Касса 1: вход» {7D1E5A20-3C4B-4F51-9A0E-000000000001}, параметр «Использовать» = «да»" "a parameter that is not a number: where"
sed 's/Значение="0"/Значение="1"/' "$examples/two_readers.xml" > "$scratch/both.xml"
vhost run "$(native "$scratch/both.xml")" --seconds 1 > "$scratch/both.out" 2>&1
expect_status 4 $? "two devices to be used"
expect_text "$scratch/both.out" "только одно устройство Parsec: считыватель держит устройство «Касса 1: вход»" "two devices to be used"
sed 's/Значение="1"/Значение="0"/' "$examples/two_readers.xml" > "$scratch/unused.xml"
vhost run "$(native "$scratch/unused.xml")" --seconds 1 > "$scratch/unused.out" 2>&1
expect_status 5 $? "no device to be used"
expect_text "$scratch/unused.out" "все устройства отмечены как неиспользуемые" "no device to be used"

# 5. call: --json anywhere, the values a member writes back, several calls against one plug-in.
vhost call Нечто --json > "$scratch/call.out" 2>&1
expect_status 4 $? "call of an unknown member"
expect_text "$scratch/call.out" '"code":20036' "call of an unknown member"
vhost call ResultDescription 11 > "$scratch/call2.out" 2>&1
expect_status 0 $? "call"
expect_text "$scratch/call2.out" "уже используется" "call"
vhost call ИнформацияОПлагине > "$scratch/call3.out" 2>&1
expect_status 0 $? "call with the arguments written back"
expect_text "$scratch/call3.out" "2: Считыватель проксимити карт Parsec" "call with the arguments written back"
vhost call GetSettingsXML 0 > "$scratch/call4.out" 2>&1
expect_text "$scratch/call4.out" "<EquList" "call shows a document as its XML"
vhost call --config "$(native "$examples/two_readers.xml")" ВыбратьУстройство 1 + SwitchOn + DeviceIsOn + SwitchOff \
  > "$scratch/calls.out" 2>&1
expect_status 0 $? "a sequence of calls"
expect_text "$scratch/calls.out" "DeviceIsOn = 1" "a sequence of calls: the device is on in between"
vhost members > "$scratch/members.out" 2>&1
expect_status 0 $? "members"
expect_text "$scratch/members.out" "ИнформацияОПлагине / GetPlgInfo" "members: both names and the argument count"
expect_text "$scratch/members.out" "ИнтервалПовтора" "members: the device parameters"
grep -q "не знает" "$scratch/members.out" && fail "members: a listed name the plug-in does not answer"
[ "$(vhost --version | tr -d '\r')" = "vestrel-host $version" ] || fail "version: '$(vhost --version)'"

# 6. The simulator's script: a library that says its script is bad stops the run before any
# device starts.
mkdir -p "$scratch/standin"
cp "$stage"/Vestrel.plu "$host" "$scratch/standin/"
cp "$stand_in" "$scratch/standin/prx08.dll"
PRX08_SIM_SCRIPT=$(native "$scratch/cards.txt") \
  $runner "$scratch/standin/$(basename "$host")" run "$(native "$examples/two_readers.xml")" --seconds 1 > "$scratch/script.out" 2>&1
expect_status 6 $? "a bad simulator script"
expect_text "$scratch/script.out" "cards.txt:3: unknown action" "a bad simulator script: file and line"
# The simulator itself, once it reports script errors.
if grep -q SimGetScriptError "$stage/prx08.dll"; then
  printf '0 tapp 0 00A1B2C3\n' > "$scratch/bad-script.txt"
  PRX08_SIM_SCRIPT=$(native "$scratch/bad-script.txt") vhost run "$(native "$examples/two_readers.xml")" --seconds 1 \
    > "$scratch/sim-script.out" 2>&1
  expect_status 6 $? "the simulator with a bad script"
  expect_text "$scratch/sim-script.out" "bad-script.txt:1" "the simulator with a bad script: file and line"
fi

# 7. Nothing the runs did is left in the runtime folder (the log rendezvous' markers included).
if [ -z "$runner" ]; then
  left=$(find "$VESTREL_RUNTIME_DIR" -name 'mutex-*' | wc -l)
  [ "$left" = 0 ] || { fail "markers left in the runtime folder: $left"; ls "$VESTREL_RUNTIME_DIR"; }
fi

# 8. English: the tool's own texts and the code page of an English system (under Wine 1252,
# where Cyrillic names survive only in Unicode).
if [ -n "$runner" ]; then
  kill "$foreign" 2>/dev/null
  wait "$foreign" 2>/dev/null
  foreign=""
  WINEPREFIX="$prefix-en" /usr/lib/wine/wineserver -w
fi
vhost_en check > "$scratch/en.out" 2>&1
expect_status 0 $? "check in English"
expect_text "$scratch/en.out" "OK: the reader was switched on, opened and reads" "check in English"
vhost_en info > "$scratch/en-info.out" 2>&1
expect_status 0 $? "info in English"
expect_text "$scratch/en-info.out" "Version:" "info in English"
PRX08_SIM_READERS=0 vhost_en check "$(native "$scratch/Конфигурации ККМ/КОНФИГУРАЦИЯ.xml")" > "$scratch/en-none.out" 2>&1
expect_status 4 $? "check in English without a reader"
expect_text "$scratch/en-none.out" "FAILED: error 10" "check in English without a reader"
expect_text "$scratch/en-none.out" "Plug the reader in" "check in English without a reader: advice"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "vestrel-host end to end: all checks passed"
