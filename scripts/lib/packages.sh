# Debian packages the project needs on a fresh machine, and a helper that installs the missing
# ones (as root) or says which to install.

# Building and testing on the PC.
RECORDER_BUILD_PACKAGES="cmake ninja-build g++ libgtest-dev googletest libbenchmark-dev"
# The simulated board: a real FAT card image through FUSE, its tools, JPEG pictures, checks.
RECORDER_SIM_PACKAGES="dosfstools fusefat fuse mtools libturbojpeg0-dev libjpeg-turbo-progs libimage-exiftool-perl"
# The GPS receiver models' output is checked with gpsd's decoder (gpsdecode).
RECORDER_SIM_PACKAGES="$RECORDER_SIM_PACKAGES gpsd-clients"
# vdrtool's report is checked in a real browser (headless Chromium) and the demo takes its
# screenshot; its AVI and MP4 exports are checked with ffprobe (ffmpeg also writes the MP4).
RECORDER_SIM_PACKAGES="$RECORDER_SIM_PACKAGES chromium ffmpeg"
# The board build: cross compiler and user-mode emulation for its unit tests.
RECORDER_ARM_PACKAGES="g++-arm-linux-gnueabi qemu-user-static"
# The fuzz targets: clang with libFuzzer and the sanitizers.
RECORDER_FUZZ_PACKAGES="clang libfuzzer-14-dev"

# ensure_packages PKG... : installs what is missing, or explains and fails.
ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null ||
      { apt-get update >/dev/null && apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null; }
  else
    echo "Missing packages; install them with:"
    echo "  sudo apt-get install -y ${missing[*]}"
    return 1
  fi
}
