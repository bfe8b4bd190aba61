#!/usr/bin/env bash
# Makes the tests' movies with Debian's ffmpeg (tests only; the player links
# FFmpeg's libraries and never runs the command). Every picture is 128 x 32:
# the top 16 rows carry the frame number in binary, one 16-pixel column a
# bit, most significant first (white 1, black 0); the bottom 16 rows are
# pure red. The sound is a 441 Hz sine (a period of exactly 100 samples at
# 44,100 Hz) at an eighth of full scale, the sine source's own level.
set -euo pipefail
cd "$(dirname "$0")"
bits="255*mod(floor(N/pow(2,7-floor(X/16))),2)"
pattern="color=black:s=128x32:r=30:d=2,format=gbrp,geq=r='if(lt(Y,16),$bits,255)':g='if(lt(Y,16),$bits,0)':b='if(lt(Y,16),$bits,0)'"
tone="sine=f=441:r=44100:d=1"
q=(-hide_banner -loglevel error -y -bitexact)
# MPEG-4 part 2 with 16-bit PCM sound in AVI: the scenes' movie.
ffmpeg "${q[@]}" -f lavfi -i "$pattern" -f lavfi -i "$tone" -c:v mpeg4 -q:v 2 -g 15 -pix_fmt yuv420p \
  -c:a pcm_s16le -ac 1 count.avi
# The same picture in other containers and codecs, without sound.
ffmpeg "${q[@]}" -f lavfi -i "$pattern" -c:v libx264 -preset veryfast -qp 0 -g 15 -pix_fmt yuv444p count.mp4
ffmpeg "${q[@]}" -f lavfi -i "$pattern" -c:v mjpeg -q:v 2 -pix_fmt yuvj444p count.mov
ffmpeg "${q[@]}" -f lavfi -i "$pattern" -c:v ffv1 -pix_fmt yuv444p count.mkv
# Sound only: a movie without a picture.
ffmpeg "${q[@]}" -f lavfi -i "$tone" -t 0.2 -c:a pcm_s16le -ac 1 tone_only.avi
# A movie whose header holds no frames (every packet dropped by a time limit).
ffmpeg "${q[@]}" -f lavfi -i "$pattern" -c:v mpeg4 -t 0 empty.avi || true
# Its first 20,000 bytes: a truncated file (a few frames, no index).
head -c 20000 count.avi > truncated.avi
