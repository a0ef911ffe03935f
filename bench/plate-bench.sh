#!/usr/bin/env bash
# bench/plate-bench.sh: how close each keyer comes to the true matte and the
# true foreground colours of synthetic plates.
#
# keyvale_make_plates (Plates.h) writes 1280x720 plates whose truth is known
# by construction: chroma green, lime and blue backdrops lit unevenly (a
# third or more darker at the corners, a floor shadow), a foreground of fine
# hair, half-transparent glass, a motion-blurred box, a yellow ball, a straw
# hat, olive and teal, skin and dark cloth; backdrop spill near the edges,
# sensor noise, and each plate once more as 4:2:0 JPEG. Every plate is keyed
#   classic     keyvale-cli key PLATE OUT.png --channel auto --auto-adjust
#   colorkey    ffmpeg colorkey=KEY:SIMILARITY:BLEND,despill=type=green|blue
#   chromakey   ffmpeg chromakey=KEY:SIMILARITY:BLEND,despill=type=green|blue
#   plate       keyvale-cli key PLATE OUT.png --keyer plate --auto-adjust
#               (n/a when keyvale-cli has no --keyer), and again with
#               --clean-plate NAME-clean.png, another exposure of the empty set
#   Keying      Blender's compositor, Keying node (blender-key-grid.py),
#               when blender is installed and KEYVALE_NO_BLENDER is unset
# where KEY is the backdrop's mean colour and the peers (FFmpeg's two keyers
# and Blender's Keying node) get their best settings of a grid (similarity
# and blend; clip black, clip white and screen balance), chosen against the
# true matte (the least mean alpha error over all pixels): the yardstick at
# its best. Every output is straight RGBA, scored by keyvale_score_plate, and
# a Markdown table is printed. About two to three minutes on two cores (four
# to five with Blender); nothing is
# left behind. Needs ffmpeg. Not a test: the suite does not run it; the
# tools' own checks (keyvale_plate_check) run first, when built beside them.
#
#   bench/plate-bench.sh              the table
#   bench/plate-bench.sh --demo DIR   the lime demo plate, its truth and the
#                                     classic and plate keyers' keys over a
#                                     sky gradient, as PNGs in DIR
#
#   KEYVALE_CLI, KEYVALE_MAKE_PLATES, KEYVALE_SCORE_PLATE
#       built keyvale-cli, keyvale_make_plates and keyvale_score_plate
#       (default: builds all three in build/release)
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
demo=""
if [ "${1:-}" = --demo ]; then
  demo=${2:?"usage: bench/plate-bench.sh [--demo DIR]"}
  mkdir -p "$demo"
  demo=$(cd "$demo" && pwd)
