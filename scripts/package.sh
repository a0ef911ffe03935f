#!/usr/bin/env bash
# scripts/package.sh: makes the packages users install, in build/packages/:
#
#   keyvale-cli_VERSION_ARCH.deb       keyvale-cli for Debian: the program, its
#                                      video module, manual page, bash
#                                      completion, copyright
#   keyvale-VERSION-windows.zip        the 32-bit release keyvale.exe and
#                                      keyvale-cli.exe, README.txt, LICENSE.txt
#                                      and SHA256SUMS
#   keyvale-VERSION-windows-x64.zip    the same from the x86_64 build
#
# VERSION is the project's, from project(Keyvale VERSION ...) through the
# generated Version.h. The native program is an optimised build of its own
# (build/package-release: the release preset without benchmarks or tests,
# with Debian's hardening flags); the Windows programs come from the win32
# and win64 build folders, configured as scripts/test.sh configures them
# when they do not exist yet. File dates are the last commit's, so the same
# sources give the same packages.
#
#   KEYVALE_BUILD_ROOT    where the build folders are (default: build)
#   KEYVALE_PACKAGE_DIR   where the packages go (default: build/packages)
#
# Build logs go to build/package-logs/ and are shown only when a build fails.
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
build_root=${KEYVALE_BUILD_ROOT:-$repo/build}
out=${KEYVALE_PACKAGE_DIR:-$repo/build/packages}
logs=$build_root/package-logs
maintainer="The Keyvale developers <keyvale@example.org>"
export TZ=UTC LC_ALL=C.UTF-8
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$repo" log -1 --format=%ct 2>/dev/null || date +%s)}
export SOURCE_DATE_EPOCH

