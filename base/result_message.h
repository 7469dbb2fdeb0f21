#pragma once

#include <cstdint>
#include <string>

#include "base/result_codes.h"
#include "base/transfer_state.h"

namespace quenlo {

// What a result message may name besides the code itself.
struct ResultMessageInputs {
    std::string fileName;            // code 1
    std::int16_t portNumber = 0;     // codes 101 and 102
    std::int32_t fileErrNumber = 0;  // code 99: run-time error of the last failed file write
    std::int32_t fileErrLine = 0;
    TransferState transferState = TransferState::kNone;
};

// The operator's text for a non-zero result code, exactly as the transfer window shows it.
std::string ResultMessageFor(ResultCode code, const ResultMessageInputs& inputs);

}  // namespace quenlo
