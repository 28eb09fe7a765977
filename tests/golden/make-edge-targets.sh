#!/bin/sh
# Writes a Targets.DAT of entries at the edges of the format, byte by byte with printf, for the
# golden files of the tests: names that fill their fields, names that reading would change
# without quotes, 8-bit Windows characters, every field with a value of its own. Usage:
# make-edge-targets.sh OUTPUT
set -eu
out=$1

. "$(dirname "$0")/../../examples/le-bytes.sh"
# A text field: the bytes of $1 (printf escapes allowed), then zeros up to $2 bytes.
field() {
  printf "$1" >"$out.field"
  cat "$out.field"
  head -c $(($2 - $(wc -c <"$out.field"))) /dev/zero
}
entry() {  # title class action search setpos left top width height
  field "$1" 129
  field "$2" 131
  le32 "$3"
  le32 "$4"
  le32 "$5"
  le32 "$6"
  le32 "$7"
  le32 "$8"
  le32 "$9"
}

{
  le16 1
  le16 3
  le32 8
  entry "$(printf '%0129d' 0 | tr 0 W)" "$(printf '%0131d' 0 | tr 0 C)" 1 0 1 1111 2222 3333 4444
  entry ' leading' 'trailing ' 2 1 0 0 65535 1 32768
  entry '"quoted"' "'single'" 3 2 1 10 20 30 40
  entry 'Tab\there' 'a=b;c[d]' 4 0 0 65526 5 6 7
  entry 'Caf\351 Gr\366\337e' 'Fen\352tre' 5 1 1 800 600 1024 768
  entry 'Default Window' 'UseDefault' 0 2 0 1 2 3 4
  entry '  both  ' '"' 1 0 1 7 8 9 10
  entry 'x' 'y' 5 2 1 65535 65535 65535 65535
} >"$out"
rm -f "$out.field"
