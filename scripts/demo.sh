#!/usr/bin/env bash
# The main job in one command: builds the program, gives it a sandboxed home with sample
# application data and a stand-in memory card, private buses with the phone's services mocked,
# and a real window (on your display, else under Xvfb). It opens the new-backup sheet through the
# launch interface, backs up contacts and settings through the desktop-suite interface, wipes
# them, restores them, and checks every restored file against the original. Exit status 0 only
# when every file came back unchanged.
#   scripts/demo.sh [--interactive]    --interactive: leave the window open to try it yourself
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# Stages: build, then a display (Xvfb when there is none), then private buses, then the demo.
if [ "${1:-}" != --inside ] && [ "${1:-}" != --buses ]; then
  if [ -z "${SAFEHOLD_DEMO_NO_SETUP:-}" ]; then
    scripts/setup-deps.sh >/dev/null
  fi
  cmake -S . -B build -G Ninja >/dev/null
  cmake --build build --target safehold safehold-suite safehold-catalogues >/dev/null
  if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 800x1000x24" "$0" --buses "$@"
  fi
  set -- --buses "$@"
fi
if [ "$1" = --buses ]; then
  shift
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
cleanup() { for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT

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
# an address book that imports its export area when told to restore.
mock system com.tessel.cablemon /com/tessel/cablemon com.tessel.cablemon
add_method system com.tessel.cablemon /com/tessel/cablemon com.tessel.cablemon mode_request '' s \
  "ret = 'charging_only'"
mock system com.korvel.vigil /com/korvel/vigil/request com.korvel.vigil.request
add_method system com.korvel.vigil /com/korvel/vigil/request com.korvel.vigil.request req_reboot \
  '' '' ''
/usr/bin/python3 -m dbusmock --system --template upower >>"$log" 2>&1 &
pids+=($!)
mock session org.freedesktop.Notifications /org/freedesktop/Notifications \
  org.freedesktop.Notifications
add_method session org.freedesktop.Notifications /org/freedesktop/Notifications \
  org.freedesktop.Notifications Notify susssasa{sv}i u 'ret = 1'
mock session com.korvel.contacts /com/korvel/contacts com.korvel.backupclient
add_method session com.korvel.contacts /com/korvel/contacts com.korvel.backupclient backup as '' ''
add_method session com.korvel.contacts /com/korvel/contacts com.korvel.backupclient restore \
  assas '' "import os, shutil; h = os.environ['HOME']; \
shutil.copy(h + '/.contacts/backup/contacts.vcf', h + '/address-book.vcf')"

# Sample data as the sample configurations declare it: the address book's export dump, and the
# settings databases read in place.
mkdir -p "$HOME/.contacts/backup" "$HOME/.config/settings" "$HOME/originals"
printf 'BEGIN:VCARD\nFN:Ada Lovelace\nTEL:+44 20 7946 0001\nEND:VCARD\n' \
  >"$HOME/.contacts/backup/contacts.vcf"
head -c 20000 /dev/urandom >"$HOME/.config/settings/system.db"
printf 'accounts of the demo user\n' >"$HOME/.config/settings/accounts.db"
cp "$HOME/.contacts/backup/contacts.vcf" "$HOME/originals/contacts.vcf"
cp "$HOME/.config/settings/system.db" "$HOME/.config/settings/accounts.db" "$HOME/originals/"

export SAFEHOLD_DATA_DIR=$root/build/data SBOX_UNAME_MACHINE=demo SF_NO_REBOOT=1
program=$root/build/ui/safehold
suite=$root/build/ui/tools/safehold-suite

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

start_program
echo "1. The program runs in a window; the new-backup sheet opened through its launch interface:"
echo "   $(gdbus call --session -d com.korvel.backup -o /com/korvel/backup/app \
  -m com.korvel.backup.launch opennewbackup)"
sleep 1
"$suite" backup contacts settings -o "$HOME/transfers"
wait "$program_pid" || true
echo "2. Backed up contacts and settings to $HOME/transfers:"
ls -l "$HOME/transfers" | sed 1d | sed 's/^/   /'
echo "   The program closed after the backup, as it does for the desktop suite."

rm -f "$HOME/address-book.vcf"
printf 'overwritten\n' >"$HOME/.config/settings/system.db"
rm -f "$HOME/.config/settings/accounts.db"
echo "3. Wiped: the contacts dump was packed away; system.db overwritten; accounts.db removed."

start_program
"$suite" restore "$HOME/transfers/contacts.transfer" "$HOME/transfers/settings.transfer"
echo "4. Restored through the running program (reboot switched off by SF_NO_REBOOT)."

status=0
check() { # ORIGINAL RESTORED
  if cmp -s "$1" "$2"; then
    echo "   same: $2"
  else
    echo "   DIFFERS: $2" >&2
    status=1
  fi
}
echo "5. Every restored file against its original:"
check "$HOME/originals/contacts.vcf" "$HOME/address-book.vcf"
check "$HOME/originals/system.db" "$HOME/.config/settings/system.db"
check "$HOME/originals/accounts.db" "$HOME/.config/settings/accounts.db"

if [ "$interactive" = 1 ]; then
  echo "The window stays open; close it to end the demo."
  wait "$program_pid" || true
fi
[ "$status" = 0 ] && echo "Demo passed." || echo "Demo FAILED: a restored file differs." >&2
exit $status
