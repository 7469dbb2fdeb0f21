#!/usr/bin/env bash
# Plants deliberate faults in the program one at a time (a text replaced in a source file), builds
# incrementally and runs the tests that can catch each: every fault must make a test fail. The file
# is restored right after its run, also when the script is interrupted. Exits non-zero if a fault
# survived, no longer matches the code, or broke the build instead of the behaviour.
#
#   scripts/mutants.sh               every row, each against its own ctest selection
#   scripts/mutants.sh --list        the rows, numbered
#   scripts/mutants.sh --family F    the rows of one family (block, options, ymodem, platform,
#                                    rest, cli, window)
#   scripts/mutants.sh --only N      row N alone
#   scripts/mutants.sh --full        each row against the whole ctest (lrzsz only for YMODEM rows)
set -uo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build/debug-sanitize}
JOBS=${JOBS:-2}
# The one slow test (about 20 s): only rows whose family is ymodem run it.
LRZSZ=YmodemLrzsz

# The ctest selections (ctest -R), by what they exercise.
sel_send='^(TransmitTest|LinkTest|RunTransferTest)\.'
sel_receive='^(ReceiveTest|BlockRestTest)\.'
sel_codec='^(BlockCodecTest|HeadingTest|RecordPackingTest|TransmitTest|ReceiveTest)\.'
sel_files='^(FilesTest|CheckCommandTest|RunTransferTest)\.'
sel_options='^(CheckCommandTest|RunTransferTest)\.'
sel_ymodem='^(Crc16|YmodemBlock|YmodemMachines|YmodemTransferTest|BlockRestTest|YmodemLrzsz)\.'
sel_platform='^(LineSettingsTest|SerialTest|PortNumbersTest)\.'
sel_rest='^BlockRestTest\.'
sel_cli='^CliSimTest\.'
sel_window='^WindowTest\.'

families=() selections=() files=() froms=() tos=() whats=()
# row FAMILY SELECTION FILE TEXT-AS-IT-STANDS TEXT-WITH-THE-FAULT WHAT-THE-FAULT-IS
row() {
    families+=("$1") selections+=("$2") files+=("$3") froms+=("$4") tos+=("$5") whats+=("$6")
}

# The block protocol: codec and engine.
row block "$sel_codec" protocol/block_codec.cpp \
    'unsigned char code = 0;' 'unsigned char code = 0x20;' \
    "a wrong block check byte"
row block "$sel_send" send/record_reader.cpp \
    'ZeroFilled(state.link.blockSeq, kSeqDigits)' 'ZeroFilled(state.link.blockSeq % 100, kSeqDigits)' \
    "sequence numbers that wrap at 99"
row block "$sel_codec" protocol/record_packing.cpp \
    "line.resize(length, programFile ? '0' : ' ');" "line.resize(length, ' ');" \
    "a record padded with the wrong character"
row block "$sel_send" send/transmit_file.cpp \
    '            } else if (++state_.timerTicks >= state_.timeoutCount) {' \
    '            } else if (++state_.timerTicks > state_.timeoutCount) {' \
    "one 3-second slice too many before giving up"
row block "$sel_send" send/transmit_file.h \
    'kMaxNaks = 10;' 'kMaxNaks = 11;' \
    "one NAK retry too many"
row block "$sel_files" files/file_open.cpp \
    '            return result::kFileNotFound;' '            return result::kPathNotFound;' \
    "a wrong result code for a missing file"
row block "$sel_send" send/transmit_file.cpp \
    '    if (state_.link.blockSeq > state_.recordCount) {' \
    '    if (state_.link.blockSeq >= state_.recordCount) {' \
    "the last record not sent"
row block "$sel_codec" protocol/heading.cpp \
    'text += ZeroFilled(recordCount, 5);' 'text += ZeroFilled(recordCount + 1, 5);' \
    "a heading with a wrong record count"
row block "$sel_receive" receive/receive_file.cpp \
    '*block.number == *expected - 1 ? DataStatus::kRepeat' \
    '*block.number == *expected - 1 ? DataStatus::kAccepted' \
    "a repeated block written twice"
row block "$sel_receive" receive/receive_header.cpp \
    ' &&
        !HoldsHeadingFrame(state.receiving.rxBuffer)' '' \
    "an ENQ check byte taken for a call"
