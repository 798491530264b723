#!/bin/sh
# Builds the splitter fuzz target with clang's libFuzzer and runs it.
#   tests/fuzz/splitter_fuzz.sh [SECONDS]     (default 60)
# The build and the corpus go to build/fuzz/ in the source tree; the last lines
# of the output give the execution count.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
out="$root/build/fuzz"
seconds=${1:-60}
mkdir -p "$out/splitter-corpus"
src="$root/src"
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -I"$src" \
    "$root/tests/fuzz/splitter_fuzz.cpp" "$src/db/script_splitter.cpp" "$src/db/parser.cpp" \
    "$src/platform/unicode.cpp" "$src/rtl/text.cpp" "$src/rtl/exception.cpp" \
    -o "$out/splitter_fuzz"
# Seeds: a few shapes the splitter has rules for.
printf 'select 1; select 2' >"$out/splitter-corpus/plain"
printf 'set term ^ ;\r\ncreate procedure p as begin x = 1; end^\r\nset term ; ^\r\n' >"$out/splitter-corpus/term"
printf 'create or alter trigger t for u as begin x = case when 1 then 2 end; end;\r\n/\r\n' >"$out/splitter-corpus/body"
printf "delimiter ;// x '/*' -- c\r\nexecute block as begin end;" >"$out/splitter-corpus/misc"
"$out/splitter_fuzz" -max_total_time="$seconds" -timeout=5 -max_len=4096 "$out/splitter-corpus" 2>&1 | tail -n 4
