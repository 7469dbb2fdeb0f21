#include "receive/receive_header.h"

#include <algorithm>
#include <array>
#include <optional>

#include "base/deadline.h"
#include "base/host.h"
#include "base/serial_comm.h"
#include "base/text.h"
#include "files/file_names.h"
#include "files/file_open.h"
#include "files/native_path.h"
#include "link/block_framing.h"
#include "link/block_rest.h"
#include "link/link_control.h"
#include "protocol/control_chars.h"
#include "protocol/heading.h"
#include "protocol/received_blocks.h"

namespace quenlo {

namespace {

// With the check byte on, a heading read up to its ETX waits this long for the check byte behind
// it: on a paced line it arrives a byte time after the ETX (33 ms at 300 Bd).
constexpr double kCheckByteGrace = 0.2;

// A complete heading frame: an SOH whose first ETX after it stands far enough on. An ENQ in such a
// text is the frame's own check byte (or in its name), not the handheld still calling.
bool HoldsHeadingFrame(const std::string& text) {
    const auto soh = text.find(chSOH);
    if (soh == std::string::npos) {
        return false;
    }
    const auto etx = text.find(chETX, soh);
    return etx != std::string::npos && etx - soh + 1 >= kHeadingEtxFrom;
}

// The bytes a heading that has begun still lacks at the least, up to its ETX and check byte;
// 0 when none has begun or it may be whole.
std::size_t HeadingBytesMissing(const std::string& text, bool checkByte) {
    const auto soh = text.find(chSOH);
    if (soh == std::string::npos || text.find(chETX, soh) != std::string::npos) {
        return 0;
    }
    const std::size_t shortest = kHeadingEtxFrom + (checkByte ? 1 : 0);
    return shortest > text.size() - soh ? shortest - (text.size() - soh) : 0;
}

}  // namespace

std::int64_t FreeSpace(RunState& state, const std::string& directory) {
    state.currentProcedure = "FreeSpace";
    const auto free = state.host->FreeSpace(NativePath(directory.empty() ? "." : directory));
    return free ? static_cast<std::int64_t>(std::min<std::uint64_t>(*free, INT64_MAX)) : -1;
}

namespace {

HeadingReading Refused(ResultCode code) {
    return {HeadingStatus::kRefused, code};
}

// Waits the slice for a heading read up to its ETX (and, with the check byte on, the byte behind
// it): kDamaged when such a frame is in rxBuffer, to be checked; otherwise what came instead.
HeadingStatus AwaitHeadingFrame(RunState& state) {
    HeadingStatus status = HeadingStatus::kNothing;
    state.receiving.rxBuffer.clear();
    const Deadline slice(*state.host, kSliceSeconds);
    std::optional<Deadline> checkByte;
    while (!slice.Expired() && !(checkByte && checkByte->Expired())) {
        const auto limit = checkByte ? checkByte->Remaining() : slice.Remaining();
        if (const std::size_t missing =
                HeadingBytesMissing(state.receiving.rxBuffer, state.bccEnabled)) {
            AwaitRestOfBlock(state, missing, limit);
        } else {
            YieldToWindow(state, limit);
        }
        if (state.cancelRequested) {
            return HeadingStatus::kCancelled;
        }
        if (state.comm->InputCount() >= 1) {
            state.receiving.rxBuffer += state.comm->Input();
        }
        const auto etx = state.receiving.rxBuffer.find(chETX);
        if (etx != std::string::npos && etx + 1 >= kHeadingEtxFrom) {
            status = HeadingStatus::kDamaged;
            if (!state.bccEnabled || etx + 1 < state.receiving.rxBuffer.size()) {
                break;
            }
            if (!checkByte) {
                checkByte.emplace(*state.host, kCheckByteGrace);
            }
        }
    }
    if (state.receiving.rxBuffer.find(chENQ) != std::string::npos &&
        !HoldsHeadingFrame(state.receiving.rxBuffer)) {
        return HeadingStatus::kCalling;
    }
    return status;
}

// Takes the heading's name, counts and fields into the run state.
HeadingReading TakeHeadingText(RunState& state, const std::string& text) {
    state.recordLength = 0;
    ParsedHeading parsed = ParseHeadingText(text);
    state.fileName = std::string(TrimBlanks(text.substr(0, kHeadingNameWidth)));
    if (CheckFilename(state) != result::kOk) {
        state.failureDetail = "the handheld's file name is refused: " + state.failureDetail;
        return Refused(result::kIllegalFileOrHeading);
    }
    if (IsDeviceName(state.fileName)) {
        state.failureDetail = "the handheld's file name " + Latin1ToUtf8(state.fileName) +
                              " is one Windows keeps for a device";
        return Refused(result::kIllegalFileOrHeading);
    }
    if (parsed.fault == HeadingFault::kMalformed) {
        return {HeadingStatus::kDamaged};
    }
    if (parsed.fault == HeadingFault::kOutOfRange) {
        state.failureDetail =
            "the handheld's heading for " + Latin1ToUtf8(state.fileName) +
            " announces a count or a field out of range (at most 32767 records, 1 "
            "to 16 fields of 1 to 99 characters, 255 in all)";
        return Refused(result::kIllegalFileOrHeading);
    }
    const Heading& heading = parsed.heading;
    state.recordCount = static_cast<std::int16_t>(heading.recordCount);
    state.recordLength = static_cast<std::int16_t>(heading.recordLength);
    if (!state.programFile) {
        state.fieldCount = static_cast<std::int16_t>(heading.fieldLengths.size());
        for (std::size_t i = 0; i < heading.fieldLengths.size(); ++i) {
            state.fieldLengths[i + 1] = std::to_string(heading.fieldLengths[i]);
        }
    }
    state.receiving.rxBlockLength = static_cast<std::int16_t>(
        DataBlockLength(static_cast<std::size_t>(state.recordLength), BlockOptionsOf(state)));
    return {HeadingStatus::kAccepted};
}

// The output file, and room for all of it. Only a regular file or nothing may stand at the name:
// anything else is refused here, before the heading is acknowledged.
HeadingReading OpenOutputFile(RunState& state) {
    ResultCode folderResult = result::kOk;
    if (state.keepEarlierFiles) {
        if (const disk::Directory* folder = TargetFolder(state, folderResult)) {
            state.fileName = FreeName(*folder, state.fileName, !state.programFile);
            state.fieldFileName = state.fileName.substr(0, state.fileName.find('.')) + ".FLD";
        }
    }
    const ResultCode opened =
        OpenFile(state, state.filePath, state.fileName, FileNumber::kReceive, "O");
    if (opened != result::kOk) {
        state.link.linkStatus = Number(opened);
        return Refused(result::kPathNotFound);
    }
    state.receiving.rxFileCreated = true;
    const std::int64_t needed =
        std::int64_t{state.recordCount} * (std::int64_t{state.recordLength} + 2);
    std::int64_t available = FreeSpace(state, state.filePath);
    if (available < 0) {
        const std::string kilobytes = std::to_string(needed / 1000);
        if (state.host->AskYesNo(
                "Free Space DLL error (0)",
                "Can not calculate free space \r is there > " + kilobytes + "kBytes free0")) {
            available = needed;
        }
    }
    if (needed > available) {
        state.failureDetail = Latin1ToUtf8(state.fileName) + " needs " + std::to_string(needed) +
                              " bytes; the folder has " +
                              (available < 0 ? "an unknown number" : std::to_string(available)) +
                              " free: make room, or receive elsewhere";
        return Refused(result::kDiskFull);
    }
    return {HeadingStatus::kAccepted};
}

}  // namespace

HeadingReading ReceiveHeader(RunState& state) {
    state.currentProcedure = "ReceiveHeader";
    const HeadingStatus arrived = AwaitHeadingFrame(state);
    if (arrived != HeadingStatus::kDamaged) {
        return {arrived};
    }
    const ReadHeading frame = ReadHeadingBlock(state.receiving.rxBuffer, state.bccEnabled);
    if (frame.checkByteCompared) {
        state.currentProcedure = "BccCheck";
    }
    if (frame.reading == BlockReading::kIncomplete) {
        return {HeadingStatus::kNothing};
    }
    if (frame.reading != BlockReading::kWhole) {
        return {HeadingStatus::kDamaged};
    }
    if (const HeadingReading taken = TakeHeadingText(state, std::string(frame.text));
        taken.status != HeadingStatus::kAccepted) {
        return taken;
    }
    return OpenOutputFile(state);
}

}  // namespace quenlo