fail() { echo "package: $*" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kvl-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

# quietly LOG COMMAND...: build output only when the build fails.
quietly() {
  local log=$1
  shift
  "$@" >"$log" 2>&1 && return 0
  tail -n 40 "$log"
  fail "failed: $*  (full log: $log)"
}

build_native() {
  local build=$build_root/package-release
  # Debian's flags for a package, less -g: the binary is stripped anyway,
  # and debug information is much of the compile time.
  local hardening=(env DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g
    dpkg-buildflags --get)
  echo "package: building keyvale-cli and its video module (native release) in $build"
  quietly "$logs/configure-native.log" cmake --preset release -S "$repo" -B "$build" \
    -DKEYVALE_BUILD_BENCH=OFF -DKEYVALE_BUILD_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="$("${hardening[@]}" CPPFLAGS) $("${hardening[@]}" CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$("${hardening[@]}" LDFLAGS)" \
    -DCMAKE_MODULE_LINKER_FLAGS="$("${hardening[@]}" LDFLAGS)"
  quietly "$logs/build-native.log" cmake --build "$build" -j 2 --target keyvale-cli keyvale-video
}

# build_windows PRESET [CMAKE OPTIONS...]: the two programs in build/PRESET;
# the options (those scripts/test.sh gives) only when the folder is new.
build_windows() {
  local preset=$1 build=$build_root/$1
  shift
  echo "package: building keyvale.exe and keyvale-cli.exe ($preset) in $build"
  if [ ! -f "$build/CMakeCache.txt" ]; then
    quietly "$logs/configure-$preset.log" cmake --preset "$preset" -S "$repo" -B "$build" "$@"
  fi
  quietly "$logs/build-$preset.log" cmake --build "$build" -j 2 --target keyvale keyvale-cli
}

project_version() {
  sed -n 's/.*KeyvaleVersion = "\([^"]*\)".*/\1/p' "$build_root/package-release/generated/Version.h"
}

# The manual page, from its scdoc source with the version filled in.
render_manual() {
  sed "s/@VERSION@/$version/" "$repo/packaging/keyvale-cli.1.scd" | scdoc
}

# Debian's changelog for a package made outside Debian: one entry, this build.
debian_changelog() {
  local commit
  commit=$(git -C "$repo" rev-parse --short HEAD 2>/dev/null || echo unknown)
  printf 'keyvale-cli (%s) unstable; urgency=medium\n\n' "$version"
  printf '  * Built from the Keyvale sources at commit %s.\n\n' "$commit"
  printf ' -- %s  %s\n' "$maintainer" "$(date -R -d "@$SOURCE_DATE_EPOCH")"
}

# stage_deb ROOT: the files of the package under ROOT, as Debian lays them out.
# The video module goes where keyvale-cli looks for it from /usr/bin: its own
# folder under the architecture's library folder.
stage_deb() {
  local root=$1 doc=$1/usr/share/doc/keyvale-cli
  install -D -m 0755 "$build_root/package-release/cli/keyvale-cli" "$root/usr/bin/keyvale-cli"
  install -D -m 0644 "$build_root/package-release/cli/keyvale-video.so" "$root/$video_module"
  # As Debian's own packaging strips: no symbols, no build notes.
  strip --strip-unneeded --remove-section=.comment --remove-section=.note "$root/usr/bin/keyvale-cli" \
    "$root/$video_module"
  mkdir -p "$root/usr/share/man/man1" "$root/usr/share/bash-completion/completions" "$doc"
  render_manual | gzip -9n >"$root/usr/share/man/man1/keyvale-cli.1.gz"
  install -m 0644 "$repo/packaging/keyvale-cli.bash-completion" \
    "$root/usr/share/bash-completion/completions/keyvale-cli"
  install -m 0644 "$repo/packaging/copyright" "$doc/copyright"
  debian_changelog | gzip -9n >"$doc/changelog.gz"
  chmod 0644 "$doc/changelog.gz" "$root/usr/share/man/man1/keyvale-cli.1.gz"
}

# The libraries the program and its video module link, as Debian package
# versions: dpkg-shlibdeps reads them from the binaries. It expects a source tree's layout, which the
# staging folder follows: the package's files in debian/keyvale-cli beside a
# debian/control.
shared_library_depends() {
  local source=$work/source
  printf 'Source: keyvale\n\nPackage: keyvale-cli\nArchitecture: any\n' >"$source/debian/control"
  (cd "$source" && dpkg-shlibdeps -O debian/keyvale-cli/usr/bin/keyvale-cli "debian/keyvale-cli/$video_module") |
    sed -n 's/^shlibs:Depends=//p'
}

write_control() {
  local root=$1 depends
  # DEBIAN first: dpkg-shlibdeps finds the package's root by it. The
  # dependencies before the here-document, where a failure would go unnoticed.
  mkdir -p "$root/DEBIAN"
  depends=$(shared_library_depends)
  [ -n "$depends" ] || fail "dpkg-shlibdeps found no dependencies for keyvale-cli"
  cat >"$root/DEBIAN/control" <<CONTROL
Package: keyvale-cli
Version: $version
Architecture: $architecture
Maintainer: $maintainer
Installed-Size: $(du -sk --exclude=DEBIAN "$root" | cut -f1)
Depends: $depends
Section: graphics
Priority: optional
Description: key pictures shot against a green or blue backdrop
 keyvale-cli works out how transparent every pixel of a green-screen or
 blue-screen picture is: the backdrop becomes clear, the subject stays
 solid, soft edges and fine hair become partly transparent, and coloured
 light spilling onto the subject is taken out. It writes 32-bit Targa or
 PNG files whose alpha channel holds the matte, one picture or many at
 once, choosing the key channel and levels itself when asked.
 .
 It reads Targa, PNG and JPEG pictures, and keys video clips into clips
 that keep their alpha.
CONTROL
}

make_deb() {
  local root=$work/source/debian/keyvale-cli deb=$out/keyvale-cli_${version}_${architecture}.deb
  stage_deb "$root"
  write_control "$root"
  # What debsums and dpkg --verify check the installed files against.
  (cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
  find "$root" -exec touch --no-dereference -d "@$SOURCE_DATE_EPOCH" {} +
  dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
  echo "package: $deb"
}

# make_zip BUILD TRIPLE NAME: a folder NAME with the two programs of BUILD
# (stripped with TRIPLE's tools), the readme and the licence with Windows
# line ends, and their checksums.
make_zip() {
  local build=$1 triple=$2 name=$3 folder=$work/$3
  mkdir -p "$folder"
  cp "$build/app/keyvale.exe" "$build/cli/keyvale-cli.exe" "$folder/"
  "$triple-strip" --strip-unneeded "$folder/keyvale.exe" "$folder/keyvale-cli.exe"
  sed "s/@VERSION@/$version/" "$repo/packaging/README-windows.txt" | sed 's/$/\r/' >"$folder/README.txt"
  sed 's/$/\r/' "$repo/LICENSE" >"$folder/LICENSE.txt"
  (cd "$folder" && sha256sum keyvale.exe keyvale-cli.exe README.txt LICENSE.txt >SHA256SUMS)
  find "$folder" -exec touch -d "@$SOURCE_DATE_EPOCH" {} +
  rm -f "$out/$name.zip"
  # Sorted, so the order in the zip does not depend on the file system.
  (cd "$work" && find "$name" | sort | zip -q -X -9 "$out/$name.zip" -@)
  echo "package: $out/$name.zip"
}

for tool in scdoc dpkg-deb dpkg-shlibdeps zip sha256sum; do
  command -v "$tool" >/dev/null || fail "$tool not found (scripts/install-deps.sh installs it)"
done
mkdir -p "$out" "$logs"
out=$(cd "$out" && pwd)
build_native
build_windows win32 -DKEYVALE_BUILD_TESTS=OFF
build_windows win64
version=$(project_version)
[ -n "$version" ] || fail "no version in $build_root/package-release/generated/Version.h"
architecture=$(dpkg --print-architecture)
video_module=usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/keyvale/keyvale-video.so
make_deb
make_zip "$build_root/win32" i686-w64-mingw32 "keyvale-$version-windows"
make_zip "$build_root/win64" x86_64-w64-mingw32 "keyvale-$version-windows-x64"
