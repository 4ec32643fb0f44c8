# The release tests' common start: the end-to-end helpers, the Debian systems
# they make and enter (scripts/chroot.sh, scripts/sysroot.sh) and the package
# lists. What this machine cannot do skips the test (77) and says why.
# shellcheck shell=bash
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$top/tests/e2e/lib.sh"
. "$top/scripts/chroot.sh"
. "$top/scripts/sysroot.sh"
. "$top/scripts/packages.sh"

# needs_root WHAT: making or entering a Debian system needs root.
needs_root() { [ "$(id -u)" = 0 ] || skip "$1, which needs root"; }

# needs_private_mounts: the Debian systems are entered with mounts of their own,
# in a private mount namespace (chroot_private).
needs_private_mounts() {
    local why
    why=$(chroot_private_refused)
    [ -z "$why" ] || skip "this machine cannot make the private mounts the Debian systems need ($why)"
}

# needs_suite SUITE [NAME]: the suite can be fetched from this machine's mirror.
needs_suite() {
    chroot_suite_reachable "$1" ||
        skip "Debian ${2:-$1} cannot be fetched from this machine's mirror ($(chroot_mirrors | cut -d' ' -f1))"
}

needs_qemu() {
    command -v qemu-aarch64 >/dev/null ||
        skip "qemu-aarch64 is not installed (package qemu-user): ARM programs cannot run here"
}

# The packages the README says the Linux folder takes from the system, in
# order and one space apart: those named in its sentence "What it takes from
# the system ..." before the font.
readme_system_packages() {
    sed -n '/What it takes from the system/,/a Chinese font/p' "$top/README.md" | tr '\n' ' ' |
        sed 's/a Chinese font.*//' | grep -o '`[^`]*`' | tr -d '`' | sort -u | tr '\n' ' ' | sed 's/ $//'
}
