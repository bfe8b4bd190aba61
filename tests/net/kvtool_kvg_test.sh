#!/usr/bin/env bash
# kvtool pack-kvg / ls / extract round trip for every method, with a key.
set -euo pipefail
kvtool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in/pics"
head -c 70000 /dev/urandom > "$work/in/noise.bin"
for i in $(seq 1 2000); do echo "line $i of the project text"; done > "$work/in/proj.kvp"
printf 'BM' > "$work/in/pics/Logo.bmp"
for m in none predictor lzss lzhuf; do
  "$kvtool" pack-kvg "$work/in" -o "$work/$m.kvg" --method "$m" --key 0x01020304 --description "demo $m" > /dev/null
  "$kvtool" ls "$work/$m.kvg" > "$work/$m.ls"
  grep -q "^description: demo $m$" "$work/$m.ls"
  grep -Eq "^$m +[0-9]+ +70000  noise.bin$" "$work/$m.ls"
  grep -Eq " 2  pics\\\\Logo.bmp$" "$work/$m.ls"
  "$kvtool" extract "$work/$m.kvg" -o "$work/out-$m" > /dev/null
  diff -r "$work/in" "$work/out-$m"
  # One entry by name, without regard to case.
  "$kvtool" extract "$work/$m.kvg" 'PICS\logo.BMP' -o "$work/one-$m" > /dev/null
  cmp "$work/in/pics/Logo.bmp" "$work/one-$m/pics/Logo.bmp"
  [ ! -e "$work/one-$m/proj.kvp" ]
done
# A wrong key and a missing entry fail with their exit codes.
set +e
"$kvtool" ls "$work/lzss.kvg" --key 7 2> /dev/null; [ $? -eq 2 ] || exit 1
"$kvtool" extract "$work/lzss.kvg" nothere -o "$work/x" 2> /dev/null; [ $? -eq 1 ] || exit 1
head -c 100 "$work/lzss.kvg" > "$work/cut.kvg"
"$kvtool" ls "$work/cut.kvg" > /dev/null 2>&1; [ $? -eq 2 ] || exit 1
echo "kvtool kvg round trips ok"
