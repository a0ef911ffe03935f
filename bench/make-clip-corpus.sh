#!/usr/bin/env bash
# bench/make-clip-corpus.sh DIR: writes into DIR, with Debian's ffmpeg tool,
# clips of every kind bench/clip-corpus.sh should key or refuse with a
# reason: every container keyvale-cli reads, phone rotations, HLG and PQ
# tags, 10-bit, interlaced, variable frame rate, odd and tiny sizes, real
# camera sizes (the automatic settings' reference frame a second in), clips
# cut off mid-frame, and files that are no clip at all.
set -euo pipefail

dir=${1:?usage: bench/make-clip-corpus.sh DIR}
mkdir -p "$dir"
ff() { ffmpeg -v error -nostdin -y "$@"; }
src() { echo "testsrc2=s=$1:r=${2:-25},drawbox=x=iw/4:y=ih/4:w=iw/3:h=ih/3:color=0x30b040:t=fill,format=rgb24"; }
small=(-f lavfi -i "$(src 320x240)" -t 2)

# Containers.
ff "${small[@]}" -c:v libx264 -pix_fmt yuv420p -f mpegts "$dir/camera.m2ts"
ff "${small[@]}" -c:v libx264 -pix_fmt yuv420p -f mpegts "$dir/broadcast.ts"
ff "${small[@]}" -c:v mpeg2video -f vob "$dir/dvd.vob"
ff "${small[@]}" -c:v mpeg2video -f mpeg "$dir/program.mpg"
ff "${small[@]}" -c:v mpeg2video -f mxf "$dir/broadcast.mxf"
ff "${small[@]}" -c:v dnxhd -profile:v dnxhr_hq -pix_fmt yuv422p -f mxf "$dir/dnxhr.mxf"
ff -f lavfi -i "$(src 720x576)" -t 1 -pix_fmt yuv420p -c:v dvvideo -f dv "$dir/tape.dv"
ff "${small[@]}" -c:v wmv2 -f asf "$dir/web.wmv"
ff "${small[@]}" -c:v libvpx -f ivf "$dir/vp8.ivf"
ff "${small[@]}" -c:v libvpx-vp9 -deadline realtime -f ivf "$dir/vp9.ivf"
ff "${small[@]}" -c:v libx264 -f h264 "$dir/raw.h264"
ff "${small[@]}" -c:v libx265 -x265-params log-level=none -f hevc "$dir/raw.hevc"
ff "${small[@]}" -c:v libx264 -pix_fmt yuv420p "$dir/web.mp4"
ff "${small[@]}" -c:v libx264 -pix_fmt yuv420p -movflags +frag_keyframe+empty_moov "$dir/fragmented.mp4"
ff "${small[@]}" -c:v flv -f flv "$dir/web.flv"
ff "${small[@]}" -c:v libvpx-vp9 -deadline realtime "$dir/web.webm"
ff "${small[@]}" -c:v libtheora "$dir/web.ogv"
ff "${small[@]}" -c:v mjpeg -f mjpeg "$dir/raw-mjpeg.avi"
ff "${small[@]}" -c:v mjpeg "$dir/mjpeg.avi"

# Phone rotations (FFmpeg writes them as a display matrix), one mirrored.
ff "${small[@]}" -c:v libx264 -pix_fmt yuv420p "$dir/.upright.mp4"
for angle in 90 -90 180; do ff -i "$dir/.upright.mp4" -c copy -metadata:s:v:0 rotate=$angle "$dir/phone-$angle.mp4"; done
ff "${small[@]}" -vf hflip -c:v libx264 -pix_fmt yuv420p -metadata:s:v:0 rotate=90 "$dir/.mirrored.mp4"
ff -i "$dir/.mirrored.mp4" -c copy -metadata:s:v:0 rotate=90 "$dir/phone-mirrored.mov"
rm -f "$dir/.upright.mp4" "$dir/.mirrored.mp4"

