# Little-endian integers, byte by byte, for the shell generators of Targets.DAT files
# (sourced by examples/make-sample-targets.sh and tests/golden/make-edge-targets.sh).
le16() { printf "$(printf '\\%03o\\%03o' $(($1 & 255)) $(($1 >> 8 & 255)))"; }
le32() {
  v=$1
  [ "$v" -lt 0 ] && v=$((v + 4294967296))
  printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((v & 255)) $((v >> 8 & 255)) \
    $((v >> 16 & 255)) $((v >> 24 & 255)))"
}
