# Debian 12 packages, installed once by the set-up scripts (sourced, not run).
NAMEWHEEL_BUILD_PACKAGES="g++ cmake ninja-build qt6-base-dev qt6-translations-l10n libxcb1-dev libsqlite3-dev fonts-wqy-microhei"
# The fuzz targets: clang with its libFuzzer runtime, and the locale sources
# from which scripts/fuzz.sh makes the legacy code pages.
NAMEWHEEL_FUZZ_PACKAGES="clang-14 libclang-rt-14-dev locales"
# The release archive is built in a Debian 11 system that debootstrap makes.
NAMEWHEEL_RELEASE_PACKAGES="debootstrap"
# The Qt input-method plugins of both Fcitx generations, which the portable
# folder brings along (Kylin, UOS and Deepin type Chinese with Fcitx).
NAMEWHEEL_PORTABLE_EXTRAS="fcitx-frontend-qt5 fcitx5-frontend-qt5"
# Qt's translations for the portable folder (its file dialog in Chinese):
# Debian 12's package of Qt 5.15's, fetched in a Debian 12 system. Debian 11's
# has no qtbase_zh_CN.qm, and its older qt_zh_CN.qm leaves Qt 5's standard
# buttons in English.
NAMEWHEEL_QT_TRANSLATIONS_PACKAGES="qttranslations5-l10n"
# Installed in that system (Debian 11 packages).
NAMEWHEEL_PORTABLE_BUILD_PACKAGES="g++ cmake ninja-build qtbase5-dev libxcb1-dev libsqlite3-dev patchelf $NAMEWHEEL_PORTABLE_EXTRAS"
# The ARM program is built in another Debian 11 system, by its cross compiler
# with the build machine's Qt code generators...
NAMEWHEEL_CROSS_BUILD_PACKAGES="g++-aarch64-linux-gnu cmake ninja-build qtbase5-dev-tools patchelf"
# ...against these Debian 11 arm64 packages, unpacked in a folder of their own.
NAMEWHEEL_ARM64_BUILD_PACKAGES="qtbase5-dev libsqlite3-dev libxcb1-dev libgtest-dev $NAMEWHEEL_PORTABLE_EXTRAS"
# What the portable program may take from a desktop: the X11 client libraries,
# fontconfig and a CJK font. The systems it is tested on have only these.
NAMEWHEEL_DESKTOP_BASELINE="libx11-6 libx11-xcb1 libxcb1 libfontconfig1 fonts-wqy-microhei"
# The same for the ARM program under qemu-user, with the C and C++ runtimes
# that every system has.
NAMEWHEEL_ARM64_DESKTOP_PACKAGES="libc6 libgcc-s1 libstdc++6 $NAMEWHEEL_DESKTOP_BASELINE"
# The desktops most people use, for the end-to-end tests: an indicator panel
# on a session bus, a Wayland session with Xwayland (and Qt's Wayland plugin,
# which such desktops have), scaled screens; the window managers of Xfce and
# KDE, and a full-screen window of another program (a Tk one) over them.
NAMEWHEEL_DESKTOP_PACKAGES="dbus-daemon dbus-bin libglib2.0-bin xfce4-panel xfconf mutter xwayland qt6-wayland x11-xserver-utils wmctrl xfwm4 kwin-x11 python3-tk"
NAMEWHEEL_TEST_PACKAGES="$NAMEWHEEL_BUILD_PACKAGES $NAMEWHEEL_RELEASE_PACKAGES desktop-file-utils sqlite3 libgtest-dev xvfb xauth xdotool x11-utils imagemagick openbox trayer $NAMEWHEEL_DESKTOP_PACKAGES $NAMEWHEEL_FUZZ_PACKAGES valgrind qemu-user"

# True when every named package is installed.
packages_installed() {
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || return 1
  done
}

# Refreshes the package lists. A mirror in the middle of a sync can fail one
# index ("File has unexpected size") on every try for a while: after three
# tries, go on with the lists that did come in. What then cannot be installed
# fails at install time, where the caller decides what follows.
apt_update() {
  local try
  for try in 1 2 3; do
    apt-get -o DPkg::Lock::Timeout=600 -o Acquire::Retries=2 update && return 0
    echo "packages: the package lists did not all download (try $try of 3)" >&2
    sleep $((try * 5))
  done
  echo "packages: going on with the package lists that did download" >&2
  return 0
}

install_packages() {
  local missing=() package
  for package in "$@"; do
    packages_installed "$package" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  export DEBIAN_FRONTEND=noninteractive
  apt_update
  apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${missing[@]}"
}