row block "$sel_send" link/block_framing.cpp \
    'std::string block = quenlo::FrameDataBlock(sequenceText, record, BlockOptionsOf(state));' \
    "std::string block = quenlo::FrameDataBlock(sequenceText, record, BlockOptionsOf(state)) + '~';" \
    "a loader that sends a byte too many behind each data block"
row block "$sel_send" link/link_control.cpp \
    '        state.lastWindowTurn = now;' '' \
    "with bytes waiting, the window gets a turn at every answer, not once a millisecond"

# The option line.
row options "$sel_options" run/options.cpp \
    'state.timeoutCount = 20;' 'state.timeoutCount = 60;' \
    "+T60 counted in seconds, not 3-second slices"
row options "$sel_options" run/options.cpp \
    'state.timeoutCount = 40;' 'state.timeoutCount = 30;' \
    "+T120 taken as +T90"
row options "$sel_options" run/options.cpp \
    'for (int n = 0; n <= 20; ++n) {' 'for (int n = 0; n < 20; ++n) {' \
    "+P20 (COM21) refused"
row options "$sel_options" run/options.cpp \
    "state.parity = t.substr(2);" "state.parity = t.substr(1);" \
    "+PE and +PO read as parity \"PE\", \"PO\""
row options "$sel_options" run/options.cpp \
    "state.bccEnabled = t[0] == '+';" "state.bccEnabled = true;" \
    "-PB ignored: the block check always sent"

# YMODEM both ways.
row ymodem "$sel_ymodem" protocol/ymodem_block.cpp \
    'frame.push_back(static_cast<char>(crc >> 8));
        frame.push_back(static_cast<char>(crc & 0xFF));' \
    'frame.push_back(static_cast<char>(crc & 0xFF));
        frame.push_back(static_cast<char>(crc >> 8));' \
    "a YMODEM CRC sent low byte first"
row ymodem "$sel_ymodem" protocol/ymodem_block.cpp \
    'file.size = Number<std::uint64_t>(fields[0], 10);' \
    'file.size = Number<std::uint64_t>(fields[0], 8);' \
    "block 0's size read as octal"
row ymodem "$sel_ymodem" protocol/ymodem_sender.cpp \
    'if (++cans_ >= 2) {' 'if (++cans_ >= 1) {' \
    "the sender stops at a single CAN (line noise)"
row ymodem "$sel_ymodem" protocol/ymodem_receiver.cpp \
    'take = std::min(take, *size_ - written_);' 'take = std::min(take, data.size());' \
    "a received file not cut to block 0's size (padding kept)"
row ymodem "$sel_ymodem" protocol/ymodem_receiver.cpp \
    'if (!eotRefused_) {' 'if (eotRefused_) {' \
    "the first EOT ends a file (a stray one too)"
row ymodem "$sel_ymodem" send/transmit_ymodem.cpp \
    'fail(result::kCommEndedByPeer);' 'fail(result::kCommTooManyNaks);' \
    "a handheld's cancel while sending by YMODEM reported as too many NAKs"
row ymodem "$sel_ymodem" link/file_transfer.cpp \
    'return abortedHere_ ? TransferStatus::kFailed : TransferStatus::kEndedWithError;' \
    'return TransferStatus::kFailed;' \
    "the handheld's cancel taken for our own abort"
row ymodem "$sel_ymodem" receive/receive_ymodem.cpp \
    'ResultCode file = directory.failure();' 'ResultCode file = result::kOk;' \
    "a file's own failure (a full disk) under YMODEM taken for the line's"

# The platform layer: the settings text, the Qt serial port.
row platform "$sel_platform" platform/line_settings.cpp \
    '(*stopBits != 1 && *stopBits != 2)' '(*stopBits == 0)' \
    "3 stop bits taken"
row platform "$sel_platform" platform/line_settings.cpp \
    '!baud || *baud == 0 ||' '!baud ||' \
    "a speed of 0 taken"
row platform "$sel_platform" platform/qt_serial_comm.cpp \
    'settings.stopBits == 2 ? QSerialPort::TwoStop' 'settings.stopBits == 1 ? QSerialPort::TwoStop' \
    "stop bits mapped the wrong way round"
