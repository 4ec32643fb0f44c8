# Minimal Debian systems in folders (debootstrap), made once and kept in a
# cache outside the work tree, so that a fresh clone on the same machine
# finds them again. Sourced by the release script and the portable tests.
#
#   chroot_ensure SUITE ROLE PACKAGE...   prints the folder of a minbase SUITE
#                                         with PACKAGEs installed
#   chroot_overlay BASE DIR               DIR: a writable copy of BASE (overlay)
#   chroot_bind_system DIR                /proc, /dev, /dev/shm, /tmp/.X11-unix
#
# Mounts belong in a private mount namespace (chroot_private re-runs the
# calling script in one), so that they all go when the script ends, whatever
# way it ends.
#   NAMEWHEEL_CHROOT_CACHE=DIR   the cache (/var/cache/namewheel/chroots)

NAMEWHEEL_CHROOT_CACHE=${NAMEWHEEL_CHROOT_CACHE:-/var/cache/namewheel/chroots}
# Raised whenever the way the systems are made changes, so that old ones are
# made anew.
NAMEWHEEL_CHROOT_RECIPE=1

chroot_say() { echo "chroot: $*" >&2; }

# The Debian mirror apt uses on this machine, and the security one if any:
# "MIRROR SECURITY_MIRROR".
chroot_mirrors() {
    local main="" security="" uri suites
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        while read -r uri suites; do
            case "$suites" in
                *-security*) [ -n "$security" ] || security=$uri ;;
                *) [ -n "$main" ] || main=$uri ;;
            esac
        done < <(awk '/^URIs:/ { uri = $2 } /^Suites:/ { $1 = ""; print uri, $0 } /^$/ { uri = "" }' \
            /etc/apt/sources.list.d/debian.sources)
    fi
    if [ -z "$main" ] && [ -f /etc/apt/sources.list ]; then
        main=$(awk '$1 == "deb" && $3 !~ /-security/ { print $2; exit }' /etc/apt/sources.list)
        security=$(awk '$1 == "deb" && $3 ~ /-security/ { print $2; exit }' /etc/apt/sources.list)
    fi
    [ -n "$main" ] || return 1
    echo "$main ${security:--}"
}

# Whether SUITE can be had from this machine's mirror (its release file).
chroot_suite_reachable() {
    local mirrors
    mirrors=$(chroot_mirrors) || return 1
    # wget comes with debootstrap.
    if command -v wget >/dev/null 2>&1; then
        wget -q --spider --timeout=60 "${mirrors%% *}/dists/$1/InRelease"
    else
        curl -fsI --max-time 60 "${mirrors%% *}/dists/$1/InRelease" >/dev/null
    fi
}

# The stamp of a system: what it was made from.
chroot_stamp() {
    printf '%s\n' "$NAMEWHEEL_CHROOT_RECIPE" "$(chroot_mirrors)" "$@" | sha256sum | cut -c1-12
}

chroot_mount_system() {
    local dir=$1
    mountpoint -q "$dir/proc" || mount -t proc proc "$dir/proc"
    mountpoint -q "$dir/dev" || mount --bind /dev "$dir/dev"
    mkdir -p "$dir/dev/shm"
    mountpoint -q "$dir/dev/shm" || mount -t tmpfs -o mode=1777,nosuid,nodev shm "$dir/dev/shm"
}

chroot_umount_system() {
    local dir=$1 m
    for m in dev/shm dev proc tmp/.X11-unix; do
        mountpoint -q "$dir/$m" 2>/dev/null && umount -l "$dir/$m"
    done
    return 0
}

