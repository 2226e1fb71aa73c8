# Sourced by bench/run.sh and bench/block_size.sh: builds the qor3 set of a generated data set
# again with qor-mkdict, file by file with the generator's options (edition values read from
# the generator's files), so that the result equals the generator's files byte for byte.

# header_u32 FILE OFFSET: the big-endian 32-bit value at OFFSET.
header_u32() { od -An -tu1 -j"$2" -N4 "$1" | awk '{print $1*16777216 + $2*65536 + $3*256 + $4}'; }

# build_qor_set MKDICT ROOT DATA OUT [MKDICT OPTIONS]: DATA/tsv/qor*.tsv into OUT/dict and
# OUT/corrections (emptied first).
build_qor_set() {
  local mkdict=$1 root=$2 data=$3 out=$4 tsv name source
  local -a target
  shift 4
  rm -rf "$out"
  mkdir -p "$out/dict" "$out/corrections"
  for tsv in "$data"/tsv/qor*.tsv; do
    name=$(basename "$tsv" .tsv)
    if [[ $name == qor5001 ]]; then
      source=$data/corrections/qor5001.dct
      target=(--correction "$tsv" "$out/corrections")
    else
      source=$data/dict/$name.dct
      target=(--number "$((10#${name#qor}))" "$tsv" "$out/dict")
    fi
    "$mkdict" --edition1 "$(header_u32 "$source" 4)" --edition2 "$(header_u32 "$source" 8)" \
      --area-codes "$root/data/area_codes.txt" \
      --extended-area-codes "$root/data/extended_area_codes.txt" "$@" "${target[@]}" > /dev/null
  done
}
