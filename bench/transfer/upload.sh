#!/bin/bash
# upload.sh [OUTFILE]: one sitting of the upload benchmark, side by side on
# loopback: marlod, vsftpd, pure-ftpd and proftpd each take, in turn and
# never together,
#   - a 256 MiB upload with curl -T from memory (MB/s, median of
#     $CURL_REPEAT, default 5, after one unmeasured run),
#   - 50 uploads of 1 MiB in one session (ftpbench.py stor: MB/s, median),
#     in $SMALL_SESSIONS (3) sessions, the median of their medians,
# into the writable upload/ of the bench kit's tree (peers, and marlod
# through a bind mount of that directory into a throw-away site). marlod does there what a site does with every
# upload: the CRC-32 of every byte (calc_crc *), an entry in the dupe file
# (dupe_check 7) and the bytes added to the directory log, which holds a
# record for /upload.
#
# Then marlod alone, for the cost of what a busy site adds to each upload,
# the 50 uploads of 1 MiB again
#   - with a post_check that only exits 0 (run by the site's static shell),
#   - with that checker, and a directory log of $DATABASE_RECORDS (default
#     100,000) records and a dupe file of as many entries.
# The first marlod pass comes before the peers and is repeated after them
# (marlod-end): the two tell how far the machine drifted in between. The
# summary gives each server's figures, marlod's ratio to the best peer, the
# load average at the start of each server's turn (other work on the
# machine shows in every figure) and the time per 1 MiB upload of each
# marlod set-up.
#
# marlod comes from $MARLOD_PREFIX (default build-bench/prefix, a Release
# build as in run.sh's header) and runs per connection under
# systemd-socket-activate on $MARLOD_PORT (2214). Needs root. Only the
# servers this script started are stopped again.
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
PROJECT=$(cd "$HERE/../.." && pwd)
KIT=${KIT:-$PROJECT/../shared/bench-kit}
PREFIX=${MARLOD_PREFIX:-$PROJECT/build-bench/prefix}
PEERS=${PEERS:-/tmp/peers}
PEERS_LIST=${PEERS_LIST:-"vsftpd pure-ftpd proftpd"}
OUT=${1:-/tmp/marlod-upload-bench.txt}
TREE=/tmp/benchtree
CURL_REPEAT=${CURL_REPEAT:-5}
DATABASE_RECORDS=${DATABASE_RECORDS:-100000}

source "$HERE/marlod_site.sh"

# The previous server's uploads are still being written back for half a
# minute or so; each server starts its turn with none pending, so none
# pays for another's.
settle_writeback() {
    sync
}

load_average() {  # LABEL
    echo "[$1] load average: $(cut -d' ' -f1-3 /proc/loadavg)"
}

curl_upload() {  # LABEL PORT
    "$KIT/curl_stor.sh" 127.0.0.1 "$2" bench benchpw upload/curl-stor.bin 256 "$CURL_REPEAT" | sed "s/^/[$1] /"
}

small_uploads() {  # LABEL PORT
    # One session's rate depends on where the scheduler puts its process:
    # several sessions, and the summary takes the median of their medians.
    for _ in $(seq "${SMALL_SESSIONS:-3}"); do
        "$KIT/ftpbench.py" --port "$2" stor --size 1 --repeat 50 --remote upload/ftpbench-stor.bin | sed "s/^/[$1] /"
    done
}

