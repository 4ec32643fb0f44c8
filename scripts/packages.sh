# Debian 12 packages, installed once by the set-up scripts (sourced, not run).
NAMEWHEEL_BUILD_PACKAGES="g++ cmake ninja-build qt6-base-dev libsqlite3-dev fonts-wqy-microhei"
# The fuzz targets: clang with its libFuzzer runtime, and the locale sources
# from which scripts/fuzz.sh makes the legacy code pages.
NAMEWHEEL_FUZZ_PACKAGES="clang-14 libclang-rt-14-dev locales"
# The release archive is built in a Debian 11 system that debootstrap makes.
NAMEWHEEL_RELEASE_PACKAGES="debootstrap"
# Installed in that system (Debian 11 packages).
NAMEWHEEL_PORTABLE_BUILD_PACKAGES="g++ cmake ninja-build qtbase5-dev libsqlite3-dev patchelf"
# What the portable program may take from a desktop: the X11 client libraries,
# fontconfig and a CJK font. The systems it is tested on have only these.
NAMEWHEEL_DESKTOP_BASELINE="libx11-6 libx11-xcb1 libxcb1 libfontconfig1 fonts-wqy-microhei"
NAMEWHEEL_TEST_PACKAGES="$NAMEWHEEL_BUILD_PACKAGES $NAMEWHEEL_RELEASE_PACKAGES sqlite3 libgtest-dev xvfb xauth xdotool x11-utils imagemagick openbox trayer $NAMEWHEEL_FUZZ_PACKAGES valgrind"

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
