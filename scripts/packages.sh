# Debian 12 packages, installed once by the set-up scripts (sourced, not run).
NAMEWHEEL_BUILD_PACKAGES="g++ cmake ninja-build qt6-base-dev libxcb1-dev libsqlite3-dev fonts-wqy-microhei"
# The fuzz targets: clang with its libFuzzer runtime, and the locale sources
# from which scripts/fuzz.sh makes the legacy code pages.
NAMEWHEEL_FUZZ_PACKAGES="clang-14 libclang-rt-14-dev locales"
# The desktops most people use, for the end-to-end tests: an indicator panel
# on a session bus, a Wayland session with Xwayland (and Qt's Wayland plugin,
# which such desktops have), scaled screens.
NAMEWHEEL_DESKTOP_PACKAGES="dbus-daemon dbus-bin libglib2.0-bin xfce4-panel xfconf mutter xwayland qt6-wayland x11-xserver-utils wmctrl"
NAMEWHEEL_TEST_PACKAGES="$NAMEWHEEL_BUILD_PACKAGES sqlite3 libgtest-dev xvfb xauth xdotool x11-utils imagemagick openbox trayer $NAMEWHEEL_DESKTOP_PACKAGES $NAMEWHEEL_FUZZ_PACKAGES valgrind"

install_packages() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  export DEBIAN_FRONTEND=noninteractive
  apt-get -o DPkg::Lock::Timeout=600 update
  apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${missing[@]}"
}
