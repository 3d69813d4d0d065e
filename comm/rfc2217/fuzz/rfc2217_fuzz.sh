#!/bin/sh
# Builds the RFC 2217 codec's fuzz target with clang and runs it briefly.
# Exits 77 (skipped) when clang or its fuzzer runtime is not there.
src="$1"; out="$2"; seconds="${3:-10}"
# The fuzzer brings its own (clang's) sanitizer runtime; a sanitized test
# run preloads gcc's, which must not reach it.
unset LD_PRELOAD
command -v clang++ >/dev/null 2>&1 || { echo "skipped: clang++ not installed"; exit 77; }
mkdir -p "$out/corpus"
if ! clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
        -I"$src/.." "$src/fuzz/rfc2217_fuzz.cpp" "$src/codes.cpp" "$src/telnet.cpp" "$src/server.cpp" "$src/client.cpp" \
        -o "$out/rfc2217_fuzz" 2>"$out/build.log"; then
    if grep -q -i "fuzzer" "$out/build.log"; then echo "skipped: clang's fuzzer runtime is absent"; exit 77; fi
    cat "$out/build.log"; exit 1
fi
# Seeds: a client's opening with a SET-BAUDRATE and data; a server's
# opening with its answers and a notification; data with doubled 255s for
# the round trip.
printf '\000\007\377\375\001\377\373\003\377\373\054\377\372\054\001\000\000\045\200\377\360\377\372\054\005\010\377\360ab\377\377c' > "$out/corpus/server"
printf '\001\003\377\373\000\377\375\054\377\372\054\145\000\000\045\200\377\360\377\372\054\153\260\377\360\377\372\054\144ser\377\360xy' > "$out/corpus/client"
printf '\002\005hello\377\377\377world\000\015\012' > "$out/corpus/roundtrip"
exec "$out/rfc2217_fuzz" -max_total_time="$seconds" -rss_limit_mb=1024 "$out/corpus"