elif [ $# -gt 0 ]; then
  echo "usage: bench/plate-bench.sh [--demo DIR]" >&2
  exit 2
fi
command -v ffmpeg > /dev/null || { echo "plate-bench: needs ffmpeg" >&2; exit 1; }

cli=${KEYVALE_CLI:-}
make_plates=${KEYVALE_MAKE_PLATES:-}
score=${KEYVALE_SCORE_PLATE:-}
if [ -z "$cli" ] || [ -z "$make_plates" ] || [ -z "$score" ]; then
  build=$repo/build/release
  [ -f "$build/CMakeCache.txt" ] || (cd "$repo" && cmake --preset release -DKEYVALE_WERROR=OFF > /dev/null)
  cmake --build "$build" -j2 --target keyvale-cli keyvale_make_plates keyvale_score_plate keyvale_plate_check \
    > /dev/null
  cli=${cli:-$build/cli/keyvale-cli}
  make_plates=${make_plates:-$build/bench/keyvale_make_plates}
  score=${score:-$build/bench/keyvale_score_plate}
fi
# The generator's and scorer's own checks (keyvale_plate_check), when built beside them.
check=$(dirname "$make_plates")/keyvale_plate_check
if [ -x "$check" ]; then "$check" > /dev/null; fi
work=$(mktemp -d "${TMPDIR:-/tmp}/keyvale-plate-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Blender's Keying node joins the peers when blender is installed
# (bench/install-bench-deps.sh); KEYVALE_NO_BLENDER=1 leaves it out.
blender=${BLENDER:-blender}
has_blender=no
if [ -z "${KEYVALE_NO_BLENDER:-}" ] && command -v "$blender" > /dev/null; then has_blender=yes; fi

has_plate_keyer=no
# grep reads the whole help: quitting at the first match would end keyvale-cli with a broken pipe,
# which pipefail would count as no --keyer.
if "$cli" key --help 2>/dev/null | grep -- '--keyer' > /dev/null; then has_plate_keyer=yes; fi

# The field VALUE of a plate's description (NAME.txt: plate, screen, key).
describe() {  # name field
  awk -v f="$2" '$1 == f { print $2 }' "$work/$1.txt"
}

if [ -n "$demo" ]; then
  "$make_plates" "$work" --only lime > /dev/null
  cp "$work/lime.png" "$demo/lime-plate.png"
  # What a perfect key would give: the truth laid over the sky.
  ffmpeg -v error -nostdin -y -i "$work/sky.png" -i "$work/lime-truth.png" \
    -filter_complex "[0][1]overlay=format=auto,format=rgb24" -frames:v 1 "$demo/lime-truth-over-sky.png"
  "$cli" key "$work/lime.png" "$demo/lime-classic-over-sky.png" --channel auto --auto-adjust \
    --background "$work/sky.png" --quiet > /dev/null
  if [ "$has_plate_keyer" = yes ]; then
    "$cli" key "$work/lime.png" "$demo/lime-plate-keyer-over-sky.png" --keyer plate --auto-adjust \
      --background "$work/sky.png" --quiet > /dev/null
  else
    echo "keyvale-cli has no --keyer: no plate keyer picture"
  fi
  ls "$demo"
  exit 0
fi

# Keys `plate` with FFmpeg's `filter` at every similarity x blend of the grid
# in one run (the plate decoded once), scores every output, and prints the
# best line: "SIMILARITY/BLEND ALL BACKDROP SOLID EDGE LEAK COLOUR".
best_of_grid() {  # name plate filter despill similarities blends
  local name=$1 plate=$2 filter=$3 despill=$4 key
  read -r -a similarities <<< "$5"
  read -r -a blends <<< "$6"
  key=$(describe "$name" key)
  local split="" chains="" outputs=() n=0
  for s in "${similarities[@]}"; do
    for b in "${blends[@]}"; do
      split+="[in$n]"
      chains+=";[in$n]$filter=$key:$s:$b,despill=type=$despill,format=rgba[out$n]"
      outputs+=(-map "[out$n]" -frames:v 1 "$work/grid/$s~$b.png")
      n=$((n + 1))
    done
  done
  rm -rf "$work/grid" && mkdir "$work/grid"
  ffmpeg -v error -nostdin -y -i "$plate" -filter_complex "[0:v]split=$n$split$chains" "${outputs[@]}"
  best_scored "$name" "$work/grid"
}

# The best keyed picture in `dir` (least alpha error over all pixels, or
# over the edges with `column` 4): "SETTINGS ALL BACKDROP SOLID EDGE LEAK
# COLOUR", SETTINGS from its name.
best_scored() {  # name dir [column]
  # The file's name (the rest of the line, spaces and all) holds the settings.
  "$score" "$work/$1-truth.png" "$2"/*.png | sort -k"${3:-1}","${3:-1}"g | head -n 1 |
    awk '{ n = split($0, path, "/"); sub(/\.png$/, "", path[n]); gsub(/~/, "/", path[n]);
           print path[n], $1, $2, $3, $4, $5, $6 }'
}

# Blender's Keying node over its grid (blender-key-grid.py: clip black, clip
# white, screen balance), every plate in one Blender run, into blender/NAME.
blender_grids() {  # names...
  : > "$work/blender-jobs.txt"
  for name in "$@"; do
    echo "$work/$(describe "$name" plate) $(describe "$name" key | sed 's/^0x//') $work/blender/$name keying" \
      >> "$work/blender-jobs.txt"
  done
  if ! "$blender" -b --factory-startup --python "$repo/bench/blender-key-grid.py" -- "$work/blender-jobs.txt" \
    > "$work/blender.log" 2>&1; then
    tail -n 20 "$work/blender.log" >&2
    echo "plate-bench: blender failed" >&2
    exit 1
  fi
}

# The six figures of one keyed picture.
figures_of() {  # name keyed
  "$score" "$work/$1-truth.png" "$2" | cut -d ' ' -f 1-6
}

row() {  # plate keyer figures...
  local plate=$1 keyer=$2
  shift 2
  if [ $# -eq 0 ]; then
    printf '| %s | %s | n/a | n/a | n/a | n/a | n/a | n/a |\n' "$plate" "$keyer"
  else
    printf '| %s | %s | %s | %s | %s | %s | %s%% | %s |\n' "$plate" "$keyer" "$@"
  fi
}

start=$SECONDS
echo "Generating the plates ..." >&2
mapfile -t plates < <("$make_plates" "$work")
if [ "$has_blender" = yes ]; then
  echo "Blender's Keying node over its grid, every plate ..." >&2
  blender_grids "${plates[@]}"
fi
echo
echo "Mean absolute alpha error in levels (0-255) over all pixels and over backdrop (true alpha 0), solid"
echo "(true 255) and edge pixels (between); the share of backdrop pixels keyed above alpha 32; the mean"
echo "absolute error of the straight colour per channel where the true alpha > 0, weighted by it."
echo "FFmpeg's keyers at their best similarity/blend of the grid for each plate; Blender's Keying node"
echo "(when blender is installed) at its best clip black/clip white/screen balance/edge kernel tolerance,"
echo "and at the setting of its grid with the least edge error."
echo
echo "| Plate | Keyer | Alpha error, all | backdrop | solid | edge | Backdrop > 32 | Colour error |"
echo "|---|---|---:|---:|---:|---:|---:|---:|"
for name in "${plates[@]}"; do
  plate=$work/$(describe "$name" plate)
  despill=$(describe "$name" screen)
  echo "Keying $name ..." >&2
  "$cli" key "$plate" "$work/classic.png" --channel auto --auto-adjust --quiet > /dev/null
  figures=$(figures_of "$name" "$work/classic.png")
  # shellcheck disable=SC2086 # the six figures are words
  row "$name" "classic, auto" $figures
  read -r settings figures <<< "$(best_of_grid "$name" "$plate" colorkey "$despill" \
    "0.04 0.07 0.1 0.14 0.19 0.25 0.33" "0 0.03 0.07 0.12")"
  # shellcheck disable=SC2086
  row "$name" "colorkey + despill, $settings" $figures
  read -r settings figures <<< "$(best_of_grid "$name" "$plate" chromakey "$despill" \
    "0.02 0.035 0.05 0.07 0.09 0.12 0.16" "0 0.02 0.05 0.1")"
  # shellcheck disable=SC2086
  row "$name" "chromakey + despill, $settings" $figures
  if [ "$has_blender" = yes ]; then
    read -r settings figures <<< "$(best_scored "$name" "$work/blender/$name")"
    # shellcheck disable=SC2086
    row "$name" "Blender Keying, $settings" $figures
    read -r settings figures <<< "$(best_scored "$name" "$work/blender/$name" 4)"
    # shellcheck disable=SC2086
    row "$name" "Blender Keying, least edge error, $settings" $figures
  fi
  if [ "$has_plate_keyer" = yes ]; then
    # The plate keyer is young: a plate it refuses is a row that says so
    # (its reason on stderr), not the end of the table.
    if "$cli" key "$plate" "$work/plate.png" --keyer plate --auto-adjust --quiet > /dev/null; then
      figures=$(figures_of "$name" "$work/plate.png")
      # shellcheck disable=SC2086
      row "$name" "plate, auto" $figures
    else
      row "$name" "plate, auto: FAILED"
    fi
    # Keyed against a clean plate, another exposure of the empty set.
    clean=${plate%.*}-clean.${plate##*.}
    if "$cli" key --help 2>/dev/null | grep -- '--clean-plate' > /dev/null; then
      if "$cli" key "$plate" "$work/plate.png" --keyer plate --auto-adjust --clean-plate "$clean" --quiet \
        > /dev/null; then
        figures=$(figures_of "$name" "$work/plate.png")
        # shellcheck disable=SC2086
        row "$name" "plate, auto, clean plate" $figures
      else
        row "$name" "plate, auto, clean plate: FAILED"
      fi
    fi
  else
    row "$name" "plate, auto"
  fi
done
echo
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $((SECONDS - start)) s" >&2
