#!/usr/bin/env bash
# Applies deliberate faults to the program one at a time and runs `make test` for each: every one
# must make the tests fail. Prints a line per fault and exits non-zero if any fault survived.
# Each file is restored right after its run, also when the script is interrupted.
set -uo pipefail
cd "$(dirname "$0")/.."

# file | text as it stands | text with the fault | what the fault is
mutants=(
    "protocol/block_codec.cpp|unsigned char code = 0;|unsigned char code = 0x20;|a wrong block check byte"
    "send/record_reader.cpp|ZeroFilled(state.blockSeq, kSeqDigits)|ZeroFilled(state.blockSeq % 100, kSeqDigits)|sequence numbers that wrap at 99"
    "protocol/record_packing.cpp|line.resize(length, programFile ? '0' : ' ');|line.resize(length, ' ');|a record padded with the wrong character"
    "send/transmit_file.cpp|            } else if (++s_.timerTicks >= s_.timeoutCount) {|            } else if (++s_.timerTicks > s_.timeoutCount) {|one 3-second slice too many before giving up"
    "send/transmit_file.h|kMaxNaks = 10;|kMaxNaks = 11;|one NAK retry too many"
    "files/file_open.cpp|            return result::kFileNotFound;|            return result::kPathNotFound;|a wrong result code for a missing file"
    "send/transmit_file.cpp|    if (s_.blockSeq > s_.recordCount) {|    if (s_.blockSeq >= s_.recordCount) {|the last record not sent"
    "protocol/heading.cpp|text += ZeroFilled(recordCount, 5);|text += ZeroFilled(recordCount + 1, 5);|a heading with a wrong record count"
    "receive/receive_file.cpp|*value == *expected - 1 ? ds::kRepeat|*value == *expected - 1 ? ds::kAccepted|a repeated block written twice"
    "receive/receive_header.cpp| && !HoldsHeadingFrame(s.rxBuffer)||an ENQ check byte taken for a call"
    "protocol/ymodem_block.cpp|frame.push_back(static_cast<char>(crc >> 8));|frame.push_back(static_cast<char>(crc));|a YMODEM CRC sent low byte first"
    "link/block_framing.cpp|record, BlockOptionsOf(state)));|record, BlockOptionsOf(state)) + '~');|a loader that sends a byte too many behind each data block"
    "receive/receive_ymodem.cpp|                if (directory.writeError() != 0) {|                if (directory.writeError() == 0) {|a full disk under YMODEM taken for the line's failure"
)

# Restoring writes the file anew, so that the next build compiles it again.
put_back() { cat "$1.mutant-orig" >"$1" && rm -f "$1.mutant-orig"; }
restore=""
trap '[ -n "$restore" ] && put_back "$restore"; exit 130' INT TERM

survived=0
for mutant in "${mutants[@]}"; do
    IFS='|' read -r -d '' file from to what <<<"$mutant"
    to=${to%$'\n'}
    what=${what%$'\n'}
    if ! grep -qF -- "$(head -n 1 <<<"$from")" "$file"; then
        echo "MISSING  $what ($file no longer holds the text)"
        survived=1
        continue
    fi
    cp "$file" "$file.mutant-orig"
    restore=$file
    python3 - "$file" "$from" "$to" <<'EOF'
import sys
path, old, new = sys.argv[1:4]
text = open(path, encoding="latin-1").read()
assert old in text, "text not found"
open(path, "w", encoding="latin-1").write(text.replace(old, new, 1))
EOF
    if make test >"/tmp/quenlo-mutant.log" 2>&1; then
        echo "SURVIVED $what"
        survived=1
    else
        failed=$(grep -cE '^\s+[0-9]+ - .*\((Failed|Timeout|SEGFAULT|Subprocess aborted)\)' /tmp/quenlo-mutant.log)
        echo "caught   $what ($failed tests failed)"
    fi
    put_back "$file"
    restore=""
done
# Leave the build as the sources are.
make build >/dev/null 2>&1
exit $survived
