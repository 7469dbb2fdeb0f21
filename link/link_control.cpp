#include "link/link_control.h"

#include "base/deadline.h"
#include "base/host.h"
#include "base/runtime_error.h"
#include "base/serial_comm.h"
#include "link/block_rest.h"
#include "protocol/control_chars.h"

namespace quenlo {

namespace {
// Longest single wait while output drains: the port reports progress well before this.
constexpr std::chrono::milliseconds kDrainWait{200};
// While input is waiting, the window gets a turn at most this often.
constexpr double kWindowTurnSeconds = 0.001;

// A line error in words, with the system's own where it gave any.
std::string LineErrorReason(const SerialComm& comm, CommEvent event) {
    std::string reason = LineErrorText(event);
    if (const std::string text = comm.EventText();
        !text.empty() && event != CommEvent::kDeviceLost) {
        reason += " (the system says: " + text + ")";
    }
    return reason;
}
}  // namespace

void YieldToWindow(RunState& state, std::chrono::milliseconds maxWait) {
    if (state.comm != nullptr && state.comm->PortOpen() && state.comm->InputCount() > 0) {
        // Bytes are waiting: the window and Cancel get a turn, but one a millisecond at most, so
        // that a fast line does not pay for an event-loop pass at every answer.
        const double now = state.host->ClockSeconds();
        if (now - state.lastWindowTurn < kWindowTurnSeconds) {
            return;
        }
        state.lastWindowTurn = now;
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
    const CommEvent event = state.comm->LastEvent();
    if (!IsLineError(event)) {
        return result::kOk;
    }
    state.failureDetail = LineErrorReason(*state.comm, event);
    return AsResult(event);
}

void NoteLineLoss(RunState& state) {
    if (const CommEvent event = state.comm->LastEvent(); IsLineError(event)) {
        state.failureDetail = LineErrorReason(*state.comm, event);
    }
}

std::string LineErrorText(CommEvent event) {
    switch (event) {
        case CommEvent::kBreak:
            return "the line reported a break: check the cable";
        case CommEvent::kDeviceLost:
            return "the device went away (unplugged, or its other end closed)";
        case CommEvent::kFraming:
        case CommEvent::kParity:
            return "bytes came malformed (framing or parity): check that both sides use the "
                   "same speed, parity, data and stop bits";
        case CommEvent::kHardwareOverrun:
        case CommEvent::kReceiveOverflow:
            return "bytes came faster than the port could take them: try a lower speed";
        case CommEvent::kTransmitBufferFull:
        case CommEvent::kWriteFailed:
            return "the port could not send: check the cable and the adapter";
        case CommEvent::kReadFailed:
            return "the port could not be read: is another program reading it?";
        default:
            return "the port failed";
    }
}

ResultCode SendText(RunState& state, std::string_view text) {
    SerialComm& comm = *state.comm;
    comm.Output(text);
    while (comm.OutputCount() > 0 && comm.LastEvent() == CommEvent::kNone) {
        state.host->Yield(kDrainWait);
        if (state.cancelRequested) {
            break;
        }
    }
    if (state.irDelay > 0) {
        state.host->SleepMs(state.irDelay);
    }
    const CommEvent event = comm.LastEvent();
    state.link.linkStatus = static_cast<std::int16_t>(event);
    if (event == CommEvent::kSent) {
        return result::kOk;
    }
    if (const ResultCode error = LineError(state); error != result::kOk) {
        return error;
    }
    comm.ClearOutput();
    state.host->Yield(std::chrono::milliseconds(0));
    return result::kOk;
}

Answer WaitAnswerBHT(RunState& state, std::size_t blockLength) {
    state.currentProcedure = "WaitAnswerBHT";
    state.cancelRequested = false;
    const Deadline slice(*state.host, kSliceSeconds);
    bool inBlock = false;
    for (;;) {
        if (slice.Expired()) {
            return inBlock ? Answer::kBlock : Answer::kSilent;
        }
        if (inBlock && state.link.inputText.size() < blockLength) {
            AwaitRestOfBlock(state, blockLength - state.link.inputText.size(), slice.Remaining());
        } else {
            YieldToWindow(state, slice.Remaining());
        }
        if (state.cancelRequested) {
            return Answer::kCancelled;
        }
        // The wait may end exactly at the limit with an answer in hand: the limit comes first.
        if (slice.Expired()) {
            return inBlock ? Answer::kBlock : Answer::kSilent;
        }
        if (state.comm->InputCount() < 1) {
            continue;
        }
        if (inBlock) {
            state.link.inputText += state.comm->Input();
        } else {
            state.link.inputText = state.comm->Input();
            inBlock = blockLength > 0 && state.link.inputText.starts_with(chSTX);
        }
        if (inBlock) {
            if (state.link.inputText.size() >= blockLength) {
                return Answer::kBlock;
            }
            continue;
        }
        if (!state.link.inputText.empty()) {
            switch (state.link.inputText.front()) {
                case chEOT:
                    state.timerTicks = static_cast<std::int16_t>(state.timeoutCount - 1);
                    return Answer::kEot;
                case chENQ:
                    return Answer::kEnq;
                case chACK:
                    return Answer::kAck;
                case chNAK:
                    return Answer::kNak;
                default:
                    break;
            }
        }
    }
}

}  // namespace quenlo
