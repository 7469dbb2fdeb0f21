#include "run/report_result.h"

#include "base/host.h"
#include "base/result_message.h"
#include "base/serial_comm.h"
#include "base/transfer_view.h"
#include "link/link_control.h"
#include "link/reasons.h"

namespace quenlo {

namespace {

// The wait for OK blocks in the host; this only bounds one wait.
constexpr std::chrono::milliseconds kOkWait{1000};

// Why a run failed when the procedure that failed gave no words of its own.
std::string DefaultReason(const RunState& state) {
    const ResultCode code = state.resultCode;
    if (code == result::kCancelled) {
        return "cancelled (the Cancel button, or Ctrl-C)";
    }
    if (IsLineError(code)) {
        return LineErrorText(AsEvent(code));
    }
    if (code >= result::kCommFailedAtStart && code <= result::kCommEndedByPeer) {
        return "the exchange with the handheld failed: check the cable and that both sides use "
               "the same settings (" +
               state.baudRate + ", " + BlockOptionsText(state) + ")";
    }
    return "the file or its folder failed (" + std::to_string(Number(code)) + ")";
}

// The reason line: why the run failed, then the notes of the run, a line each.
std::string ReasonText(const RunState& state, const std::string& why) {
    std::string text = why;
    for (const std::string& note : state.notes) {
        text += (text.empty() ? "" : "\n") + note;
    }
    return text;
}

}  // namespace

std::string ResultMessageOf(const RunState& state) {
    ResultMessageInputs inputs;
    inputs.fileName = state.fileName;
    inputs.portNumber = state.comm != nullptr ? state.comm->PortNumber() : state.portNumber;
    inputs.fileErrNumber = state.fileErrNumber;
    inputs.fileErrLine = state.fileErrLine;
    inputs.transferState = state.link.transferState;
    return ResultMessageFor(state.resultCode, inputs);
}

void ReportResult(RunState& state) {
    TransferView& view = *state.view;
    if (Succeeded(state.resultCode)) {
        state.resultMessage = state.programFile ? "Program " : "File ";
        if (state.link.transferState == TransferState::kCompleted) {
            state.resultMessage += state.sendMode ? "Sent OK" : "Received OK";
        }
        view.SetStatus(state.resultMessage);
        view.SetMessage("Err(0) Transfer Complete");
        view.SetButtonCaption("OK");
        view.SetReason(ReasonText(state, ""));
        if (state.exMode) {
            return;
        }
    } else {
        state.resultMessage = ResultMessageOf(state);
        view.SetStatus("Transfer Error");
        view.SetMessage(state.resultMessage);
        view.SetButtonCaption("OK");
        view.SetReason(ReasonText(
            state, state.failureDetail.empty() ? DefaultReason(state) : state.failureDetail));
    }
    if (state.ddeMode) {
        return;
    }
    state.cancelRequested = false;
    view.FocusButton();
    view.AwaitingOk();
    while (!state.cancelRequested) {
        state.host->Yield(kOkWait);
    }
}

}  // namespace quenlo
