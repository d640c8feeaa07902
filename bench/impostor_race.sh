#!/bin/sh
# bench/isolated bench/impostor_race.sh BUNDLE TRIES: as real root, in the
# namespaces bench/isolated gives. Another user's program (uid 1001) holds
# 127.0.0.1:27830 and sends every client the helper's line; the installer of
# BUNDLE (build/installer/HelperInstaller.app) installs TRIES times as an
# unprivileged user, and this counts how often it said "installed and running".
set -eu
bundle=$1
tries=$2
work=$(mktemp -d)
chmod 755 "$work"
cp -a "$bundle" "$work/HelperInstaller.app"
mkdir "$work/home"
setpriv --reuid=1001 --regid=1001 --clear-groups /usr/bin/python3 -c '
import socket
with socket.create_server(("127.0.0.1", 27830)) as listener:
    while True:
        listener.accept()[0].sendall(b"{\"cpuTemp\":52.3,\"cpuTempAvg\":47.9,\"gpuTemp\":41.0,\"gpuUtil\":0.370}\n")
' &
impostor=$!
# A system log that takes one entry every half second, as a busy one may: a
# helper that could not bind then takes up to a second to go, the window in
# which a start proof that asked pgrep found it running.
mkdir -p "$work/dev"
mount --bind /dev "$work/dev"
mount -t tmpfs tmpfs /dev
touch /dev/null
mount --bind "$work/dev/null" /dev/null
/usr/bin/python3 -c '
import socket, time
log = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
log.bind("/dev/log")
while True:
    log.recv(4096)
    time.sleep(0.5)
' &
log=$!
sleep 1
claimed=0
try=0
while [ "$try" -lt "$tries" ]; do
  if printf '1\n\n' | HOME="$work/home" unshare --map-user=1000 --map-group=1000 -- \
    "$work/HelperInstaller.app/Contents/MacOS/HelperInstaller" >/dev/null 2>&1; then
    claimed=$((claimed + 1))
  fi
  try=$((try + 1))
done
echo "$bundle: $claimed of $tries installs said \"installed and running\""
kill "$impostor" "$log"
umount -l /dev "$work/dev"
rm -rf "$work"
