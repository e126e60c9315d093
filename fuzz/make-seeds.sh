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
# The same-person target reads two contacts' choices and texts, then the rest as a card a server
# holds: cards as our writer, Evolution and another server write them.
people=$here/corpus/same_person
rm -rf "$people" && mkdir -p "$people"
printf 'BEGIN:VCARD\r\nVERSION:4.0\r\nUID:urn:uuid:5f0c6d8e-1b2a-4c3d-9e8f-0a1b2c3d4e5f\r\nFN:Anna Berg\r\nN:Berg;Anna;;;\r\nEMAIL:anna@example.com\r\nTEL;TYPE=home,voice:+46 8 123 456\r\nBDAY:19800517\r\nEND:VCARD\r\n' >"$people/ours.vcf"
printf 'BEGIN:VCARD\nVERSION:3.0\nUID:0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d\nN:Lund\\, Jr.;Cy;K. J.;;Jr.\nFN:Cy K. J. Lund Jr.\nitem1.EMAIL;TYPE=INTERNET:cy@example.com\nTEL;TYPE=WORK,FAX:+1 212 555 0100\nTEL;TYPE=X-EVOLUTION-COMPANY:0046 8 555\n 12 12 ext. 7\nBDAY:--0517\nEND:VCARD\n' >"$people/evolution.vcf"
printf 'BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nUID:urn:uuid:11111111-2222-4333-8444-555555555555\r\nFN:Team\r\nMEMBER:urn:uuid:5f0c6d8e-1b2a-4c3d-9e8f-0a1b2c3d4e5f\r\nTEL;VALUE=uri;TYPE="cell":tel:+44-20-1234-5678\r\nEND:VCARD\r\n' >"$people/group.vcf"
ls -l "$stores" "$books" "$sheets" "$people"
