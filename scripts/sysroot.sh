# The files of a Debian suite's packages for another processor, unpacked in a
# folder (a sysroot): what the cross compiler builds against, and what
# qemu-user runs the program with. Packages of two architectures cannot all
# be installed side by side on the build machine (the mirror's arm64 packages
# may lag its amd64 ones), so they are fetched with apt-get download in a
# copy of a Debian system of that suite and unpacked with dpkg-deb -x. Kept
# beside the Debian systems (scripts/chroot.sh), sourced after it.
#
#   sysroot_ensure BASE ARCH ROLE PACKAGE...   prints the folder of ARCH's
#       PACKAGEs and everything they depend on (the first of each set of
#       alternatives), BASE being a Debian system of the suite (chroot_ensure)
#
# In the folder, .namewheel/files lists "PACKAGE PATH" for every file, as
# dpkg -S would tell.
#   NAMEWHEEL_SYSROOT_CACHE=DIR   the cache (/var/cache/namewheel/sysroots)

NAMEWHEEL_SYSROOT_CACHE=${NAMEWHEEL_SYSROOT_CACHE:-/var/cache/namewheel/sysroots}
# Raised whenever the way the folders are made changes.
NAMEWHEEL_SYSROOT_RECIPE=1

sysroot_say() { echo "sysroot: $*" >&2; }

# The architecture of a package's candidate version (all, amd64, ...).
sysroot_package_arch() {
    chroot "$1" apt-cache show --no-all-versions "$2" 2>/dev/null | sed -n 's/^Architecture: //p' | head -n 1
}

# sysroot_closure ROOT ARCH PACKAGE...: the packages to fetch, one a line:
# ARCH's own ones as NAME:ARCH and the architecture-independent ones. A
# dependency the build machine's own architecture satisfies (a tool) is left
# out, and so is what only it needs.
sysroot_closure() {
    local root=$1 arch=$2
    shift 2
    local -A seen=()
    local todo=() next name
    for name in "$@"; do
        if [ "$(sysroot_package_arch "$root" "$name")" = all ]; then todo+=("$name"); else todo+=("$name:$arch"); fi
    done
    while [ ${#todo[@]} -gt 0 ]; do
        next=()
        for name in "${todo[@]}"; do
            [ -n "${seen[$name]:-}" ] && continue
            seen[$name]=1
            echo "$name"
        done
        # The first of each set of alternatives, a virtual package's first
        # provider; apt prints " |Depends: A" then "  Depends: B" for "A | B",
        # and the providers indented under a dependency.
        while read -r name; do
            [ -n "${seen[$name]:-}" ] || next+=("$name")
        done < <(chroot "$root" apt-cache depends --no-recommends --no-suggests --no-conflicts --no-breaks \
            --no-replaces --no-enhances "${todo[@]}" 2>/dev/null | awk -v arch="$arch" '
            function take(n) { if (n !~ /^</) print n }
            /^    / { if (pending ~ /^</) { sub(/^ +/, ""); take($0); pending = "" } next }
            { if (pending != "") { take(pending); pending = "" } }
            /^[^ ]/ { skip = 0; next }
            /^ \|(Pre)?Depends: / { if (!skip) pending = $2; skip = 1; next }
            /^  (Pre)?Depends: / { if (!skip) pending = $2; skip = 0; next }
            END { if (pending != "") take(pending) }' | sort -u)
        # Only ARCH's packages and those of every architecture go on.
        todo=()
        for name in "${next[@]}"; do
            case "$name" in
                *:"$arch") todo+=("$name") ;;
                *:*) ;;
                *) [ "$(sysroot_package_arch "$root" "$name")" = all ] && todo+=("$name") ;;
            esac
        done
    done
}

