#!/usr/bin/env bash
# bench/real-plate-bench.sh: how close each keyer comes to the true matte of
# real photographs: hair, fur, plush toys, plants, glass.
#
# The photographs and their true alpha are the alphamatting.com training set
# (bench/fetch-matting-data.sh brings them from a pinned commit; they are
# never committed). keyvale_make_real_plates lays each photograph's
# foreground over a chroma green, lime or blue backdrop lit unevenly (fall-off
# to the corners, a fold, a floor shadow), with spill, sensor noise, some as
# 4:2:0 JPEG at quality 75, the subject filling a fifth to four fifths of the
# 800 x 600 frame (RealPlates.cpp). Every plate is keyed by
#   plate       keyvale-cli key PLATE OUT.png --keyer plate --auto-adjust, and
#               again with --clean-plate NAME-clean.png (or .jpg): another
#               exposure of the same lit backdrop, noise of its own
#   chromakey   ffmpeg chromakey=KEY:SIMILARITY:BLEND,despill=type=green|blue
#   keying      Blender's compositor, Keying node (clip black, clip white,
#               screen balance)
#   chroma      Blender's compositor, Chroma Key node (acceptance, cutoff,
#               falloff)
# where KEY is the backdrop's mean colour and each peer gets its best
# setting of a grid for each plate, chosen with the truth in hand (the least
# mean alpha error over all pixels): the yardstick at its best. Scored by
# keyvale_score_matte (MatteScore.h): mean alpha error over all pixels and
# over the true edges, backdrop share above alpha 32, the gradient and
# connectivity errors of the alphamatting.com benchmark, and whether the
# matte is inverted. Prints a Markdown table and a summary line per goal.
# About 15 to 25 minutes on two cores the first time (Blender's grids are
# most of it), a minute once the peers' figures are cached (--peers).
#
#   bench/real-plate-bench.sh [--data DIR] [--only NAME] [--no-blender] [--keep DIR]
#                             [--peers DIR | --no-cache]
#       --data DIR    the fetched photographs (default build/matting-data)
#       --only NAME   one plate (names: keyvale_make_real_plates's output)
#       --no-blender  FFmpeg and keyvale only
#       --keep DIR    keep the plates, truths and keyvale's keys in DIR
#       --peers DIR   where the peers' best figures are kept between runs
#                     (default build/real-plate-peers): they depend on the
#                     plates, grids and peer versions only, so a run that
#                     measures another keyvale-cli reuses them and takes about
#                     a minute; --no-cache keys with the peers every time
#
#   KEYVALE_CLI                 any keyvale-cli to measure (default: the
#                               release preset's, built from this tree)
#   KEYVALE_MAKE_REAL_PLATES, KEYVALE_SCORE_MATTE
#                               the bench tools (default: built in build/release)
#   BLENDER                     blender to run (default: blender on the PATH;
#                               bench/install-bench-deps.sh installs it)
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
data=$repo/build/matting-data
only=()
use_blender=yes
keep=""
cache=$repo/build/real-plate-peers
usage="usage: bench/real-plate-bench.sh [--data DIR] [--only NAME] [--no-blender] [--keep DIR] [--peers DIR|--no-cache]"
while [ $# -gt 0 ]; do
  case $1 in
    --data) data=${2:?$usage}; shift 2 ;;
    --only) only=(--only "${2:?$usage}"); shift 2 ;;
    --no-blender) use_blender=no; shift ;;
    --keep) keep=${2:?$usage}; shift 2 ;;
    --peers) cache=${2:?$usage}; shift 2 ;;
    --no-cache) cache=""; shift ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
if [ ! -f "$data/input/GT01.png" ] || [ ! -f "$data/gt/GT01.png" ]; then
  echo "real-plate-bench: no photographs in $data: run bench/fetch-matting-data.sh first" >&2
  exit 1
fi
command -v ffmpeg > /dev/null || { echo "real-plate-bench: needs ffmpeg" >&2; exit 1; }
blender=${BLENDER:-blender}
if [ "$use_blender" = yes ] && ! command -v "$blender" > /dev/null; then
  echo "real-plate-bench: needs blender (bench/install-bench-deps.sh), or --no-blender" >&2
  exit 1
fi

