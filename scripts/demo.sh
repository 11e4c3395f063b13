#!/bin/bash
# Builds marlod, installs it into ./demo/prefix, lays a fresh demo site into
# ./demo/site and serves it on 127.0.0.1:2121 through systemd-socket-activate
# (one daemon process per connection, as under a real super-server).
# Run as root: the daemon changes its root into the site.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
install_missing_packages

demo="$PWD/demo"
port=2121
prefix="$demo/prefix"

# --- stop a previous demo and forget its site
if [ -f "$demo/launcher.pid" ]; then
  old=$(cat "$demo/launcher.pid")
  # Only our own launcher: it leads its own process group (setsid below),
  # which also holds the sessions it started.
  if grep -qs systemd-socket-activate "/proc/$old/cmdline"; then
    kill -TERM -- "-$old" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$old" 2>/dev/null || break; sleep 0.1; done
  fi
fi
if [ -f "$demo/marlod.conf" ]; then
  old_key=$(awk '$1 == "ipc_key" { print $2; exit }' "$demo/marlod.conf")
  [ -n "$old_key" ] && ipcrm -M "$old_key" 2>/dev/null || true
fi
rm -rf "$demo"
mkdir -p "$demo"

# --- build and install
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLOD_TESTS=OFF \
      -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
cmake --build build/demo -j "$(nproc)"
cmake --install build/demo >/dev/null

# --- the site, with a first siteop account (allowed from this machine)
"$prefix/bin/marlod-site" create "$demo/site" --config "$demo/marlod.conf" \
  --siteop sysop:marlod

# --- serve it
setsid systemd-socket-activate --inetd -a -l "127.0.0.1:$port" \
  "$prefix/sbin/marlod" -r "$demo/marlod.conf" -l -i -o -n 0 \
  >"$demo/launcher.log" 2>&1 </dev/null &
echo $! > "$demo/launcher.pid"
for _ in $(seq 50); do
  grep -qs "Listening on" "$demo/launcher.log" && break
  sleep 0.1
done
if ! grep -qs "Listening on" "$demo/launcher.log"; then
  echo "the demo server did not start:" >&2
  cat "$demo/launcher.log" >&2
  exit 1
fi

cat <<EOF

marlod demo site is up on 127.0.0.1:$port (site in $demo/site).
Connect with any FTP client, for example:
  lftp -p $port 127.0.0.1          # then e.g.: quote SYST
  curl -v ftp://127.0.0.1:$port/
The siteop account is sysop, password marlod:
  lftp -u sysop,marlod -p $port 127.0.0.1
Logs: $demo/site/ftp-data/logs/   Configuration: $demo/marlod.conf
Stop it with:  kill -TERM -- -\$(cat $demo/launcher.pid)
EOF