# sysroot_download ROOT < PACKAGES: fetches them into ROOT's /debs. A mirror
# may list a version of another architecture's package in its indexes that it
# does not hold (security updates for arm64 come late to some): then the
# newest version that can be had is taken.
sysroot_download() {
    local root=$1 packages name version
    packages=$(cat)
    chroot "$root" sh -c 'cd /debs && xargs apt-get download' <<<"$packages" || true
    for name in $packages; do
        compgen -G "$root/debs/${name%:*}_*.deb" >/dev/null && continue
        for version in $(chroot "$root" apt-cache madison "$name" | awk -F'|' '{ gsub(/ /, "", $2); print $2 }'); do
            chroot "$root" sh -c 'cd /debs && apt-get download "$1"' sh "$name=$version" && break
        done
        compgen -G "$root/debs/${name%:*}_*.deb" >/dev/null || { echo "no version of $name could be fetched"; return 1; }
        echo "took $name $version instead of the newest listed"
    done
}

sysroot_ensure() {
    local base=$1 arch=$2 role=$3
    shift 3
    local suite stamp dir
    suite=$(head -n 1 "$base/.namewheel-complete" 2>/dev/null) || { sysroot_say "$base is not a finished Debian system"; return 1; }
    stamp=$(printf '%s\n' "$NAMEWHEEL_SYSROOT_RECIPE" "$(chroot_mirrors)" "$suite" "$arch" "$role" "$@" | sha256sum | cut -c1-12)
    dir=$NAMEWHEEL_SYSROOT_CACHE/$suite-$arch-$role-$stamp
    mkdir -p "$NAMEWHEEL_SYSROOT_CACHE"
    (
        flock 9
        [ -f "$dir/.namewheel/complete" ] && exit 0
        local tmp=$dir.partial work root rc=0 deb link target
        rm -rf "$tmp" "$tmp.log"
        mkdir -p "$tmp/.namewheel"
        sysroot_say "unpacking $suite's $arch packages ($role) into $dir (once)"
        work=$(mktemp -d /var/tmp/namewheel-sysroot.XXXXXX)
        root=$work/root
        chroot_overlay "$base" "$root" || exit 1
        chroot_mount_system "$root"
        mkdir -p "$root/debs"
        chroot "$root" chown _apt /debs
        {
            chroot "$root" dpkg --add-architecture "$arch" &&
                chroot "$root" apt-get update &&
                sysroot_closure "$root" "$arch" "$@" >"$tmp/.namewheel/packages" &&
                sysroot_download "$root" <"$tmp/.namewheel/packages"
        } >>"$tmp.log" 2>&1 || rc=1
        chroot_umount_system "$root"
        if [ $rc -eq 0 ]; then
            for deb in "$root"/debs/*.deb; do
                dpkg-deb -x "$deb" "$tmp" &&
                    dpkg-deb -c "$deb" | awk -v p="$(dpkg-deb -f "$deb" Package)" '{ sub(/^\./, "", $6); if ($6 != "/") print p, $6 }' \
                        >>"$tmp/.namewheel/files" || { rc=1; break; }
            done
        fi
        umount "$root"
        # Nothing may be deleted through a copy that is still mounted.
        mountpoint -q "$root" || rm -rf "$work"
        [ $rc -eq 0 ] || { sysroot_say "making the $arch folder failed: $(tail -5 "$tmp.log")"; exit 1; }
        # Links that name a whole path point into the folder instead.
        while IFS= read -r -d '' link; do
            target=$(readlink "$link")
            ln -sfn "$(realpath -m -s --relative-to="$(dirname "$link")" "$tmp$target")" "$link"
        done < <(find "$tmp" -type l -lname '/*' -print0)
        printf '%s\n' "$suite" "$arch" "$role" "$@" >"$tmp/.namewheel/complete"
        # Folders of an older recipe or package list for the same use go.
        for old in "$NAMEWHEEL_SYSROOT_CACHE/$suite-$arch-$role"-*; do
            case "$old" in "$dir" | "$tmp" | "$tmp.log") continue ;; esac
            [ -d "$old" ] && rm -rf "$old" "$old.log"
        done
        mv "$tmp" "$dir"
        mv "$tmp.log" "$dir.log"
    ) 9>"$NAMEWHEEL_SYSROOT_CACHE/.lock-$suite-$arch-$role" || return 1
    echo "$dir"
}
