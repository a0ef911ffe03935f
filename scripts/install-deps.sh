#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing Keyvale need, and
# only those that are missing: when everything is there it costs one dpkg query.
set -euo pipefail

packages=(
  # Native build and tests
  cmake ninja-build g++ make python3 file
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # Windows cross builds (the -posix compilers carry std::thread)
  g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix
  g++-mingw-w64-i686 g++-mingw-w64-i686-posix
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  # Running the Windows build: Wine on a virtual X display
  wine wine64 fonts-wine xvfb xauth x11-utils xdotool util-linux
  # Pictures: converting and checking samples and screenshots
  imagemagick libpng-dev libjpeg62-turbo-dev
  # keyvale-cli: argument parsing (header-only, also used by the MinGW builds)
  libcli11-dev
  # keyvale-cli: video clips in and out, and the ffmpeg tool that makes the
  # tests' clips and the benchmark's comparison
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev ffmpeg pkg-config
  # Fuzzing (libFuzzer) and memory checking
  clang libclang-rt-14-dev valgrind
  # Benchmarks: peak memory through /usr/bin/time -v
  time
  # Packaging (scripts/package.sh): the .deb, its checks, the manual page
  # (written for scdoc, rendered by man), bash completion and the Windows zips
  dpkg-dev fakeroot lintian scdoc man-db groff-base bash-completion zip unzip
  # Frame sequences: the PNG writer's and OpenEXR ZIP's deflate, and the one-node Slurm
  # cluster of the slurm test stage
  libdeflate-dev slurm-wlm munge
  # Deep pictures: 16-bit TIFF and OpenEXR in and out, and the libraries'
  # own tools (tiffinfo, exrheader) that check what keyvale-cli writes
  libtiff-dev libtiff-tools libopenexr-dev openexr
)

# Prints the packages of the list that are not installed.
missing_packages() {
  local installed
  installed=$(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${packages[@]}" 2>/dev/null |
    awk '$2 == "installed" { print $1 }' || true)
  for package in "${packages[@]}"; do
    grep -qx "$package" <<<"$installed" || echo "$package"
  done
}

mapfile -t missing < <(missing_packages)
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q "${missing[@]}" </dev/null
