#!/usr/bin/env bash
# The main job in one command: builds the program and its tools, gives the program a sandboxed
# home with sample application data and a stand-in memory card, private buses with the phone's
# services mocked, and a real window (on your display, else under Xvfb). In the window it makes a
# backup from the new-backup sheet, lists it, restores it, and checks every restored file against
# the original, saving pictures of the list and of the finished restore; then it does the same as
# a desktop suite would, through transfer files. Exit status 0 only when every file came back
# unchanged.
#   scripts/demo.sh [--interactive]
# --interactive then leaves the program to you on your display: it is started again whenever it
# closes, and the sandbox stays until you press Enter in the terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

say() { echo "demo: $*"; }

# Stages: build, then a display (Xvfb when there is none), then private buses, then the demo.
if [ "${1:-}" != --inside ] && [ "${1:-}" != --buses ]; then
  if [ "${1:-}" = --interactive ] && [ -z "${DISPLAY:-}" ]; then
    # A window on a virtual screen nobody sees would wait for ever.
    cat >&2 <<'TEXT'
demo: --interactive shows the program's window on your display, and there is none (DISPLAY is
not set). Either run it in a desktop session, or give it a virtual screen and watch that with a
VNC viewer:
    apt-get install xvfb x11vnc
    xvfb-run -a -s "-screen 0 800x1000x24" sh -c \
      'x11vnc -display "$DISPLAY" -localhost -nopw -forever -bg -quiet; scripts/demo.sh --interactive'
and connect a VNC viewer to localhost:5900 (over "ssh -L 5900:localhost:5900" from another
machine). Without --interactive the demo runs on a virtual screen of its own.
TEXT
    exit 2
  fi
  if [ -z "${SAFEHOLD_DEMO_NO_SETUP:-}" ]; then
    say "installing packages…"
    scripts/setup-deps.sh >/dev/null
  fi
  say "building (takes a few minutes the first time)…"
  mkdir -p build
  buildlog=$root/build/demo-build.log
  if ! { cmake -S . -B build -G Ninja &&
    cmake --build build --target safehold safehold-suite safehold-archive safehold-check-config \
      safehold-screenshot safehold-catalogues; } >"$buildlog" 2>&1; then
    tail -n 30 "$buildlog" >&2
    say "the build failed; all of it is in $buildlog" >&2
    exit 1
  fi
  if [ -z "${DISPLAY:-}" ]; then
    if ! command -v xvfb-run >/dev/null; then
      say "there is no display and no xvfb-run to make one: install xvfb, or run it in a" \
        "desktop session" >&2
      exit 2
    fi
    say "starting a virtual screen (Xvfb)…"
    exec xvfb-run -a -s "-screen 0 800x1000x24" "$0" --buses "$@"
  fi
  set -- --buses "$@"
fi
if [ "$1" = --buses ]; then
  shift
  say "starting private buses with the phone's services mocked…"
  # The private buses start from a clean environment; the window still needs the display.
  export SAFEHOLD_DEMO_DISPLAY=$DISPLAY
  exec tests/with-buses "$0" --inside "$@"
fi
shift
export DISPLAY=$SAFEHOLD_DEMO_DISPLAY
interactive=0
[ "${1:-}" = --interactive ] && interactive=1

