#!/usr/bin/env bash
# Writes the fuzz targets' seeds (corpus/) again from the programs of a main build.
#   fuzz/make-seeds.sh BIN_DIR      (BIN_DIR: build/bin)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "${1:?usage: $0 BIN_DIR}" && pwd)
data=$here/../data
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A store as the store target takes it: the header, then everything from the first allocation
# map on, without the zeros that end the last allocation region (FuzzInput.h).
compact() {
  python3 - "$1" "$2" <<'PY'
import sys
b = open(sys.argv[1], 'rb').read()
assert not any(b[564:0x4400]), 'bytes between the header and the first map'
rest = b[0x4400:].rstrip(b'\0')
open(sys.argv[2], 'wb').write(b[:564] + rest)
PY
}

stores=$here/corpus/store_reader
rm -rf "$stores" && mkdir -p "$stores"
for encoding in none cyclic; do
  "$bin/lumivex-pstgen" "$data/edge/one-contact.json" --encoding $encoding --out "$work/s.pst" >/dev/null
  compact "$work/s.pst" "$stores/unicode-one-contact-$encoding.pst"
done
for encoding in compressible cyclic; do
  "$bin/lumivex-pstgen" "$data/edge/one-contact.json" --encoding $encoding --ansi \
    --out "$work/s.pst" >/dev/null
  compact "$work/s.pst" "$stores/ansi-one-contact-$encoding.pst"
done
"$bin/lumivex-pstgen" --contacts 3 --seed 5 --out "$work/s.pst" >/dev/null
compact "$work/s.pst" "$stores/unicode-three-synthetic.pst"
"$bin/lumivex-pstgen" "$data/edge/awkward-names.json" --encoding cyclic --out "$work/s.pst" \
  >/dev/null
compact "$work/s.pst" "$stores/unicode-awkward-names-cyclic.pst"
# Every field of the contact form, a distribution list, pictures and an RTF body (45 KB, most
# of it the pictures).
"$bin/lumivex-pstgen" "$data/edge/every-field.json" --encoding cyclic --out "$work/s.pst" \
  >/dev/null
compact "$work/s.pst" "$stores/unicode-every-field-cyclic.pst"

books=$here/corpus/address_book
rm -rf "$books" && mkdir -p "$books"
cp "$bin/xwab.def" "$books/empty.wab"  # the template, as the component writes it
"$bin/lumivex-pstgen" "$data/edge/awkward-names.json" --out "$work/s.pst" >/dev/null
LUMIVEX_TOOL_DIR=$bin "$bin/lumivex-cli" export --format wab --out "$work/wab" "$work/s.pst" \
  >/dev/null
cp "$work"/wab/*.wab "$books/awkward-names.wab"

# The worksheet target reads its input as choices and texts (FuzzedDataProvider): any bytes do.
sheets=$here/corpus/worksheet
rm -rf "$sheets" && mkdir -p "$sheets"
printf 'Anna M\xc3\xbcller, Stra\xc3\x9fe 1\x00\x00\x00' >"$sheets/latin.txt"
printf '\x0b\x00\x10\x00A\x00\xd8\x00\xdc\x3d\xd8\x00\x4e\x01\x30\xff\xfe\x03\x05' >"$sheets/utf16.bin"
printf '\x02\x03\x05\x12\x00\xd8\x41\x00\x00\xdc\x00\x00\x7f\xff\x01' >"$sheets/surrogates.bin"
ls -l "$stores" "$books" "$sheets"