# A marlod site whose user bench may upload into /upload, with the
# databases filled to RECORDS entries each (0: a dirlog record for /upload
# only, an empty dupe file) and, when CHECKER is 1, a post_check that
# accepts every upload.
make_upload_site() {  # RECORDS CHECKER
    local records=$1 checker=$2
    make_marlod_site
    local root=$MARLOD_SITE/root conf=$MARLOD_SITE/marlod.conf uid gid
    # The uploads go into the very directory the peers write into, lent to
    # the site by a bind mount, so that every server's new files come from
    # the same part of the file system. A directory made afresh in /tmp
    # lands among the inodes that test runs have just freed, and ext4
    # without a journal places each new file there only after passing over
    # every one of them freed in the last minutes: 7 % of the daemon's time
    # per 1 MiB upload went to that walk. The site's user takes the ids of
    # the kit's user, whose directory it is (the daemon creates uploads
    # with the user's ids).
    uid=$(id -u bench) gid=$(id -g bench)
    sed -i "s/^bench:\([^:]*\):[0-9]*:[0-9]*:/bench:\1:$uid:$gid:/" "$root/etc/passwd"
    install -d "$root/upload"
    mount --bind "$TREE/upload" "$root/upload"
    grep -qx 'calc_crc \*' "$conf" || echo 'calc_crc *' >> "$conf"
    echo 'dupe_check 7' >> "$conf"
    grep -q '^dirlog \* \*' "$conf" || echo 'dirlog * *' >> "$conf"
    "$HERE/fill_databases.py" "$root/ftp-data" --dir /upload --uid "$uid" --gid "$gid" \
        --dirlog "$((records > 0 ? records : 1))" --dupes "$records"
    if [ "$checker" = 1 ]; then
        # Site scripts run inside the root, where only a static shell works.
        cp /bin/busybox "$root/bin/busybox"
        ln -sf busybox "$root/bin/sh"
        printf '#!/bin/sh\nexit 0\n' > "$root/bin/post_check"
        chmod 0755 "$root/bin/busybox" "$root/bin/post_check"
        echo 'post_check /bin/post_check /upload/*' >> "$conf"
    fi
}

marlod_sitting() {  # LABEL RECORDS CHECKER WHAT...
    local label=$1 records=$2 checker=$3
    shift 3
    echo; echo "## $label (port $MARLOD_PORT): databases $records records, post_check $checker"
    make_upload_site "$records" "$checker" | sed "s/^/[$label] /"
    settle_writeback
    start_marlod || return 1
    load_average "$label"
    for what in "$@"; do "$what" "$label" "$MARLOD_PORT"; done
    ls -A "$MARLOD_SITE/root/upload" | sed "s/^/[$label] leftover upload: /"
    stop_marlod
}

main() {
    STARTED=""
    trap 'stop_marlod; for n in $STARTED; do "$KIT/peers.sh" stop "$n" >/dev/null 2>&1; done' EXIT INT TERM
    echo "# marlod upload benchmark, $(date -u +%FT%TZ), $(nproc) cpus"
    [ -x "$PREFIX/sbin/marlod" ] || { echo "no marlod under $PREFIX (see the header)"; exit 1; }
    [ -x /bin/busybox ] || { echo "no /bin/busybox (Debian's busybox-static) for the site's shell"; exit 1; }
    [ -x "$PEERS/vsftpd/usr/sbin/vsftpd" ] || "$KIT/peers.sh" prepare
    BENCH_HASH=sha512 "$KIT/make_tree.sh" | tail -2
    # A tree made just now is still being written out; the first server
    # measured would pay for that alone.
    sync
    echo "upload filesystem: $(df -hT "$TREE" | awk 'NR == 2 { print $2, $1 }')"

    marlod_sitting marlod 0 0 curl_upload small_uploads

    for n in $PEERS_LIST; do
        if [ -s "$PEERS/run/$n/pid.bench" ] && kill -0 "$(cat "$PEERS/run/$n/pid.bench")" 2>/dev/null; then
            echo "## $n is running for another sitting: skipped"; continue
        fi
        echo; echo "## $n"
        settle_writeback
        "$KIT/peers.sh" start "$n" || continue
        STARTED="$n"
        case $n in vsftpd) p=2201 ;; pure-ftpd) p=2202 ;; proftpd) p=2203 ;; esac
        load_average "$n"
        curl_upload "$n" "$p"
        small_uploads "$n" "$p"
        "$KIT/peers.sh" stop "$n"
        STARTED=""
        ls -A "$TREE/upload" | sed "s/^/[$n] leftover upload: /"
        sleep 2
    done

    marlod_sitting marlod-end 0 0 curl_upload small_uploads
    marlod_sitting marlod+check 0 1 small_uploads
    marlod_sitting "marlod+check+db" "$DATABASE_RECORDS" 1 small_uploads

    echo; echo "## summary"
    "$HERE/upload_summary.py" "$OUT.raw"
}

main 2>&1 | tee "$OUT.raw"
"$HERE/upload_summary.py" "$OUT.raw" > "$OUT"
