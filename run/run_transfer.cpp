#include "run/run_transfer.h"

#include <new>
#include <optional>
#include <utility>

#include "base/deadline.h"
#include "base/host.h"
#include "base/runtime_error.h"
#include "base/serial_comm.h"
#include "base/transfer_view.h"
#include "files/file_open.h"
#include "link/link_control.h"
#include "receive/receive_file.h"
#include "receive/receive_ymodem.h"
#include "run/options.h"
#include "run/report_result.h"
#include "run/window_events.h"
#include "send/transmit_file.h"
#include "send/transmit_ymodem.h"

namespace quenlo {

namespace {

// kDone: the transfer ran; kFailedAtOnce: the pass ended before the port was open.
enum class PassEnd { kDone, kFailedAtOnce, kEndRun };

ResultCode Transfer(RunState& state) {
    if (!state.ymodemMode) {
        return state.sendMode ? TransmitFile(state) : ReceiveFile(state);
    }
    return state.sendMode ? TransmitYModem(state) : ReceiveYModem(state);
}

void ClosePortIfOpen(SerialComm& comm) {
    if (comm.PortOpen()) {
        comm.SetPortOpen(false);
    }
}

// The port's settings for the pass, written while it is closed.
void SetUpPort(RunState& state) {
    SerialComm& comm = *state.comm;
    state.link.portSettings =
        state.baudRate + "," + state.parity + "," + state.dataBits + "," + state.stopBits;
    comm.SetPortNumber(state.portNumber);
    comm.SetSettings(state.link.portSettings);
    comm.SetInputLength(0);
    comm.SetLineA(false);
    comm.SetEventThreshold(1);
    comm.SetEndOfFileStop(false);
}

// An IrDA adapter's speed, set through its two lines; nothing when the adapter has no such speed
// (said in a message: the run ends) or the open that teaches it 115200 failed.
std::optional<PassEnd> SetAdapterSpeed(RunState& state) {
    SerialComm& comm = *state.comm;
    if (state.baudRate == "9600") {
        comm.SetLineB(false);
        comm.SetLineA(true);
    } else if (state.baudRate == "19200") {
        comm.SetLineB(true);
        comm.SetLineA(false);
    } else if (state.baudRate == "115200") {
        // The adapter learns the speed from an open and close at low lines.
        comm.SetLineA(false);
        state.resultCode = OpenPort(state);
        if (state.resultCode != result::kOk) {
            return PassEnd::kFailedAtOnce;
        }
        FlushInput(state);
        comm.SetPortOpen(false);
        comm.SetLineB(true);
        comm.SetLineA(true);
    } else {
        state.host->ShowMessage("Quenlo", "Baud Rate not supported by IRDA interface",
                                MessageIcon::kNone);
        return PassEnd::kEndRun;
    }
    return std::nullopt;
}

// The transfer window as a pass begins: every box empty, the button in focus.
void ClearWindow(TransferView& view) {
    view.FocusButton();
    view.SetStatus("Establish Link");
    view.SetFile("");
    view.SetRecordCount("");
    view.SetRecords("");
    view.SetComplete("");
    view.SetMessage("");
    view.SetMessageVisible(true);
    view.SetProgress(0);
}

// One pass: the target folder looked at, the port set up and opened, one file moved, the port
// closed.
PassEnd RunPass(RunState& state) {
    state.failureDetail.clear();  // the reason of a pass before is no reason for this one
    if (!state.sendMode) {
        // The folder is looked at before the handheld is: a reception into nowhere fails at once.
        state.resultCode = OpenTargetFolder(state);
        if (state.resultCode != result::kOk) {
            return PassEnd::kFailedAtOnce;
        }
    }
    SetUpPort(state);
    if (state.irdaMode) {
        if (const auto ended = SetAdapterSpeed(state)) {
            return *ended;
        }
    }
    state.resultCode = OpenPort(state);
    if (state.resultCode != result::kOk) {
        return PassEnd::kFailedAtOnce;
    }
    FlushInput(state);
    ClearWindow(*state.view);
    state.host->Yield(std::chrono::milliseconds(0));
    state.resultCode = Transfer(state);
    ClosePortIfOpen(*state.comm);
    state.receiving.targetFolder.reset();
    return PassEnd::kDone;
}

// A repeat-receive run keeps a line on show for each pass: each file it took, or why it took none.
void ShowPass(RunState& state, std::size_t receivedBefore) {
    if (state.received.size() == receivedBefore) {
        state.view->AddPassLine("no file: " + ResultMessageOf(state));
    }
    for (std::size_t i = receivedBefore; i < state.received.size(); ++i) {
        state.view->AddPassLine(state.received[i] + ", received");
    }
}

// What a repeat-receive run took, said when it ends.
void SumUpReceived(RunState& state) {
    std::string files;
    for (const std::string& file : state.received) {
        files += (files.empty() ? "" : ", ") + file.substr(0, file.find(':'));
    }
    state.notes.push_back(state.received.empty()
                              ? "no file received"
                              : std::to_string(state.received.size()) +
                                    (state.received.size() == 1 ? " file" : " files") +
                                    " received: " + files);
}

// Repeat-receive passes that fail at once (no port, bad line) would otherwise follow each other
// without a pause: wait one slice, during which Cancel still ends the run.
void PauseBeforeRepeat(RunState& state) {
    const Deadline slice(*state.host, kSliceSeconds);
    while (!slice.Expired() && !state.cancelRequested) {
        state.host->Yield(slice.Remaining());
    }
}

// Whether a repeat-receive run goes on with another pass after this one.
bool RepeatPass(RunState& state, WindowEvents& events) {
    const bool clicked = events.TakeClick();
    return state.rxonMode && !state.cancelRequested && !clicked;
}

// The run-time error of the failure being handled; called inside a catch block.
RuntimeError CurrentFailure() {
    try {
        throw;
    } catch (const RuntimeError& error) {
        return error;
    } catch (const std::bad_alloc&) {
        return RuntimeError(runtime_error_number::kOutOfMemory);
    } catch (...) {
        return RuntimeError(runtime_error_number::kInvalidCall);
    }
}

}  // namespace

// A run-time error in a pass: said in a message, the port and the files closed. A repeat
// reception goes on after its pause (true), unless it was the option line that failed.
bool RepeatAfterFailure(RunState& state, WindowEvents& events, bool lineRead) {
    const RuntimeError error = CurrentFailure();
    state.resultMessage = std::to_string(error.number()) + ": " + error.text() + " Error in " +
                          state.currentProcedure;
    state.host->ShowMessage("TARVOS ERROR", state.resultMessage, MessageIcon::kExclamation);
    ClosePortIfOpen(*state.comm);
    state.CloseAllFiles();
    if (!lineRead) {
        return false;  // there is nothing to repeat
    }
    if (state.rxonMode && !state.cancelRequested) {
        PauseBeforeRepeat(state);
    }
    return RepeatPass(state, events);
}

void RunTransfer(RunState& state) {
    WindowEvents events(state);
    state.view->Show(events);
    SetDefaults(state);
    state.failureDetail.clear();
    state.notes.clear();
    state.received.clear();
    state.view->FocusButton();

    // The option line's settings: every pass starts from them, so that what one received file
    // set (its kind, its protocol, its layout) lasts for that file only.
    std::optional<TransferSettings> parsed;
    for (;;) {
        try {
            if (!parsed) {
                state.resultCode = CheckCommand(state);
                if (state.resultCode != result::kOk) {
                    // Half-read settings are no settings to run on, one pass or many.
                    ReportResult(state);
                    break;
                }
                parsed = static_cast<const TransferSettings&>(state);
            }
            static_cast<TransferSettings&>(state) = *parsed;
            const std::size_t receivedBefore = state.received.size();
            const PassEnd end = RunPass(state);
            if (end == PassEnd::kEndRun) {
                break;
            }
            if (state.rxonMode) {
                ShowPass(state, receivedBefore);
            }
            if (end == PassEnd::kFailedAtOnce && state.rxonMode && !state.cancelRequested) {
                PauseBeforeRepeat(state);
            }
            if (RepeatPass(state, events)) {
                continue;
            }
            if (state.rxonMode) {
                SumUpReceived(state);
            }
            ReportResult(state);
            break;
        } catch (...) {
            if (RepeatAfterFailure(state, events, parsed.has_value())) {
                continue;
            }
            break;
        }
    }
    ClosePortIfOpen(*state.comm);
    state.CloseAllFiles();
    state.receiving.targetFolder.reset();
    state.view->Unload();
}

}  // namespace quenlo
