# Sourced by the transfer benchmarks: a throw-away marlod site whose user
# "bench" (password "benchpw", a leech so that 1 GiB downloads need no
# credits) sees the bench kit's tree as its home, and the daemon started
# per connection by systemd-socket-activate (MARLOD_LAUNCHER_OPTIONS: more
# options for the launcher itself, such as -E VARIABLE=VALUE). MARLOD_CREATE_OPTIONS
# are added to `marlod-site create` (--tls for a site that serves explicit TLS).
MARLOD_PORT=${MARLOD_PORT:-2214}
MARLOD_SITE=${MARLOD_SITE:-/tmp/marlod-transfer-bench.$$}
MARLOD_IPC_KEY=${MARLOD_IPC_KEY:-$(printf '%x' $((0x5eed0000 + $$ % 65536)))}
MARLOD_LAUNCHER_PID=""

# Directories another tree lends the site (see upload.sh) go back first, so
# removing the site never reaches into them.
unmount_site_directories() {
    findmnt -rn -o TARGET | grep "^$MARLOD_SITE/" | sort -r | while read -r target; do
        umount "$target"
    done
}

make_marlod_site() {
    unmount_site_directories
    rm -rf "$MARLOD_SITE"
    mkdir -p "$MARLOD_SITE"
    "$PREFIX/bin/marlod-site" create "$MARLOD_SITE/root" --config "$MARLOD_SITE/marlod.conf" \
        --ipc-key "$MARLOD_IPC_KEY" --share "$PREFIX/share/marlod" ${MARLOD_CREATE_OPTIONS:-} >/dev/null
    "$PREFIX/bin/marlod-site" adduser "$MARLOD_SITE/marlod.conf" bench benchpw --flags 3 --ip '*@*' >/dev/null
    sed -i 's/^RATIO .*/RATIO 0/; s/^LOGINS .*/LOGINS 50 0 -1 -1/' "$MARLOD_SITE/root/ftp-data/users/bench"
    sed -i 's/^max_users .*/max_users 100 50/' "$MARLOD_SITE/marlod.conf"
    # The passive ports the kit gives the peers. Left to choose, the system
    # searches its whole ephemeral range for a port no socket holds, and a
    # sitting leaves tens of thousands of them in TIME_WAIT there: each PASV
    # then cost more than the transfer it opened.
    echo "pasv_ports ${PASV_MIN:-20000}-${PASV_MAX:-29999}" >>"$MARLOD_SITE/marlod.conf"
    # The home is the site root: hard links put the tree there without a copy.
    cp -al "$TREE/big.bin" "$TREE/small.bin" "$TREE/many" "$MARLOD_SITE/root/"
}

start_marlod() {
    # shellcheck disable=SC2086
    systemd-socket-activate --inetd -a -l "127.0.0.1:$MARLOD_PORT" ${MARLOD_LAUNCHER_OPTIONS:-} \
        "$PREFIX/sbin/marlod" -r "$MARLOD_SITE/marlod.conf" -n 0 -I "$@" \
        >"$MARLOD_SITE/launcher.log" 2>&1 &
    MARLOD_LAUNCHER_PID=$!
    for _ in $(seq 100); do
        grep -q "Listening on" "$MARLOD_SITE/launcher.log" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "marlod launcher did not start"; cat "$MARLOD_SITE/launcher.log"; return 1
}

stop_marlod() {
    [ -n "$MARLOD_LAUNCHER_PID" ] || return 0
    kill "$MARLOD_LAUNCHER_PID" 2>/dev/null
    wait "$MARLOD_LAUNCHER_PID" 2>/dev/null
    MARLOD_LAUNCHER_PID=""
    ipcrm -M "0x$MARLOD_IPC_KEY" 2>/dev/null || true
    unmount_site_directories
    rm -rf "$MARLOD_SITE"
}
