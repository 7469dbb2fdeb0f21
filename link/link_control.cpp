#include "link/link_control.h"

#include "base/deadline.h"
#include "base/host.h"
#include "base/runtime_error.h"
#include "link/serial_comm.h"
#include "protocol/control_chars.h"

namespace quenlo {

namespace {
// Longest single wait while output drains: the port reports progress well before this.
constexpr std::chrono::milliseconds kDrainWait{200};
}  // namespace

void YieldToWindow(RunState& state, std::chrono::milliseconds maxWait) {
    if (state.comm != nullptr && state.comm->PortOpen() && state.comm->InputCount() > 0) {
        maxWait = std::chrono::milliseconds(0);
    }
    state.host->Yield(maxWait);
}

ResultCode OpenPort(RunState& state) {
    try {
        state.comm->SetPortOpen(true);
        return result::kOk;
    } catch (const RuntimeError& e) {
        state.failureDetail = state.comm->OpenFailure();
        return e.number() == runtime_error_number::kDeviceUnavailable ? result::kPortNotAvailable
                                                                      : result::kPortError;
    }
}

void FlushInput(RunState& state) {
    while (state.comm->InputCount() > 0) {
        state.comm->Input();
    }
}

ResultCode LineError(RunState& state) {
    const std::int32_t event = state.comm->LastEvent();
    const bool error = event == comm_event::kBreak ||
                       (event >= comm_event::kDeviceLost && event <= comm_event::kDeviceError);
    if (error) {
        state.failureDetail = LineErrorText(event);
        if (const std::string text = state.comm->EventText();
            !text.empty() && event != comm_event::kDeviceLost) {
            state.failureDetail += " (the system says: " + text + ")";
        }
    }
    return error ? static_cast<ResultCode>(event) : result::kOk;
}

std::string LineErrorText(std::int32_t event) {
    switch (event) {
        case comm_event::kBreak:
            return "the line reported a break: check the cable";
        case comm_event::kDeviceLost:
            return "the device went away (unplugged, or its other end closed)";
        case comm_event::kFraming:
        case comm_event::kParity:
            return "bytes came malformed (framing or parity): check that both sides use the "
                   "same speed, parity, data and stop bits";
        case comm_event::kHardwareOverrun:
        case comm_event::kReceiveOverflow:
            return "bytes came faster than the port could take them: try a lower speed";
        case comm_event::kTransmitBufferFull:
        case comm_event::kWriteFailed:
            return "the port could not send: check the cable and the adapter";
        case comm_event::kReadFailed:
            return "the port could not be read: is another program reading it?";
        default:
            return "the port failed";
    }
}

ResultCode SendText(RunState& state, std::string_view text) {
    SerialComm& comm = *state.comm;
    comm.Output(text);
    while (comm.OutputCount() > 0 && comm.LastEvent() == comm_event::kNone) {
        state.host->Yield(kDrainWait);
        if (state.cancelRequested) {
            break;
        }
    }
    if (state.irDelay > 0) {
        state.host->SleepMs(state.irDelay);
    }
    const std::int32_t event = comm.LastEvent();
    state.linkStatus = static_cast<std::int16_t>(event);
    if (event == comm_event::kSent) {
        return result::kOk;
    }
    if (const ResultCode error = LineError(state); error != result::kOk) {
        return error;
    }
    comm.ClearOutput();
    state.host->Yield(std::chrono::milliseconds(0));
    return result::kOk;
}

std::int16_t WaitAnswerBHT(RunState& state, std::size_t blockLength) {
    state.currentProcedure = "WaitAnswerBHT";
    state.cancelRequested = false;
    const Deadline slice(*state.host, kSliceSeconds);
    bool inBlock = false;
    for (;;) {
        if (slice.Expired()) {
            return inBlock ? answer::kBlock : answer::kSilent;
        }
        YieldToWindow(state, slice.Remaining());
        if (state.cancelRequested) {
            return answer::kCancelled;
        }
        // The wait may end exactly at the limit with an answer in hand: the limit comes first.
        if (slice.Expired()) {
            return inBlock ? answer::kBlock : answer::kSilent;
        }
        if (state.comm->InputCount() < 1) {
            continue;
        }
        if (inBlock) {
            state.inputText += state.comm->Input();
        } else {
            state.inputText = state.comm->Input();
            inBlock = blockLength > 0 && state.inputText.starts_with(chSTX);
        }
        if (inBlock) {
            if (state.inputText.size() >= blockLength) {
                return answer::kBlock;
            }
            continue;
        }
        if (!state.inputText.empty()) {
            switch (state.inputText.front()) {
                case chEOT:
                    state.timerTicks = static_cast<std::int16_t>(state.timeoutCount - 1);
                    return answer::kEot;
                case chENQ:
                    return answer::kEnq;
                case chACK:
                    return answer::kAck;
                case chNAK:
                    return answer::kNak;
                default:
                    break;
            }
        }
    }
}

}  // namespace quenlo
