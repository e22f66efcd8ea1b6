#!/usr/bin/env bash
# The console program on emulated processors without AVX-512 (Haswell: AVX2
# with FMA) and without any vector unit (qemu64), with the automatic choice
# of search: no illegal instruction, the search of that processor in force,
# and a status file identical line for line to the native run's.
# Usage: same_factors_under_qemu.sh ZUDSIEVE TESTDATA_DIR; exit 77 (skipped)
# without qemu-x86_64.
set -euo pipefail
program=$1
data=$2
command -v qemu-x86_64 >/dev/null || { echo "qemu-x86_64 is not installed (Debian qemu-user)"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset ZUDSIEVE_ISA

# A range with 77 factors below 2^48, and one across 2^52 where the
# IFMA products hand over to the 64-bit ones.
ranges=("1000000 8000000" "4503599626370496 4503599628370496")

run() {   # run NAME RANGE [EMULATOR...]
  local name=$1 range=$2
  shift 2
  mkdir -p "$work/$name"
  cp "$data/small_Zud.dat" "$work/$name/Zud.dat"
  # shellcheck disable=SC2086
  "$@" "$program" --console --range $range "$work/$name" </dev/null >"$work/$name.log" 2>&1 ||
    { echo "$name failed:"; cat "$work/$name.log"; exit 1; }
}

for i in "${!ranges[@]}"; do
  run "native$i" "${ranges[$i]}"
done
for cpu in Haswell:avx2 qemu64:generic; do
  model=${cpu%%:*}
  expected=${cpu#*:}
  line=$(qemu-x86_64 -cpu "$model" "$program" --version 2>/dev/null | grep '^instruction set: ')
  [ "$line" = "instruction set: $expected" ] || { echo "-cpu $model: '$line', not '$expected'"; exit 1; }
  for i in "${!ranges[@]}"; do
    run "$model$i" "${ranges[$i]}" qemu-x86_64 -cpu "$model"
    diff "$work/native$i/ZudStatus.dat" "$work/$model$i/ZudStatus.dat" ||
      { echo "-cpu $model, range ${ranges[$i]}: the status files differ"; exit 1; }
  done
  echo "-cpu $model ($expected): same status files"
done
