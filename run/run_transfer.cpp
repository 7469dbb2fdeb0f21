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

ResultCode Transfer(RunState& s) {
    if (!s.ymodemMode) {
        return s.sendMode ? TransmitFile(s) : ReceiveFile(s);
    }
    return s.sendMode ? TransmitYModem(s) : ReceiveYModem(s);
}

void ClosePortIfOpen(SerialComm& comm) {
    if (comm.PortOpen()) {
        comm.SetPortOpen(false);
    }
}

// Steps 4 to 10 of a pass: set up and open the port, move one file.
PassEnd RunPass(RunState& s) {
    SerialComm& comm = *s.comm;
    TransferView& view = *s.view;
    s.failureDetail.clear();  // the reason of a pass before is no reason for this one
    if (!s.sendMode) {
        // The folder is looked at before the handheld is: a reception into nowhere fails at once.
        s.resultCode = OpenTargetFolder(s);
        if (s.resultCode != result::kOk) {
            return PassEnd::kFailedAtOnce;
        }
    }
    s.link.portSettings = s.baudRate + "," + s.parity + "," + s.dataBits + "," + s.stopBits;
    comm.SetPortNumber(s.portNumber);
    comm.SetSettings(s.link.portSettings);
    comm.SetInputLength(0);
    comm.SetLineA(false);
    comm.SetEventThreshold(1);
    comm.SetEndOfFileStop(false);
    if (s.irdaMode) {
        if (s.baudRate == "9600") {
            comm.SetLineB(false);
            comm.SetLineA(true);
        } else if (s.baudRate == "19200") {
            comm.SetLineB(true);
            comm.SetLineA(false);
        } else if (s.baudRate == "115200") {
            // The adapter learns the speed from an open and close at low lines.
            comm.SetLineA(false);
            s.resultCode = OpenPort(s);
            if (s.resultCode != result::kOk) {
                return PassEnd::kFailedAtOnce;
            }
            FlushInput(s);
            comm.SetPortOpen(false);
            comm.SetLineB(true);
            comm.SetLineA(true);
        } else {
            s.host->ShowMessage("Quenlo", "Baud Rate not supported by IRDA interface",
                                MessageIcon::kNone);
            return PassEnd::kEndRun;
        }
    }
    s.resultCode = OpenPort(s);
    if (s.resultCode != result::kOk) {
        return PassEnd::kFailedAtOnce;
    }
    FlushInput(s);
    view.FocusButton();
    view.SetStatus("Establish Link");
    view.SetFile("");
    view.SetRecordCount("");
    view.SetRecords("");
    view.SetComplete("");
    view.SetMessage("");
    view.SetMessageVisible(true);
    view.SetProgress(0);
    s.host->Yield(std::chrono::milliseconds(0));
    s.resultCode = Transfer(s);
    ClosePortIfOpen(comm);
    s.receiving.targetFolder.reset();
    return PassEnd::kDone;
}

// A repeat-receive run keeps a line on show for each pass: each file it took, or why it took none.
void ShowPass(RunState& s, std::size_t receivedBefore) {
    if (s.received.size() == receivedBefore) {
        s.view->AddPassLine("no file: " + ResultMessageOf(s));
    }
    for (std::size_t i = receivedBefore; i < s.received.size(); ++i) {
        s.view->AddPassLine(s.received[i] + ", received");
    }
}

// What a repeat-receive run took, said when it ends.
void SumUpReceived(RunState& s) {
    std::string files;
    for (const std::string& file : s.received) {
        files += (files.empty() ? "" : ", ") + file.substr(0, file.find(':'));
    }
    s.notes.push_back(s.received.empty() ? "no file received"
                                         : std::to_string(s.received.size()) +
                                               (s.received.size() == 1 ? " file" : " files") +
                                               " received: " + files);
}

// Repeat-receive passes that fail at once (no port, bad line) would otherwise follow each other
// without a pause: wait one slice, during which Cancel still ends the run.
void PauseBeforeRepeat(RunState& s) {
    const Deadline slice(*s.host, kSliceSeconds);
    while (!slice.Expired() && !s.cancelRequested) {
        s.host->Yield(slice.Remaining());
    }
}

// Whether a repeat-receive run goes on with another pass after this one.
bool RepeatPass(RunState& s, WindowEvents& events) {
    const bool clicked = events.TakeClick();
    return s.rxonMode && !s.cancelRequested && !clicked;
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

void RunTransfer(RunState& s) {
    WindowEvents events(s);
    s.view->Show(events);
    SetDefaults(s);
    s.failureDetail.clear();
    s.notes.clear();
    s.received.clear();
    s.view->FocusButton();

    // The option line's settings: every pass starts from them, so that what one received file
    // set (its kind, its protocol, its layout) lasts for that file only.
    std::optional<TransferSettings> parsed;
    for (;;) {
        try {
            if (!parsed) {
                s.resultCode = CheckCommand(s);
                if (s.resultCode != result::kOk) {
                    // Half-read settings are no settings to run on, one pass or many.
                    ReportResult(s);
                    break;
                }
                parsed = static_cast<const TransferSettings&>(s);
            }
            static_cast<TransferSettings&>(s) = *parsed;
            const std::size_t receivedBefore = s.received.size();
            const PassEnd end = RunPass(s);
            if (end == PassEnd::kEndRun) {
                break;
            }
            if (s.rxonMode) {
                ShowPass(s, receivedBefore);
            }
            if (end == PassEnd::kFailedAtOnce && s.rxonMode && !s.cancelRequested) {
                PauseBeforeRepeat(s);
            }
            if (RepeatPass(s, events)) {
                continue;
            }
            if (s.rxonMode) {
                SumUpReceived(s);
            }
            ReportResult(s);
            break;
        } catch (...) {
            const RuntimeError error = CurrentFailure();
            s.resultMessage = std::to_string(error.number()) + ": " + error.text() + " Error in " +
                              s.currentProcedure;
            s.host->ShowMessage("TARVOS ERROR", s.resultMessage, MessageIcon::kExclamation);
            ClosePortIfOpen(*s.comm);
            s.CloseAllFiles();
            if (!parsed) {
                break;  // it failed reading the line: there is nothing to repeat
            }
            if (s.rxonMode && !s.cancelRequested) {
                PauseBeforeRepeat(s);
            }
            if (RepeatPass(s, events)) {
                continue;
            }
            break;
        }
    }
    ClosePortIfOpen(*s.comm);
    s.CloseAllFiles();
    s.receiving.targetFolder.reset();
    s.view->Unload();
}

}  // namespace quenlo