row platform "$sel_platform" platform/qt_serial_comm.cpp \
    "settings.parity == 'O' ? QSerialPort::OddParity" "settings.parity == 'O' ? QSerialPort::EvenParity" \
    "odd parity set as even"
row platform "$sel_platform" platform/qt_serial_comm.cpp \
    '                notifier->setEnabled(false);
' '' \
    "HoldInput holds nothing: every byte of a block wakes the wait"
row platform "$sel_platform" platform/qt_serial_comm.cpp \
    '(!heldSinceLook_ && BytesInHand() > 0)' '(!inputHeld_ && BytesInHand() > 0)' \
    "bytes left in the device by a held input not looked for once it is released"

# The rest for the remainder of a block.
row rest "$sel_rest" link/block_rest.cpp \
    'std::atoi(state.dataBits.c_str()) + parityBits +' 'std::atoi(state.dataBits.c_str()) +' \
    "the parity bit not counted in a character's time"
row rest "$sel_rest" link/block_rest.cpp \
    'std::max(1, std::atoi(state.stopBits.c_str()))' '1' \
    "the second stop bit not counted"
row rest "$sel_rest" link/block_rest.cpp \
    'kLongestRest{250}' 'kLongestRest{500}' \
    "a rest of half a second: a lost device seen late"
row rest "$sel_rest" link/block_rest.cpp \
    'kOnePieceBytes = 16;' 'kOnePieceBytes = 15;' \
    "a block's last 16 bytes rested for rather than waited for as they come"

# quenlo-cli.
row cli "$sel_cli" cli/main.cpp \
    'constexpr int kUsageStatus = 64;' 'constexpr int kUsageStatus = 2;' \
    "a command line it cannot read exits with 2, not 64"
row cli "$sel_cli" cli/main.cpp \
    ': options.yes && options.no ? "--yes and --no cannot both be given"' \
    ': false                     ? "--yes and --no cannot both be given"' \
    "--yes with --no taken"
row cli "$sel_cli" cli/main.cpp \
    'if (!options.device.empty()) {' 'if (options.device.empty()) {' \
    "--device ignored"

# The desktop window.
row window "$sel_window" ui/option_line.cpp \
    'constexpr double kMaxIrDelay = 1000.0;' 'constexpr double kMaxIrDelay = 999.0;' \
    "an I-R delay of 1000 refused"
row window "$sel_window" ui/option_line.cpp \
    '{"+T30 ", "+T60 ", "+T90 ", "+T120 ", "+T0 "}' '{"+T30 ", "+T60 ", "+T120 ", "+T90 ", "+T0 "}' \
    "90 and 120 seconds handed over swapped"
row window "$sel_window" ui/option_line.cpp \
    'if (delay && *delay > 0) {' 'if (delay && *delay >= 0) {' \
    "+IRD0 handed over for no delay"

count=${#files[@]}

usage() {
    sed -n '2,/^set /p' "$0" | sed -e '/^set /d' -e 's/^# \{0,1\}//'
    exit 64
}

list=0 full=0 family="" only=""
while [ $# -gt 0 ]; do
    case $1 in
        --list) list=1 ;;
        --full) full=1 ;;
        --family) family=${2:-}; shift ;;
        --only) only=${2:-}; shift ;;
        *) usage ;;
    esac
    shift
done
if [ -n "$only" ] && ! [[ $only =~ ^[0-9]+$ && $only -ge 1 && $only -le $count ]]; then
    echo "mutants: --only takes 1 to $count" >&2
    exit 64
fi
if [ -n "$family" ] && ! printf '%s\n' "${families[@]}" | grep -qx -- "$family"; then
    echo "mutants: no family $family (families: $(printf '%s\n' "${families[@]}" | uniq | tr '\n' ' '))" >&2
    exit 64
fi

chosen=()
for ((i = 0; i < count; ++i)); do
    if { [ -z "$only" ] || [ "$only" -eq $((i + 1)) ]; } &&
        { [ -z "$family" ] || [ "$family" = "${families[i]}" ]; }; then
        chosen+=("$i")
    fi
done

if [ "$list" -eq 1 ]; then
    for i in "${chosen[@]}"; do
        printf '%3d  %-8s  %-28s  %s\n' $((i + 1)) "${families[i]}" "${files[i]}" "${whats[i]}"
    done
    exit 0
fi

