#!/usr/bin/env bash
# bench/fetch-matting-data.sh: brings the alphamatting.com training set here
# (27 photographs with their true alpha: hair, fur, plush toys, plants, glass;
# Rhemann et al., "A Perceptually Motivated Online Benchmark for Image
# Matting", CVPR 2009), for bench/real-plate-bench.sh. The files are never
# committed: they are extracted from a public repository that carries them,
# at a pinned commit, into a folder outside the source tree.
#
#   bench/fetch-matting-data.sh [DEST]
#       DEST: where to put them (default build/matting-data); it receives
#       input/GTnn.png (the photographs), gt/GTnn.png (the true alpha) and
#       SOURCE (the repository and commit they came from).
#
#   MATTING_GIT_DIR=/path/to/repo.git bench/fetch-matting-data.sh [DEST]
#       extracts from a git directory already fetched (bare or not);
#       otherwise the repository is cloned (blobs of the pinned tree only).
#
# Source: github.com/varunjain3/BayesianMatting, commit below, folders
# data/input_training_lowres and data/gt_training_lowres (the low-resolution
# training set as alphamatting.com distributes it).
set -euo pipefail

repo_url=https://github.com/varunjain3/BayesianMatting.git
commit=485d6e27b0bb8da705fc5e1afc0032f0e214226a
inputs=data/input_training_lowres
truths=data/gt_training_lowres

root=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
dest=${1:-$root/build/matting-data}
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)

git_dir=${MATTING_GIT_DIR:-}
clone=""
if [ -z "$git_dir" ]; then
  clone=$(mktemp -d "${TMPDIR:-/tmp}/matting-clone.XXXXXX")
  trap 'rm -rf "$clone"' EXIT
  git init -q --bare "$clone"
  git --git-dir="$clone" fetch -q --depth 1 "$repo_url" "$commit"
  git_dir=$clone
fi
if ! git --git-dir="$git_dir" cat-file -e "$commit^{tree}" 2> /dev/null; then
  echo "fetch-matting-data: $git_dir does not hold commit $commit" >&2
  exit 1
fi

# Written under a temporary name and renamed, so an interrupted run leaves
# no half set behind.
staging=$(mktemp -d "$dest/.staging.XXXXXX")
mkdir -p "$staging/input" "$staging/gt"
for n in $(seq -w 1 27); do
  git --git-dir="$git_dir" show "$commit:$inputs/GT$n.png" > "$staging/input/GT$n.png"
  git --git-dir="$git_dir" show "$commit:$truths/GT$n.png" > "$staging/gt/GT$n.png"
done
printf 'alphamatting.com training set (low resolution), from %s at commit %s\n' "$repo_url" "$commit" \
  > "$staging/SOURCE"
rm -rf "$dest/input" "$dest/gt" "$dest/SOURCE"
mv "$staging/input" "$staging/gt" "$staging/SOURCE" "$dest/"
rmdir "$staging"
echo "fetch-matting-data: 27 photographs and their true alpha in $dest"
