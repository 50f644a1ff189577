#!/bin/sh
# Builds the decoder's libFuzzer target with clang (ASan + UBSan) in build/fuzz and runs
# it for the given number of seconds (default 60).
set -e
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake -S . -B build/fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSFH_FUZZ=ON >/dev/null
cmake --build build/fuzz --target decoder_fuzz
mkdir -p build/fuzz/corpus
exec build/fuzz/tests/decode/decoder_fuzz -max_total_time="$seconds" -max_len=4096 \
  build/fuzz/corpus
