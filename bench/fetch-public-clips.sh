#!/usr/bin/env bash
# bench/fetch-public-clips.sh DIR: brings public test clips into DIR for
# bench/clip-corpus.sh, from a pinned commit of a public repository (never
# committed here): the samples of autobrr/go-mediainfo, small clips in MP4,
# Matroska, MPEG-TS, MPEG-PS (.mpg, .vob), AVI and Ogg, and audio-only files
# (FLAC, MP3, WAV) that must be refused as holding no video.
#
#   KEYVALE_CLIPS_MIRROR  a local git directory of that repository to read
#                         instead of cloning it
set -euo pipefail

dir=${1:?usage: bench/fetch-public-clips.sh DIR}
repository=https://github.com/autobrr/go-mediainfo
commit=3c023d45d470a2236ec063e0505b645d2175777a
mkdir -p "$dir"
git_dir=${KEYVALE_CLIPS_MIRROR:-}
if [ -z "$git_dir" ]; then
  git_dir=$(mktemp -d)
  trap 'rm -rf "$git_dir"' EXIT
  git clone --quiet --bare --filter=blob:none "$repository" "$git_dir"
fi
git --git-dir="$git_dir" archive "$commit" samples | tar -x -C "$dir" --strip-components=1 --exclude='*.md' --exclude='*.sh'
echo "fetch-public-clips: $(find "$dir" -type f | wc -l) files from $repository at $commit in $dir"
