#!/usr/bin/env bash
# bench/install-bench-deps.sh: the Debian packages only the quality
# benchmarks need, beyond scripts/install-deps.sh's (which CI installs):
# Blender, whose compositor's Keying and Chroma Key nodes are the peers of
# bench/real-plate-bench.sh and bench/plate-bench.sh, and FFmpeg's command
# line tool. Blender is large (about 400 MB with what it pulls in), so it is
# kept out of the CI list. Run as root, or with sudo.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
packages=(blender ffmpeg)
apt-get update
apt-get install -y --no-install-recommends "${packages[@]}"
blender -b --factory-startup --version | head -n 1
