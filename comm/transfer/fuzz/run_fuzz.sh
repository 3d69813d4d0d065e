#!/bin/sh
# Builds the receivers' fuzz target with clang and runs it briefly.
# Exits 77 (skipped) when clang or its fuzzer runtime is not there.
src="$1"; out="$2"; seconds="${3:-10}"
# The fuzzer brings its own (clang's) sanitizer runtime; a sanitized test
# run preloads gcc's, which must not reach it.
unset LD_PRELOAD
command -v clang++ >/dev/null 2>&1 || { echo "skipped: clang++ not installed"; exit 77; }
mkdir -p "$out/corpus"
if ! clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
        -I"$src" "$src/fuzz/receivers_fuzz.cpp" "$src/xymodem.cpp" "$src/xmodem_frame.cpp" \
        -o "$out/receivers_fuzz" 2>"$out/build.log"; then
    if grep -q -i "fuzzer" "$out/build.log"; then echo "skipped: clang's fuzzer runtime is absent"; exit 77; fi
    cat "$out/build.log"; exit 1
fi
# Seeds: a good CRC block, an EOT, a YModem header.
printf '\001\001\001\376AAAA' > "$out/corpus/block"
printf '\003\000\004' > "$out/corpus/eot"
printf '\003\000\001\000\377f\000001 0 0' > "$out/corpus/header"
exec "$out/receivers_fuzz" -max_total_time="$seconds" -rss_limit_mb=1024 "$out/corpus"