log=$HOME/demo.log
pids=()
keeper=
cleanup() {
  # The keeper of the interactive program stops it before it goes.
  if [ -n "$keeper" ]; then
    kill -TERM "$keeper" 2>/dev/null || true
    wait "$keeper" 2>/dev/null || true
  fi
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mock() { # BUS NAME PATH INTERFACE
  /usr/bin/python3 -m dbusmock "--$1" "$2" "$3" "$4" >>"$log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    gdbus introspect "--$1" -d "$2" -o "$3" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "demo: the mock $2 did not start" >&2
  exit 1
}
add_method() { # BUS NAME PATH INTERFACE METHOD IN OUT CODE
  gdbus call "--$1" -d "$2" -o "$3" -m org.freedesktop.DBus.Mock.AddMethod "$4" "$5" "$6" "$7" \
    "$8" >/dev/null
}

# The phone's services: USB cable, device state (reboot requests), battery, notifications, and
# an address book that exports its store when told to back up and imports it when told to
# restore.
mock system com.tessel.cablemon /com/tessel/cablemon com.tessel.cablemon
add_method system com.tessel.cablemon /com/tessel/cablemon com.tessel.cablemon mode_request '' s \
  "ret = 'charging_only'"
mock system com.korvel.vigil /com/korvel/vigil/request com.korvel.vigil.request
add_method system com.korvel.vigil /com/korvel/vigil/request com.korvel.vigil.request req_reboot \
  '' '' ''
/usr/bin/python3 -m dbusmock --system --template upower >>"$log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  gdbus introspect --system -d org.freedesktop.UPower -o /org/freedesktop/UPower >/dev/null 2>&1 &&
    break
  sleep 0.1
done
# A battery at 80 %, discharging.
gdbus call --system -d org.freedesktop.UPower -o /org/freedesktop/UPower \
  -m org.freedesktop.DBus.Mock.SetupDisplayDevice 2 2 80.0 10.0 50.0 1.0 3600 0 true battery 1 \
  >/dev/null
mock session org.freedesktop.Notifications /org/freedesktop/Notifications \
  org.freedesktop.Notifications
add_method session org.freedesktop.Notifications /org/freedesktop/Notifications \
  org.freedesktop.Notifications Notify susssasa{sv}i u 'ret = 1'
mock session com.korvel.contacts /com/korvel/contacts com.korvel.backupclient
add_method session com.korvel.contacts /com/korvel/contacts com.korvel.backupclient backup as '' \
  "import os, shutil; h = os.environ['HOME']; os.makedirs(h + '/.contacts/backup', exist_ok=True); \
shutil.copy(h + '/address-book.vcf', h + '/.contacts/backup/contacts.vcf')"
add_method session com.korvel.contacts /com/korvel/contacts com.korvel.backupclient restore \
  assas '' "import os, shutil; h = os.environ['HOME']; \
shutil.copy(h + '/.contacts/backup/contacts.vcf', h + '/address-book.vcf')"

# The settings service flushes and holds its databases while they are packed or put back.
mock session com.korvel.settings /com/korvel/settings com.korvel.backupclient
for method in backupStarts backupFinished restoreStarts restoreFinished; do
  add_method session com.korvel.settings /com/korvel/settings com.korvel.backupclient "$method" \
    '' y 'ret = dbus.Byte(0)'
done

# A third-party notes application that exports its notes when asked.
mock session com.example.Notes /com/example/Notes com.korvel.backupclient
add_method session com.example.Notes /com/example/Notes com.korvel.backupclient backup as y \
  'ret = dbus.Byte(0)'
add_method session com.example.Notes /com/example/Notes com.korvel.backupclient restore assas y \
  'ret = dbus.Byte(0)'

# Sample data: the address book's store, and the settings databases, which the sample
# configurations declare as read in place.
mkdir -p "$HOME/.config/settings" "$HOME/originals"
printf 'BEGIN:VCARD\nFN:Ada Lovelace\nTEL:+44 20 7946 0001\nEND:VCARD\n' >"$HOME/address-book.vcf"
head -c 20000 /dev/urandom >"$HOME/.config/settings/system.db"
printf 'accounts of the demo user\n' >"$HOME/.config/settings/accounts.db"
cp "$HOME/address-book.vcf" "$HOME/originals/contacts.vcf"
cp "$HOME/.config/settings/system.db" "$HOME/.config/settings/accounts.db" "$HOME/originals/"

mkdir -p "$HOME/.safehold"
: >"$HOME/.safehold/trace.conf"

export SAFEHOLD_DATA_DIR=$root/build/data SBOX_UNAME_MACHINE=demo SF_NO_REBOOT=1
program=$root/build/ui/safehold
suite=$root/build/ui/tools/safehold-suite
pictures=${SAFEHOLD_DEMO_PICTURES:-$root/build/demo}
rm -rf "$pictures"
mkdir -p "$pictures"

# A picture of the program's windows once they have had a moment to paint.
picture() { # NAME [SECONDS TO WAIT]
  sleep "${2:-1.5}"
  if "$root/build/ui/tools/safehold-screenshot" "$program_pid" "$pictures/$1.png" 2>>"$log"; then
    echo "   picture: $pictures/$1.png"
  else
    echo "demo: could not take the picture $1 (see $log)" >&2
    status=1
  fi
}
status=0

start_program() {
  "$program" "$@" >>"$log" 2>&1 &
  program_pid=$!
  pids+=($program_pid)
  for _ in $(seq 300); do
    gdbus introspect --session -d com.korvel.backup.plugin -o /com/korvel/backup >/dev/null 2>&1 &&
      return 0
    sleep 0.1
  done
  echo "demo: the program did not come up (see $log)" >&2
  exit 1
}

traced() { # TEXT: how often the program has traced it so far
  grep -c -F "$1" "$HOME/.safehold/trace.log" 2>/dev/null || true
}
wait_trace() { # TEXT COUNT: waits until the program has traced TEXT more than COUNT times
  for _ in $(seq 1200); do
    [ "$(traced "$1")" -gt "$2" ] && return 0
    sleep 0.1
  done
  echo "demo: the program never traced \"$1\" (see $HOME/.safehold/trace.log)" >&2
  exit 1
}
# Taps at x y of the program's window, as a finger would.
tap() { # X Y
  xdotool mousemove --window "$window" "$1" "$2" click 1
  sleep 1
}
check() { # ORIGINAL RESTORED
  if cmp -s "$1" "$2"; then
    echo "   same: $2"
  else
    echo "   DIFFERS: $2" >&2
    status=1
  fi
}
check_all() {
  check "$HOME/originals/contacts.vcf" "$HOME/address-book.vcf"
  check "$HOME/originals/system.db" "$HOME/.config/settings/system.db"
  check "$HOME/originals/accounts.db" "$HOME/.config/settings/accounts.db"
}
wipe() {
  rm -f "$HOME/address-book.vcf"
  printf 'overwritten\n' >"$HOME/.config/settings/system.db"
  rm -f "$HOME/.config/settings/accounts.db"
}

# In the window, as a user would: a new backup with notes, the list, a restore of it.
echo "1. Starting the program in its window (sandbox home: $HOME)…"
start_program
window=$(xdotool search --sync --onlyvisible --pid "$program_pid" | head -1)
sleep 1
loads=$(traced "Backup list loading is completed")
echo "2. Making a backup: New backup, notes typed, Start…"
tap 240 127 # New backup
tap 240 125 # the notes field
xdotool type --delay 20 "Before the trip"
tap 430 38 # Start
wait_trace "Backup engine finished" 0
wait_trace "Backup list loading is completed" "$loads"
echo "   The list shows the new backup with its notes:"
picture backup-list
wipe
echo "3. Wiping the data: the address book emptied, system.db overwritten, accounts.db removed."
echo "4. Restoring the backup from the list: the backup, Restore, Yes…"
tap 240 215 # the backup in the list
tap 240 735 # Restore
tap 340 492 # Yes, on the right of the box drawn over the sheet
wait_trace "Restore finished, status code" 0
# The program asks for the restart two seconds after the restore and, with the restart switched
# off by SF_NO_REBOOT, closes instead.
picture restore-finished 0.5
wait "$program_pid" || true
echo "   Every restored file against its original:"
check_all

# The desktop suite's way over USB, through the same running program.
echo "5. Backing up contacts and settings as a desktop suite would, into transfer files…"
start_program
"$suite" backup contacts settings -o "$HOME/transfers" >>"$log" 2>&1
wait "$program_pid" || true
ls -l "$HOME/transfers" | sed 1d | sed 's/^/   /'
wipe
echo "6. Wiping again and restoring from the transfer files…"
start_program
"$suite" restore "$HOME/transfers/contacts.transfer" "$HOME/transfers/settings.transfer" \
  >>"$log" 2>&1
echo "   Every restored file against its original:"
check_all
kill "$program_pid" 2>/dev/null || true
wait "$program_pid" 2>/dev/null || true

if [ "$status" = 0 ]; then
  echo "Demo passed. Pictures: $pictures"
else
  echo "Demo FAILED: a restored file differs or a picture is missing (log: $log)." >&2
fi

if [ "$interactive" = 1 ]; then
  backups=$HOME/MyDocs/.backups
  archive=$root/build/engine/tools/safehold-archive
  cat <<TEXT
7. Your turn: the program is in its window. Restoring closes it (the restart is switched off);
   it is started again each time, so that you can try another restore.
   The sandbox, a home of its own: $HOME
   Its backups, read with safehold-archive:
     $archive list $backups
     $archive show $backups/Backup0
     $archive verify $backups/Backup0
     $archive extract $backups/Backup0 $HOME/extracted
   Press Enter here to end the demo; the sandbox is removed then.
TEXT
  # The program again whenever it closes, until Enter; a stop also stops the program (which
  # takes SIGTERM for the device's shutdown and waits for it).
  (
    child=
    trap 'kill -9 "$child" 2>/dev/null; wait "$child" 2>/dev/null; exit 0' TERM
    while :; do
      "$program" >>"$log" 2>&1 &
      child=$!
      wait "$child" || true
      echo "   The program closed; starting it again (Enter here ends the demo)."
      sleep 1
    done
  ) &
  keeper=$!
  read -r _ || true
fi
exit $status