# Makes SUITE-ROLE-STAMP in the cache unless it is there; prints its folder.
chroot_ensure() {
    local suite=$1 role=$2
    shift 2
    local stamp dir mirrors main security tmp rc=0
    [ -n "${NAMEWHEEL_IN_PRIVATE_MOUNTS:-}" ] || { chroot_say "chroot_ensure needs chroot_private first"; return 1; }
    stamp=$(chroot_stamp "$suite" "$role" "$@")
    dir=$NAMEWHEEL_CHROOT_CACHE/$suite-$role-$stamp
    mkdir -p "$NAMEWHEEL_CHROOT_CACHE"
    (
        flock 9
        [ -f "$dir/.namewheel-complete" ] && exit 0
        command -v debootstrap >/dev/null || { chroot_say "debootstrap is not installed"; exit 1; }
        mirrors=$(chroot_mirrors) || { chroot_say "no Debian mirror in this machine's apt sources"; exit 1; }
        main=${mirrors%% *}
        security=${mirrors#* }
        tmp=$dir.partial
        if mountpoint -q "$tmp/proc" 2>/dev/null || mountpoint -q "$tmp/dev" 2>/dev/null; then
            chroot_umount_system "$tmp"
        fi
        rm -rf "$tmp"
        chroot_say "making $suite ($role) from $main into $dir (once)"
        debootstrap --variant=minbase "$suite" "$tmp" "$main" >"$tmp.log" 2>&1 ||
            { chroot_say "debootstrap $suite failed: $(tail -3 "$tmp.log")"; exit 1; }
        {
            echo "deb $main $suite main"
            echo "deb $main $suite-updates main"
            [ "$security" = - ] || echo "deb $security $suite-security main"
        } >"$tmp/etc/apt/sources.list"
        # No services start inside.
        printf '#!/bin/sh\nexit 101\n' >"$tmp/usr/sbin/policy-rc.d"
        chmod 755 "$tmp/usr/sbin/policy-rc.d"
        chroot_mount_system "$tmp"
        {
            chroot "$tmp" apt-get update &&
                DEBIAN_FRONTEND=noninteractive chroot "$tmp" apt-get install -y --no-install-recommends "$@" &&
                chroot "$tmp" apt-get clean
        } >>"$tmp.log" 2>&1 || rc=1
        chroot_umount_system "$tmp"
        [ $rc -eq 0 ] || { chroot_say "installing into $suite failed: $(tail -5 "$tmp.log")"; exit 1; }
        # An ordinary user, as the program is started by one.
        chroot "$tmp" useradd --create-home --uid 1000 --shell /bin/sh teacher >>"$tmp.log" 2>&1 ||
            { chroot_say "useradd failed in $suite"; exit 1; }
        printf '%s\n' "$suite" "$role" "$@" >"$tmp/.namewheel-complete"
        # Systems of an older recipe or package list for the same use go.
        for old in "$NAMEWHEEL_CHROOT_CACHE/$suite-$role"-*; do
            case "$old" in "$dir" | "$tmp" | "$tmp.log") continue ;; esac
            [ -d "$old" ] && ! mountpoint -q "$old/proc" && rm -rf "$old" "$old.log"
        done
        mv "$tmp" "$dir"
        mv "$tmp.log" "$dir.log"
    ) 9>"$NAMEWHEEL_CHROOT_CACHE/.lock-$suite-$role" || return 1
    echo "$dir"
}

# chroot_overlay BASE DIR: DIR shows BASE, and what is written lands in
# DIR.upper; BASE stays as it was.
chroot_overlay() {
    local base=$1 dir=$2
    mkdir -p "$dir" "$dir.upper" "$dir.work"
    mount -t overlay overlay -o "lowerdir=$base,upperdir=$dir.upper,workdir=$dir.work" "$dir"
}

# chroot_bind_system DIR: the kernel's file systems and the X server's socket
# folder, as a desktop session has them.
chroot_bind_system() {
    local dir=$1
    chroot_mount_system "$dir"
    if [ -d /tmp/.X11-unix ]; then
        mkdir -p "$dir/tmp/.X11-unix"
        mount --bind /tmp/.X11-unix "$dir/tmp/.X11-unix"
    fi
}

# chroot_private_refused: why this machine cannot make a private mount
# namespace, in unshare's words; nothing when it can. (Inside a chroot whose
# / is no mount point, as in many containers, / cannot be made private.)
chroot_private_refused() {
    command -v unshare >/dev/null || { echo "unshare is not installed"; return 0; }
    local why
    why=$(unshare --mount --propagation private true 2>&1) && return 0
    echo "${why:-unshare --mount --propagation private failed}"
}

# chroot_private "$@": re-runs the calling script in a private mount
# namespace (once), so its mounts end with it.
chroot_private() {
    [ -n "${NAMEWHEEL_IN_PRIVATE_MOUNTS:-}" ] && return 0
    local why
    why=$(chroot_private_refused)
    [ -z "$why" ] || { chroot_say "the Debian systems need private mounts, which this machine cannot make: $why"; exit 1; }
    export NAMEWHEEL_IN_PRIVATE_MOUNTS=1
    exec unshare --mount --propagation private bash "$0" "$@"
}
