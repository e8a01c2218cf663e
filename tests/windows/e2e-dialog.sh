#!/usr/bin/env bash
# The dialog end to end under Wine, in a real window on an X server (run it
# under xvfb-run): VelkTest.exe against the Linux velk-sim on COM5, driven
# with xdotool and read back from screenshots (tesseract reads the texts).
#   tests/windows/e2e-dialog.sh LINUX_BUILD WINDOWS_BUILD [INSTALLER]
# LINUX_BUILD holds tools/velk-sim/velk-sim; WINDOWS_BUILD src/ui/VelkTest.exe.
# With INSTALLER, the installer too: silent install, a start from the
# installed folder, silent uninstall. WINEPREFIX must be a booted prefix whose
# settings this may change; SCREENSHOT, when set, is where the window after a
# good exchange is saved as PNG.
set -euo pipefail
linux=$1
windows=$2
installer=${3:-}
wine=$(command -v wine || command -v wine64 || echo /usr/lib/wine/wine64)
[ -n "${DISPLAY:-}" ] || { echo "e2e-dialog: needs an X display (xvfb-run)"; exit 1; }
work=$(mktemp -d)
export XDG_CONFIG_HOME=$work/config
key='HKCU\Software\ORBEK\VelkTest'
title="VELK Test Utility"
sim_pid=""
failures=0
cleanup() {
  [ -n "$sim_pid" ] && kill -CONT "$sim_pid" 2>/dev/null && kill "$sim_pid" 2>/dev/null
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

ok() { echo "e2e-dialog: ok   $*"; }
fail() {
  echo "e2e-dialog: FAIL $*"
  failures=$((failures + 1))
}

# The window of VelkTest, once it is there (empty after 30 s).
window_id() {
  local id=""
  for _ in $(seq 120); do
    id=$(xdotool search --name "^$title\$" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && break
    sleep 0.25
  done
  echo "$id"
}
shot() { # file: the whole screen
  import -window root "$1"
}
# The words tesseract reads on a screenshot, one per line: left top width height word.
words() {
  tesseract "$1" - -l rus+eng tsv 2>/dev/null | awk -F'\t' 'NR > 1 && $12 != "" {print $7, $8, $9, $10, $12}'
}
text_of() { # screenshot: all the text tesseract reads on it
  tesseract "$1" - -l rus 2>/dev/null
}
# Clicks the middle of the leftmost word read on the screen that is exactly $1.
click_word() {
  shot "$work/find.png"
  local box
  box=$(words "$work/find.png" | awk -v w="$1" '$5 == w {print $1 + $3 / 2, $2 + $4 / 2}' |
    sort -n | head -1)
  [ -n "$box" ] || return 1
  # shellcheck disable=SC2086
  xdotool mousemove $box click 1
}
pixel() { # screenshot x y: the colour there as r,g,b
  /usr/bin/convert "$1" -crop "1x1+$2+$3" -depth 8 txt:- | sed -n 's/.*srgb(\([0-9,]*\)).*/\1/p'
}
# Green or red: the colour of the answer indicator, to the left of the CS
# box of the received data block (where the form draws it).
indicator() { # screenshot window-x window-y
  local rgb r g b
  rgb=$(pixel "$1" $(($2 + 470)) $(($3 + 60)))
  IFS=, read -r r g b <<<"$rgb"
  if [ "$g" -gt 150 ] && [ "$r" -lt 150 ]; then echo green
  elif [ "$r" -gt 180 ] && [ "$g" -lt 130 ]; then echo red
  else echo "none ($rgb)"; fi
}
requests() { grep -c '^REQ' "$work/sim.out" || true; }

"$linux/tools/velk-sim/velk-sim" --com 5 --scenario registers >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do
  grep -q '^READY' "$work/sim.out" && break
  sleep 0.1
done
pts=$(awk '/^READY/ {print $3}' "$work/sim.out")
[ -n "$pts" ] || { echo "e2e-dialog: velk-sim did not start"; cat "$work/sim.out"; exit 1; }

# COM5 is velk-sim's terminal, listed in SERIALCOMM as Windows lists a port
# (Wine reads its port table when its server starts); COM1-COM4 open fresh
# pseudo-terminals, so that the dialog, should it ever fall back to the first
# port listed, opens none of the machine's (Wine moves those past COM5). The
# settings name COM5.
wineserver -k >/dev/null 2>&1 || true
for n in 1 2 3 4; do
  "$wine" reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d /dev/ptmx /f >/dev/null 2>&1
done
"$wine" reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$pts" /f >/dev/null 2>&1
"$wine" reg delete "$key" /f >/dev/null 2>&1 || true
for setting in portName=COM5 address_1=5 code=10 index=1; do
  "$wine" reg add "$key" /v "${setting%%=*}" /d "${setting#*=}" /f >/dev/null 2>&1
done
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
listed=$("$wine" reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' 2>/dev/null | tr -d '\r' | awk '{print $NF}' | grep '^COM' | sort -V | tr '\n' ' ')
if [ "$(readlink "$WINEPREFIX/dosdevices/com5")" != "$pts" ] || ! grep -qw COM5 <<<"$listed" ||
   [ "$(readlink "$WINEPREFIX/dosdevices/com1")" != /dev/ptmx ]; then
  echo "e2e-dialog: the prefix does not map COM1 to /dev/ptmx and COM5 to $pts (listed: $listed)"
  ls -l "$WINEPREFIX/dosdevices/"
  exit 1
fi
ok "COM5 is velk-sim's $pts; the prefix lists $listed"

start_dialog() { # folder of VelkTest.exe
  (cd "$1" && "$wine" VelkTest.exe >"$work/dialog.log" 2>&1 &)
  win=$(window_id)
  [ -n "$win" ] || { fail "no window \"$title\" appeared"; cat "$work/dialog.log"; exit 1; }
  sleep 1.5 # drawn
  eval "$(xdotool getwindowgeometry --shell "$win")"
}
close_dialog() {
  xdotool windowfocus "$win" key alt+F4 || true
  for _ in $(seq 40); do
    xdotool search --name "^$title\$" >/dev/null 2>&1 || return 0
    sleep 0.25
  done
  fail "the window did not close on Alt+F4"
}

start_dialog "$windows/src/ui"
if [ "$WIDTH" = 800 ] && [ "$HEIGHT" = 600 ]; then ok "the window \"$title\" is 800 x 600"
else fail "the window is $WIDTH x $HEIGHT, not 800 x 600"; fi
shot "$work/start.png"
if text_of "$work/start.png" | grep -q 'Порт открыт'; then ok "COM5 opened: \"Порт открыт\""
else fail "the port title does not say \"Порт открыт\""; fi

# A good exchange: one click on "Отправить", one request at velk-sim.
before=$(requests)
click_word "Отправить" || fail "no \"Отправить\" button found on the screen"
for _ in $(seq 40); do
  [ "$(requests)" -gt "$before" ] && break
  sleep 0.1
done
sleep 1
shot "$work/answer.png"
if [ "$(requests)" -eq $((before + 1)) ]; then
  ok "one click, one request: $(grep '^REQ' "$work/sim.out" | tail -1 | cut -c1-60)…"
else
  fail "$(($(requests) - before)) requests reached velk-sim for one click"
fi
lamp=$(indicator "$work/answer.png" "$X" "$Y")
if [ "$lamp" = green ] && text_of "$work/answer.png" | grep -q 'Ошибок нет'; then
  ok "the answer is shown: green indicator, \"Ошибок нет.\""
else
  fail "after the answer: indicator $lamp, texts: $(text_of "$work/answer.png" | tr '\n' ' ' | cut -c1-200)"
fi
if [ -n "${SCREENSHOT:-}" ]; then
  import -window "$win" "$SCREENSHOT"
  ok "screenshot $SCREENSHOT"
fi

# The slave falls silent (velk-sim stopped): the time-out text and red.
kill -STOP "$sim_pid"
click_word "Отправить" || true
sleep 1.5
shot "$work/silent.png"
kill -CONT "$sim_pid"
lamp=$(indicator "$work/silent.png" "$X" "$Y")
if [ "$lamp" = red ] && text_of "$work/silent.png" | grep -q 'Ошибка приёма блока данных (тайм-аут)'; then
  ok "a silent slave: red indicator, \"Ошибка приёма блока данных (тайм-аут).\""
else
  fail "a silent slave: indicator $lamp, texts: $(text_of "$work/silent.png" | tr '\n' ' ' | cut -c1-200)"
fi

# A change on the form (SubL of the address block ticked: levels 2 to 4
# open), then the window closed: the settings are in the registry, and a
# second start shows the form as it was left.
click_word "SubL" || fail "no SubL box found on the screen"
sleep 0.5
shot "$work/left.png"
close_dialog
"$wine" reg query "$key" >"$work/reg.txt" 2>/dev/null || true
tr -d '\r' <"$work/reg.txt" >"$work/reg"
values=$(grep -cE '^ +[A-Za-z_0-9]+ +REG_' "$work/reg" || true)
if [ "$values" = 33 ] && grep -qE '^ +portName +REG_SZ +COM5$' "$work/reg" &&
   grep -qE '^ +subLBit +REG_SZ +true$' "$work/reg" && grep -qE '^ +code +REG_SZ +10$' "$work/reg"; then
  ok "closing wrote the 33 settings to $key (portName COM5, subLBit true, code 10)"
else
  fail "the registry after closing holds $values values:"
  cat "$work/reg"
fi
start_dialog "$windows/src/ui"
shot "$work/again.png"
# The request side of the form (address and data blocks, left of the answer).
crop() { /usr/bin/convert "$1" -crop "360x450+$((X + 5))+$((Y + 3))" +repage "$2"; }
crop "$work/left.png" "$work/left-form.png"
crop "$work/again.png" "$work/again-form.png"
differing=$(compare -metric AE "$work/left-form.png" "$work/again-form.png" null: 2>&1 || true)
if [ "$differing" = 0 ]; then ok "a second start shows the form as it was closed"
else fail "a second start shows another form ($differing pixels differ)"; fi
close_dialog

if [ -n "$installer" ]; then
  # The installer, silent, into Program Files; the program from there; the
  # uninstaller, silent.
  program_files="$WINEPREFIX/drive_c/Program Files/VelkTest"
  started=$(date +%s%N)
  "$wine" "$installer" /S >/dev/null 2>&1 || true
  for _ in $(seq 40); do
    [ -f "$program_files/VelkTest.exe" ] && [ -f "$program_files/Uninstall.exe" ] && break
    sleep 0.25
  done
  menu=$(find "$WINEPREFIX/drive_c" -path '*Start Menu*' -name 'VelkTest.lnk' 2>/dev/null | head -1)
  if [ -f "$program_files/VelkTest.exe" ] && [ -f "$program_files/velkctl.exe" ] &&
     [ -f "$program_files/velk-sim.exe" ] && [ -f "$program_files/LICENSE.txt" ] && [ -n "$menu" ]; then
    ok "installed silently in $((($(date +%s%N) - started) / 1000000)) ms: $(cd "$program_files" && ls | tr '\n' ' ')"
  else
    fail "the installer left: $(ls "$program_files" 2>&1 | tr '\n' ' ') (Start menu: ${menu:-none})"
  fi
  start_dialog "$program_files"
  ok "the installed VelkTest.exe starts from its folder"
  close_dialog
  "$wine" "$program_files/Uninstall.exe" /S >/dev/null 2>&1 || true
  for _ in $(seq 40); do
    [ -f "$program_files/VelkTest.exe" ] || break
    sleep 0.25
  done
  if [ ! -e "$program_files/VelkTest.exe" ] && [ ! -e "$program_files/Uninstall.exe" ]; then
    ok "the uninstaller removed it"
  else
    fail "after the uninstaller: $(ls "$program_files" | tr '\n' ' ')"
  fi
fi

[ "$failures" -eq 0 ] || { echo "e2e-dialog: $failures failed"; exit 1; }
echo "e2e-dialog: all passed"
