#!/bin/sh
# Builds the Kermit receiver's fuzz target with clang and runs it briefly.
# Exits 77 (skipped) when clang or its fuzzer runtime is not there.
src="$1"; out="$2"; seconds="${3:-10}"
# The fuzzer brings its own (clang's) sanitizer runtime; a sanitized test
# run preloads gcc's, which must not reach it.
unset LD_PRELOAD
command -v clang++ >/dev/null 2>&1 || { echo "skipped: clang++ not installed"; exit 77; }
mkdir -p "$out/corpus"
if ! clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
        -I"$src" "$src/fuzz/kermit_fuzz.cpp" "$src/kermit.cpp" "$src/kermit_packet.cpp" "$src/xmodem_frame.cpp" \
        -o "$out/kermit_fuzz" 2>"$out/build.log"; then
    if grep -q -i "fuzzer" "$out/build.log"; then echo "skipped: clang's fuzzer runtime is absent"; exit 77; fi
    cat "$out/build.log"; exit 1
fi
# Seeds: a send-init, a file header and a data packet, then the end of the
# file and of the transfer, each packet with its check.
printf '\000\001) S~* @-#W\r\001&!Fa.b_\r\001)"D#M###\315U\r\001#"ZA\r' > "$out/corpus/file"
printf '\000\001) S~* @-#W\r\001#!B(\r' > "$out/corpus/break"
printf '\001\001\001# Y>\r\001) S~*' > "$out/corpus/broken"
exec "$out/kermit_fuzz" -max_total_time="$seconds" -rss_limit_mb=1024 "$out/corpus"