started=$SECONDS
# Built once as the sources are (and configured, with the packages, if need be), so that each row
# rebuilds only what its file touches.
make build JOBS="$JOBS" >/dev/null || { echo "mutants: the unchanged program does not build" >&2; exit 1; }
LOGS=$BUILD_DIR/mutants
mkdir -p "$LOGS"

# The selections must pass without a fault, or a failure would prove nothing. Their suites go into
# one group: CMake's regular expressions take only a few.
suites=() ymodem=0
for i in "${chosen[@]}"; do
    suite=${selections[i]#^}
    suite=${suite#(}
    suite=${suite%\\.}
    IFS='|' read -ra names <<<"${suite%)}"
    suites+=("${names[@]}")
    [ "${families[i]}" = ymodem ] && ymodem=1
done
if [ "$full" -eq 1 ]; then
    baseline=()
    [ "$ymodem" -eq 1 ] || baseline=(-E "^$LRZSZ\\.")
else
    baseline=(-R "^($(printf '%s\n' "${suites[@]}" | sort -u | paste -sd'|'))\\.")
fi
if ! (cd "$BUILD_DIR" && ctest --output-on-failure -j"$JOBS" "${baseline[@]}") >"$LOGS/unchanged.log" 2>&1 ||
    grep -q "No tests were found" "$LOGS/unchanged.log"; then
    echo "mutants: the tests fail without any fault; see $LOGS/unchanged.log" >&2
    exit 1
fi

# Restoring writes the file anew, so that the next build compiles it again.
put_back() { cat "$1.mutant-orig" >"$1" && rm -f "$1.mutant-orig"; }
restore=""
trap '[ -n "$restore" ] && put_back "$restore"; exit 130' INT TERM

# Replaces the first occurrence; exits 3 when the text is not in the file.
plant() {
    python3 - "$1" "$2" "$3" <<'EOF'
import sys
path, old, new = sys.argv[1:4]
text = open(path, encoding="latin-1").read()
if old not in text:
    sys.exit(3)
open(path, "w", encoding="latin-1").write(text.replace(old, new, 1))
EOF
}

status=0
results=()
for i in "${chosen[@]}"; do
    n=$((i + 1)) file=${files[i]} log="$LOGS/$n.log"
    cp "$file" "$file.mutant-orig"
    restore=$file
    plant "$file" "${froms[i]}" "${tos[i]}"
    planted=$?
    if [ "$planted" -ne 0 ]; then
        rm -f "$file.mutant-orig"
        restore=""
        verdict="MISSING"
    else
        if [ "$full" -eq 1 ]; then
            selection=(-E "^$LRZSZ\\.")
            [ "${families[i]}" = ymodem ] && selection=()
        else
            selection=(-R "${selections[i]}")
        fi
        rowStart=$SECONDS
        if ! cmake --build "$BUILD_DIR" -j"$JOBS" >"$log" 2>&1; then
            verdict="BROKEN"  # a fault must change behaviour, not stop the build
        elif (cd "$BUILD_DIR" && ctest --output-on-failure -j"$JOBS" "${selection[@]}") >>"$log" 2>&1; then
            verdict="SURVIVED"
            grep -q "No tests were found" "$log" && verdict="NO TESTS"
        else
            verdict="caught"
            failed=$(grep -cE '^\s+[0-9]+ - .*\((Failed|Timeout|SEGFAULT|Subprocess aborted|Exception|Child aborted)\)' "$log")
        fi
        put_back "$file"
        restore=""
        verdict+=" ($((SECONDS - rowStart)) s)"
    fi
    # The table shows how many tests failed, or why none could.
    [[ $verdict == caught* ]] || { status=1; failed=${verdict%% (*}; }
    printf '%3d  %-8s  %-16s  %s\n' "$n" "${families[i]}" "$verdict" "${whats[i]}"
    results+=("$(printf '%3d  %-8s  %-8s  %s' "$n" "${families[i]}" "$failed" "${whats[i]}")")
done

echo
echo "  #  family    failed    fault"
printf '%s\n' "${results[@]}"
echo "${#chosen[@]} faults in $((SECONDS - started)) s; logs in $LOGS"
# Leave the build as the sources are.
cmake --build "$BUILD_DIR" -j"$JOBS" >/dev/null 2>&1
exit $status
