#!/bin/sh
# Builds the ZModem receiver's fuzz target with clang and runs it briefly.
# Exits 77 (skipped) when clang or its fuzzer runtime is not there.
src="$1"; out="$2"; seconds="${3:-10}"
# The fuzzer brings its own (clang's) sanitizer runtime; a sanitized test
# run preloads gcc's, which must not reach it.
unset LD_PRELOAD
command -v clang++ >/dev/null 2>&1 || { echo "skipped: clang++ not installed"; exit 77; }
mkdir -p "$out/corpus"
if ! clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
        -I"$src" "$src/fuzz/zmodem_fuzz.cpp" "$src/zmodem.cpp" "$src/zmodem_frame.cpp" "$src/xmodem_frame.cpp" \
        -o "$out/zmodem_fuzz" 2>"$out/build.log"; then
    if grep -q -i "fuzzer" "$out/build.log"; then echo "skipped: clang's fuzzer runtime is absent"; exit 77; fi
    cat "$out/build.log"; exit 1
fi
# Seeds: a sender's ZRQINIT, a ZFILE with its subpacket, a ZDATA frame, a
# ZEOF and a ZFIN; a CRC-32 header; a crash-recovery ZFILE.
printf '\377\000rz\r**\030B00000000000000\r\212\021*\030A\004\000\000\000\000\211\006f\0003 0\000\030k\004|*\030A\012\000\000\000\000F\256abc\030h\000\000**\030B0b030000000000\r\212**\030B0800000000022d\r\212OO' > "$out/corpus/file"
printf '\000\000*\030C\004\000\000\000\000\000\000\000\000x\000\030k\000\000\000\000' > "$out/corpus/crc32"
printf '\377\000*\030A\004\000\000\000\003\000\000f\0005000\000\030k\000\000' > "$out/corpus/recover"
exec "$out/zmodem_fuzz" -max_total_time="$seconds" -rss_limit_mb=1024 "$out/corpus"