# HDR tags, 10-bit, interlaced, variable frame rate.
hdr=(-c:v libx265 -x265-params log-level=none -pix_fmt yuv420p10le -color_primaries bt2020 -colorspace bt2020nc)
ff "${small[@]}" "${hdr[@]}" -color_trc arib-std-b67 -tag:v hvc1 "$dir/hlg.mov"
ff "${small[@]}" "${hdr[@]}" -color_trc smpte2084 "$dir/pq.mp4"
ff "${small[@]}" -c:v prores_ks -profile:v 3 -pix_fmt yuv422p10le "$dir/prores-10bit.mov"
ff "${small[@]}" -c:v libx264 -flags +ilme+ildct -top 1 -field_order tt "$dir/interlaced.mov"
ff -f lavfi -i "$(src 320x240),setpts='N*N/25/TB'" -frames:v 30 -fps_mode vfr -c:v libx264 "$dir/variable-rate.mp4"

# Deep sources, keyed in float: 10-bit 4:2:0, 4:2:2 and 4:4:4, 12-bit ProRes
# 4444 with alpha, DNxHR HQX, HEVC main10, and deep odd sizes, one rotated,
# one interlaced and one cut off mid-frame.
deep() { ff -f lavfi -i "$(src "$1")" -t "${2:-1}" "${@:3}"; }
for chroma in 420 422 444; do deep 320x240 1 -c:v ffv1 -pix_fmt yuv${chroma}p10le "$dir/deep-$chroma-10bit.mkv"; done
deep 320x240 1 -c:v prores_ks -profile:v 4 -pix_fmt yuva444p12le "$dir/deep-prores4444-12bit.mov"
deep 320x240 1 -c:v prores_ks -profile:v 3 -pix_fmt yuv422p10le -vf scale=out_color_matrix=bt709 "$dir/deep-prores422-10bit.mov"
deep 1280x720 0.5 -c:v dnxhd -profile:v dnxhr_hqx -pix_fmt yuv422p10le "$dir/deep-dnxhr-hqx.mov"
deep 320x240 1 -c:v libx265 -x265-params log-level=none -pix_fmt yuv420p10le "$dir/deep-hevc-main10.mp4"
deep 320x240 1 -c:v libx265 -x265-params log-level=none -pix_fmt yuv422p12le "$dir/deep-hevc-12bit.mkv"
for size in 1x1 5x3 161x121 1000x560 1080x720; do deep $size 0.5 -c:v ffv1 -pix_fmt yuv444p12le "$dir/deep-size-$size.mkv"; done
deep 161x121 1 -c:v ffv1 -pix_fmt yuv422p10le -metadata:s:v:0 rotate=90 "$dir/.deep-upright.mov"
ff -i "$dir/.deep-upright.mov" -c copy -metadata:s:v:0 rotate=90 "$dir/deep-phone-90.mov"
rm -f "$dir/.deep-upright.mov"
deep 320x240 1 -c:v prores_ks -profile:v 3 -pix_fmt yuv422p10le -flags +ilme+ildct -field_order tt "$dir/deep-interlaced.mov"
ff -f lavfi -i "$(src 320x240),setpts='N*N/25/TB'" -frames:v 20 -fps_mode vfr -c:v libx265 -x265-params log-level=none \
  -pix_fmt yuv420p10le "$dir/deep-variable-rate.mp4"

# Odd and tiny sizes, and real camera sizes through the automatic settings.
for size in 1x1 5x3 161x121; do ff -f lavfi -i "$(src $size)" -t 2 -c:v ffv1 -pix_fmt yuv420p "$dir/size-$size.mkv"; done
for size in 1080x720 1000x560 1080x1080 1920x1080 1440x1080; do
  ff -f lavfi -i "$(src $size 30)" -t 1.5 -c:v libx264 -preset ultrafast -pix_fmt yuv420p "$dir/real-$size.mp4"
done

# Clips cut off mid-frame, and files that are no clip.
for clip in web.mp4 broadcast.ts raw.h264 web.webm raw-mjpeg.avi deep-prores4444-12bit.mov deep-422-10bit.mkv; do
  bytes=$(stat -c %s "$dir/$clip")
  head -c $((bytes * 3 / 5)) "$dir/$clip" >"$dir/cut-$clip"
done
head -c 5000 /dev/urandom >"$dir/noise.bin"
printf 'not a clip\n' >"$dir/notes.txt"
: >"$dir/empty.mov"
echo "make-clip-corpus: $(find "$dir" -type f | wc -l) files in $dir"
