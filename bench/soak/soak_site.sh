# Sourced by the soak and the kill test, with bench/transfer/marlod_site.sh:
# a site with many accounts soak0000.. (password "soakpw", ratio 3, credits
# enough for any download, up to 5 logins each), each with its own upload
# directory /soak/NAME, and the shared files /soak/shared/blob{0,1,2}.bin
# (2 KiB, 64 KiB, 1 MiB) that every account may download.
#   make_soak_site ACCOUNTS MAX_USERS EXTRA_SLOTS
make_soak_site() {
    local accounts=$1 max_users=$2 extra=$3 i name uid
    rm -rf "$MARLOD_SITE"
    mkdir -p "$MARLOD_SITE"
    "$PREFIX/bin/marlod-site" create "$MARLOD_SITE/root" --config "$MARLOD_SITE/marlod.conf" \
        --ipc-key "$MARLOD_IPC_KEY" --share "$PREFIX/share/marlod" >/dev/null
    sed -i "s/^max_users .*/max_users $max_users $extra/" "$MARLOD_SITE/marlod.conf"
    echo "dupe_check 7" >>"$MARLOD_SITE/marlod.conf"
    mkdir -p "$MARLOD_SITE/root/soak/shared"
    for i in $(seq 0 $((accounts - 1))); do
        name=$(printf 'soak%04d' "$i")
        "$PREFIX/bin/marlod-site" adduser "$MARLOD_SITE/marlod.conf" "$name" soakpw --ip '*@*' >/dev/null
        sed -i 's/^CREDITS .*/CREDITS 100000000/; s/^LOGINS .*/LOGINS 5 0 -1 -1/' \
            "$MARLOD_SITE/root/ftp-data/users/$name"
        uid=$(awk -F: -v n="$name" '$1 == n { print $3 }' "$MARLOD_SITE/root/etc/passwd")
        mkdir "$MARLOD_SITE/root/soak/$name"
        chown "$uid:100" "$MARLOD_SITE/root/soak/$name"
    done
    head -c 2048 /dev/urandom >"$MARLOD_SITE/root/soak/shared/blob0.bin"
    head -c 65536 /dev/urandom >"$MARLOD_SITE/root/soak/shared/blob1.bin"
    head -c 1048576 /dev/urandom >"$MARLOD_SITE/root/soak/shared/blob2.bin"
    chmod 0644 "$MARLOD_SITE"/root/soak/shared/*
    mkdir -p -m 1777 "$MARLOD_SITE/root/tmp"
}

# PREFIX, when not set: a Release build made here into build/rel/prefix.
#   use_release_build REPO
use_release_build() {
    [ -n "${PREFIX:-}" ] && return 0
    PREFIX=$1/build/rel/prefix
    cmake -S "$1" -B "$1/build/rel" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DMARLOD_TESTS=OFF -DCMAKE_INSTALL_PREFIX="$PREFIX" >/dev/null
    cmake --build "$1/build/rel" -j2 >/dev/null
    cmake --install "$1/build/rel" >/dev/null
}
