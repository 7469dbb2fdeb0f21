#include "engine/run_transfer.h"

#include <new>

#include "engine/deadline.h"
#include "engine/host.h"
#include "engine/options.h"
#include "engine/report_result.h"
#include "engine/runtime_error.h"
#include "engine/transfer_view.h"
#include "link/link_control.h"
#include "link/serial_comm.h"
#include "send/transmit_file.h"

namespace quenlo {

namespace {

constexpr std::int16_t kYmodemProtocol = 3;

// Receives the transfer window's clicks and ticks for the run.
class WindowEvents : public TransferWindowEvents {
  public:
    explicit WindowEvents(RunState& state) : state_(state) {}
    void CommandButtonClicked() override { state_.cancelRequested = true; }
    void TimerTicked() override {
        // Saturate rather than wrap: a wrapped counter would restart a time-out.
        if (state_.timerTicks < INT16_MAX) {
            ++state_.timerTicks;
        }
    }

  private:
    RunState& state_;
};

enum class PassEnd { kDone, kEndRun };

ResultCode NotAvailableYet(RunState& state, const std::string& what) {
    state.host->ShowMessage("Quenlo", what + " is not available yet", MessageIcon::kInformation);
    return result::kGeneralFailure;
}

ResultCode Transfer(RunState& s) {
    if (s.sendMode) {
        return s.ymodemMode ? NotAvailableYet(s, "Sending by YMODEM") : TransmitFile(s);
    }
    return NotAvailableYet(s, s.ymodemMode ? "Receiving by YMODEM" : "Receiving");
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
    s.portSettings = s.baudRate + "," + s.parity + "," + s.dataBits + "," + s.stopBits;
    comm.SetPortNumber(s.portNumber);
    comm.SetSettings(s.portSettings);
    comm.SetInputLength(0);
    comm.SetLineA(false);
    comm.SetEventThreshold(1);
    comm.SetEndOfFileStop(false);
    if (s.ymodemMode) {
        comm.SetTransferOption(0);
        comm.SetTransferProtocol(kYmodemProtocol);
        comm.SetTransferAbort(false);
    }
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
                return PassEnd::kDone;
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
        return PassEnd::kDone;
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
    return PassEnd::kDone;
}

// Repeat-receive passes that fail at once (no port, bad line) would otherwise follow each other
// without a pause: wait one slice, during which Cancel still ends the run.
void PauseBeforeRepeat(RunState& s) {
    const Deadline slice(*s.host, kSliceSeconds);
    while (!slice.Expired() && !s.cancelRequested) {
        s.host->Yield(slice.Remaining());
    }
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
    s.view->FocusButton();

    bool parsed = false;
    for (;;) {
        try {
            // A line that fails to parse goes straight to the end of the pass.
            bool runPass = true;
            if (!parsed) {
                parsed = true;
                s.resultCode = CheckCommand(s);
                runPass = s.resultCode == result::kOk;
            }
            if (runPass && RunPass(s) == PassEnd::kEndRun) {
                break;
            }
            if (s.rxonMode && !s.cancelRequested) {
                if (s.resultCode != result::kOk) {
                    PauseBeforeRepeat(s);
                }
                continue;
            }
            ReportResult(s);
            break;
        } catch (...) {
            const RuntimeError error = CurrentFailure();
            s.resultMessage = std::to_string(error.number()) + ": " + error.text() + " Error in " +
                              s.currentProcedure;
            s.host->ShowMessage("TARVOS ERROR", s.resultMessage, MessageIcon::kExclamation);
            parsed = true;
            if (s.rxonMode && !s.cancelRequested) {
                ClosePortIfOpen(*s.comm);
                PauseBeforeRepeat(s);
                continue;
            }
            break;
        }
    }
    ClosePortIfOpen(*s.comm);
    s.CloseAllFiles();
    s.view->Unload();
}

}  // namespace quenlo
