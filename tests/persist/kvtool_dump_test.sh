#!/usr/bin/env bash
# kvtool dump and pack from the outside: exit codes, messages, byte-exact
# round trips of the seed files.
set -u
kvtool=$1; corpus=$2; work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }

"$kvtool" dump "$work/none.kvp" >"$work/out" 2>"$work/err"; rc=$?
check "missing file exits 1" '[ $rc -eq 1 ]'
check "missing file names the message" 'grep -q "Unable to locate Korvel script: $work/none.kvp" "$work/err"'

printf '\x09\x00' >"$work/v9.kvp"
"$kvtool" dump "$work/v9.kvp" >"$work/out" 2>"$work/err"; rc=$?
check "bad version exits 2" '[ $rc -eq 2 ]'
check "bad version is a schema failure" 'grep -q "v9.kvp contains an incorrect schema." "$work/err"'

head -c 330 "$corpus/project_v8.kvp" >"$work/cut.kvp"
"$kvtool" dump "$work/cut.kvp" >"$work/out" 2>"$work/err"; rc=$?
check "truncated file exits 2" '[ $rc -eq 2 ]'
check "truncated file is end of file" 'grep -q "past its end" "$work/err"'

# A project's root node takes the file's own name, so the copy bears the
# name its root node was stored with.
cp "$corpus/project_v8.kvp" "$work/p.kvp"
for f in "$work/p.kvp" "$corpus"/script_v8.kvs; do
  name=$(basename "$f")
  "$kvtool" dump "$f" >"$work/$name.json" || { echo "FAIL: dump $name"; fail=1; continue; }
  "$kvtool" pack "$work/$name.json" -o "$work/$name" || { echo "FAIL: pack $name"; fail=1; continue; }
  check "$name round trip is byte-exact" 'cmp -s "$f" "$work/$name"'
done

"$kvtool" dump "$corpus/project_v3.kvp" >"$work/v3.json"
check "old version is reported as read" 'grep -q "\"loadedVersion\": 3" "$work/v3.json"'
"$kvtool" pack "$work/v3.json" -o "$work/v3.kvp"
check "pack writes the newest version" '[ "$(head -c 2 "$work/v3.kvp" | od -An -tx1 | tr -d " ")" = "0800" ]'

# A compilation of each method dumps as the project inside it.
mkdir -p "$work/kvg"
cp "$corpus/project_v8.kvp" "$work/kvg/p.kvp"
"$kvtool" dump "$work/kvg/p.kvp" >"$work/p.json"
for m in none predictor lzss lzhuf; do
  "$kvtool" pack-kvg "$work/kvg" -o "$work/p_$m.kvg" --method $m >/dev/null
  "$kvtool" dump "$work/p_$m.kvg" p.kvp >"$work/p_$m.json" 2>"$work/err"
  check "compilation ($m) dumps as its project" 'cmp -s "$work/p.json" "$work/p_$m.json"'
done
cp "$work/p_lzss.kvg" "$work/p.kvg"
"$kvtool" dump "$work/p.kvg" >"$work/p_default.json"
check "a compilation's own name names its project" 'cmp -s "$work/p.json" "$work/p_default.json"'
"$kvtool" dump "$work/p_lzss.kvg" >/dev/null 2>"$work/err"; rc=$?
check "missing project in a compilation exits 1" '[ $rc -eq 1 ]'
check "missing project names the compilation" 'grep -q "in Consolidated File: $work/p_lzss.kvg" "$work/err"'
printf '*PSB' >"$work/bad.kvg"
"$kvtool" dump "$work/bad.kvg" >/dev/null 2>"$work/err"; rc=$?
check "corrupt compilation exits 2" '[ $rc -eq 2 ]'
check "corrupt compilation message" 'grep -q "^kvtool dump: $work/bad.kvg: not a compilation (bad header)" "$work/err"'
"$kvtool" dump "$work/none.kvg" >/dev/null 2>"$work/err"; rc=$?
check "missing compilation exits 1" '[ $rc -eq 1 ]'
check "missing compilation names itself" 'grep -q "^kvtool dump: cannot read $work/none.kvg: no such file" "$work/err"'
check "missing compilation names no project" '! grep -q "none.kvp" "$work/err"'

# A compilation packed with a key dumps with its header's key or the same one
# given; another key is named as wrong.
"$kvtool" pack-kvg "$work/kvg" -o "$work/keyed.kvg" --method lzss --key 0x01020304 >/dev/null
"$kvtool" dump "$work/keyed.kvg" p.kvp >"$work/keyed.json" 2>"$work/err"
check "keyed compilation dumps with its own key" 'cmp -s "$work/p.json" "$work/keyed.json"'
"$kvtool" dump "$work/keyed.kvg" p.kvp --key 0x01020304 >"$work/keyed.json" 2>"$work/err"
check "keyed compilation dumps with --key" 'cmp -s "$work/p.json" "$work/keyed.json"'
"$kvtool" dump "$work/keyed.kvg" p.kvp --key 7 >/dev/null 2>"$work/err"; rc=$?
check "wrong key exits 2" '[ $rc -eq 2 ]'
check "wrong key is named" 'grep -q "wrong archive key: it was not packed with key 0x00000007" "$work/err"'

echo '{"class":"CStgDoc"}' >"$work/bad.json"
"$kvtool" pack "$work/bad.json" -o "$work/bad.kvp" 2>"$work/err"; rc=$?
check "incomplete JSON exits 2" '[ $rc -eq 2 ]'
check "incomplete JSON names the field" 'grep -q "loadedVersion: expected this field" "$work/err"'
check "no output on failure" '[ ! -e "$work/bad.kvp" ]'

[ $fail -eq 0 ] && echo "kvtool dump/pack: all checks passed"
exit $fail