cli=${KEYVALE_CLI:-}
make_plates=${KEYVALE_MAKE_REAL_PLATES:-}
score=${KEYVALE_SCORE_MATTE:-}
if [ -z "$cli" ] || [ -z "$make_plates" ] || [ -z "$score" ]; then
  build=$repo/build/release
  [ -f "$build/CMakeCache.txt" ] || (cd "$repo" && cmake --preset release -DKEYVALE_WERROR=OFF > /dev/null)
  targets=(keyvale_make_real_plates keyvale_score_matte keyvale_plate_check)
  [ -n "$cli" ] || targets+=(keyvale-cli)
  cmake --build "$build" -j2 --target "${targets[@]}" > /dev/null
  cli=${cli:-$build/cli/keyvale-cli}
  make_plates=${make_plates:-$build/bench/keyvale_make_real_plates}
  score=${score:-$build/bench/keyvale_score_matte}
fi
# The generator's and scorer's own checks (keyvale_plate_check), when built beside them.
check=$(dirname "$make_plates")/keyvale_plate_check
if [ -x "$check" ]; then "$check" > /dev/null; fi
work=$(mktemp -d "${TMPDIR:-/tmp}/keyvale-real-plate-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The field VALUE of a plate's description (NAME.txt).
describe() {  # name field
  awk -v f="$2" '$1 == f { print $2 }' "$work/$1.txt"
}

# Scores every keyed picture in `dir` quickly, then the best (least alpha
# error over all pixels) in full; prints "SETTINGS ALL EDGE LEAK GRADIENT
# CONNECTIVITY INVERTED LEAST_EDGE LEAST_EDGE_SETTINGS", SETTINGS from the
# file's name (`~` read as `/`), LEAST_EDGE the least edge error of any
# setting in the grid (and that setting): the peer at its best on the edges.
best_in() {  # name dir
  local best quick=$work/quick.txt
  "$score" --quick "$work/$1-truth.png" "$2"/*.png > "$quick"
  best=$(sort -k1,1g "$quick" | head -n 1 | cut -d ' ' -f 7-)
  read -r least_edge least_edge_path <<< "$(sort -k2,2g "$quick" | head -n 1 | cut -d ' ' -f 2,7-)"
  "$score" "$work/$1-truth.png" "$best" |
    awk -v path="$best" -v edge="$least_edge" -v edge_path="$least_edge_path" '
      function settings(p,   n, part, s) { n = split(p, part, "/"); s = part[n]; sub(/\.png$/, "", s); gsub(/~/, "/", s); return s }
      { print settings(path), $1, $2, $3, $4, $5, $6, edge, settings(edge_path) }'
}

# FFmpeg's chromakey grid: similarities and blends.
ffmpeg_similarities="0.02 0.035 0.05 0.07 0.09 0.12 0.16 0.2"
ffmpeg_blends="0 0.02 0.05 0.1 0.2"

# FFmpeg's chromakey + despill over its grid, the plate decoded once.
ffmpeg_grid() {  # name plate dir
  local name=$1 plate=$2 dir=$3 key despill split="" chains="" outputs=() n=0
  key=$(describe "$name" key)
  despill=$(describe "$name" screen)
  mkdir -p "$dir"
  for s in $ffmpeg_similarities; do
    for b in $ffmpeg_blends; do
      split+="[in$n]"
      chains+=";[in$n]chromakey=$key:$s:$b,despill=type=$despill,format=rgba[out$n]"
      outputs+=(-map "[out$n]" -frames:v 1 "$dir/$s~$b.png")
      n=$((n + 1))
    done
  done
  ffmpeg -v error -nostdin -y -i "$plate" -filter_complex "[0:v]split=$n$split$chains" "${outputs[@]}"
}

results=$work/results.txt  # plate keyer settings all edge leak gradient connectivity inverted
: > "$results"
record() {  # plate keyer figures...
  echo "$*" >> "$results"
}

# The peers' best figures depend only on the plate, its truth, the grids, the
# scorer and the peers' versions, never on keyvale: they are kept in the cache folder
# under a signature of all of those, so that a run measuring another
# keyvale-cli keys with the peers only once.
peer_signature() {  # name
  {
    md5sum < "$work/$(describe "$1" plate)"
    md5sum < "$work/$1-truth.png"
    md5sum < "$repo/bench/blender-key-grid.py"
    md5sum < "$score"
    echo "$ffmpeg_similarities / $ffmpeg_blends / blender $use_blender / records 2"
    ffmpeg -version | head -n 1
    if [ "$use_blender" = yes ]; then "$blender" -b --factory-startup --version 2> /dev/null | head -n 1; fi
  } | md5sum | cut -d ' ' -f 1
}
cached_peers() {  # name: prints the cached records, if the signature matches
  local file=$cache/$1.peers
  [ -n "$cache" ] && [ -f "$file" ] && [ "$(head -n 1 "$file")" = "$(peer_signature "$1")" ] && tail -n +2 "$file"
}

start=$SECONDS
echo "Making the plates ..." >&2
mapfile -t plates < <("$make_plates" "$data" "$work" "${only[@]}")
[ -z "$cache" ] || mkdir -p "$cache"
to_key=()
for name in "${plates[@]}"; do
  if ! cached_peers "$name" > /dev/null; then to_key+=("$name"); fi
done

if [ "$use_blender" = yes ] && [ ${#to_key[@]} -gt 0 ]; then
  echo "Blender's grids for ${#to_key[@]} plates (one Blender run) ..." >&2
  : > "$work/blender-jobs.txt"
  for name in "${to_key[@]}"; do
    key=$(describe "$name" key)
    for node in keying chroma; do
      echo "$work/$(describe "$name" plate) ${key#0x} $work/grid/$name-$node $node" >> "$work/blender-jobs.txt"
    done
  done
  if ! "$blender" -b --factory-startup --python "$repo/bench/blender-key-grid.py" -- "$work/blender-jobs.txt" \
    > "$work/blender.log" 2>&1; then
    tail -n 20 "$work/blender.log" >&2
    echo "real-plate-bench: blender failed" >&2
    exit 1
  fi
fi

# The peers' records of one plate, from its grids.
key_with_peers() {  # name plate
  local name=$1 plate=$2
  ffmpeg_grid "$name" "$plate" "$work/grid/$name-chromakey"
  echo "$name chromakey $(best_in "$name" "$work/grid/$name-chromakey")"
  if [ "$use_blender" = yes ]; then
    for node in keying chroma; do echo "$name $node $(best_in "$name" "$work/grid/$name-$node")"; done
  fi
  rm -rf "$work/grid/$name-"*
}

for name in "${plates[@]}"; do
  echo "Keying $name ..." >&2
  plate=$work/$(describe "$name" plate)
  if "$cli" key "$plate" "$work/$name-keyvale.png" --keyer plate --auto-adjust --quiet > /dev/null; then
    # shellcheck disable=SC2046 # the figures are words
    record "$name" plate auto $("$score" "$work/$name-truth.png" "$work/$name-keyvale.png" | cut -d ' ' -f 1-6)
  else
    record "$name" plate FAILED
  fi
  # Keyed again against the clean plate: another exposure of the empty set.
  if "$cli" key "$plate" "$work/$name-keyvale-clean.png" --keyer plate --auto-adjust \
    --clean-plate "$work/$(describe "$name" clean)" --quiet > /dev/null; then
    # shellcheck disable=SC2046 # the figures are words
    record "$name" clean auto $("$score" "$work/$name-truth.png" "$work/$name-keyvale-clean.png" | cut -d ' ' -f 1-6)
  else
    record "$name" clean FAILED
  fi
  if ! cached_peers "$name" >> "$results"; then
    key_with_peers "$name" "$plate" > "$work/$name.peers"
    cat "$work/$name.peers" >> "$results"
    if [ -n "$cache" ]; then
      { peer_signature "$name"; cat "$work/$name.peers"; } > "$cache/$name.peers.tmp"
      mv "$cache/$name.peers.tmp" "$cache/$name.peers"
    fi
  fi
done

echo
echo "Mean absolute alpha error in levels (0-255) over all pixels and over the true edges (true alpha"
echo "strictly between 0 and 255, and 2 pixels round them); the share of the true backdrop keyed above"
echo "alpha 32; the gradient and connectivity errors of the alphamatting.com benchmark over all pixels"
echo "(/ 1000); inverted: the matte closer to the truth's inverse. keyvale at its automatic settings;"
echo "the peers at their best setting of a grid for each plate, chosen by the least error over all pixels;"
echo "the last column: the least edge error of any setting in the peer's grid, and that setting."
echo
echo "| Plate | Subject | Keyer | Alpha error, all | edge | Backdrop > 32 | Gradient | Connectivity | Inverted | Least edge error of the grid |"
echo "|---|---:|---|---:|---:|---:|---:|---:|---|---:|"
for name in "${plates[@]}"; do
  share=$(awk '{ printf "%.0f%%", 100 * $1 }' <<< "$(describe "$name" share)")
  awk -v plate="$name" -v share="$share" -v jpeg="$(describe "$name" plate)" '
    BEGIN { label["plate"] = "keyvale plate, auto"; label["clean"] = "keyvale plate, auto, clean plate"
            label["chromakey"] = "FFmpeg chromakey + despill";
            label["keying"] = "Blender Keying"; label["chroma"] = "Blender Chroma Key" }
    $1 == plate {
      title = plate (jpeg ~ /\.jpg$/ ? " (JPEG)" : "")
      if ($3 == "FAILED") { printf "| %s | %s | %s: FAILED | | | | | | | |\n", title, share, label[$2]; next }
      ours = $2 == "plate" || $2 == "clean"
      settings = ours ? "" : ", " $3
      least = ours ? "" : $10 " (" $11 ")"
      printf "| %s | %s | %s%s | %s | %s | %s%% | %s | %s | %s | %s |\n", title, share, label[$2], settings,
             $4, $5, $6, $7, $8, $9, least }' "$results"
done
echo
awk '
  { keyer[$1, $2] = 1; plates[$1] = 1
    if ($3 == "FAILED") { if ($2 == "clean") cleanFailed[$1] = 1; else failed[$1] = 1 }
    else { all[$1, $2] = $4; edge[$1, $2] = $5; leak[$1, $2] = $6; inv[$1, $2] = $9; least[$1, $2] = $10 } }
  END {
    for (p in plates) {
      ++n
      if (failed[p]) { f1 = f1 " " p; f2 = f2 " " p; f3 = f3 " " p; f4 = f4 " " p; f5 = f5 " " p; f6 = f6 " " p; continue }
      # The clean plate earns its keep: the backdrop clear and the edges a quarter better than without it.
      if (!cleanFailed[p] && leak[p, "clean"] < 0.05 && edge[p, "clean"] <= 0.75 * edge[p, "plate"]) ++ok6
      else f6 = f6 " " p
      cleanEdge += cleanFailed[p] ? 0 : 1 - edge[p, "clean"] / edge[p, "plate"]; cleanCount += cleanFailed[p] ? 0 : 1
      if (inv[p, "plate"] == "no") ++ok1; else f1 = f1 " " p
      if (leak[p, "plate"] < 0.1) ++ok2; else f2 = f2 " " p
      bestAll = 1e9; bestEdge = 1e9; leastEdge = 1e9
      for (k in keyer) { split(k, part, SUBSEP); if (part[1] != p || part[2] == "plate" || part[2] == "clean") continue
        if (all[p, part[2]] < bestAll) bestAll = all[p, part[2]]
        if (edge[p, part[2]] < bestEdge) bestEdge = edge[p, part[2]]
        if (least[p, part[2]] < leastEdge) leastEdge = least[p, part[2]] }
      if (all[p, "plate"] < bestAll) ++ok3; else f3 = f3 " " p
      if (edge[p, "plate"] < bestEdge) ++ok4; else f4 = f4 " " p
      if (edge[p, "plate"] < leastEdge) ++ok5; else f5 = f5 " " p
    }
    printf "- No inverted matte: %d of %d plates%s\n", ok1, n, f1 ? " (not:" f1 ")" : ""
    printf "- Backdrop above alpha 32 below 0.1%%: %d of %d plates%s\n", ok2, n, f2 ? " (not:" f2 ")" : ""
    printf "- Alpha error over all pixels below the best peer: %d of %d plates%s\n", ok3, n, f3 ? " (not:" f3 ")" : ""
    printf "- Edge error below every peer at its best setting: %d of %d plates%s\n", ok4, n, f4 ? " (not:" f4 ")" : ""
    printf "- Edge error below every setting of every peer'"'"'s grid: %d of %d plates%s\n", ok5, n,
           f5 ? " (not:" f5 ")" : ""
    printf "- With a clean plate, backdrop above alpha 32 below 0.05%% and edge error at least 25%% lower: %d of %d plates%s;" \
           " edge error %.1f%% lower on average\n", ok6, n, f6 ? " (not:" f6 ")" : "", cleanCount ? 100 * cleanEdge / cleanCount : 0
  }' "$results"
if [ -n "$keep" ]; then
  mkdir -p "$keep"
  cp "$work"/*.txt "$work"/*-truth.png "$work"/*-keyvale.png "$work"/*-keyvale-clean.png "$keep"/ 2> /dev/null || true
  for name in "${plates[@]}"; do cp "$work/$(describe "$name" plate)" "$work/$(describe "$name" clean)" "$keep"/; done
fi
echo
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $((SECONDS - start)) s" >&2
