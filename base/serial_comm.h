#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/result_codes.h"

namespace quenlo {

// Values of LastEvent: what last happened on the port since text was last queued for output.
enum class CommEvent : std::int32_t {
    kNone = 0,
    kSent = 1,  // the queued output has left the port
    kBreak = 1000,
    kClearToSendTimeout = 1001,  // informational; not an error
    kDeviceLost = 1002,          // unplugged or gone
    kFraming = 1003,
    kHardwareOverrun = 1004,
    kReceiveOverflow = 1005,
    kParity = 1006,
    kTransmitBufferFull = 1007,
    kWriteFailed = 1008,
    kReadFailed = 1009,
    kDeviceError = 1010,  // any other device failure
};

// The events that are line errors, which a sender passes on as its result (1001 is not one).
constexpr bool IsLineError(CommEvent event) {
    return event == CommEvent::kBreak ||
           (event >= CommEvent::kDeviceLost && event <= CommEvent::kDeviceError);
}
// A line error as the result it becomes: the same number.
constexpr ResultCode AsResult(CommEvent event) {
    return static_cast<ResultCode>(static_cast<std::int16_t>(event));
}

// A line error result as the event it came from.
constexpr CommEvent AsEvent(ResultCode lineError) {
    return static_cast<CommEvent>(Number(lineError));
}

// The serial port as the engine drives it: properties written while the port is closed, then
// polled reads and writes. Implementations: a real device (platform/), memory (tests).
// Texts hold one character per line byte.
class SerialComm {
  public:
    virtual ~SerialComm() = default;

    // Port number 1..21; read back for the port messages.
    virtual void SetPortNumber(std::int16_t number) = 0;
    virtual std::int16_t PortNumber() const = 0;
    // "baud,parity,data,stop", for example "19200,N,8,1".
    virtual void SetSettings(const std::string& settings) = 0;
    // 0: one read of Input returns everything waiting.
    virtual void SetInputLength(std::int32_t length) = 0;
    // The two further settings written before every opening (1 and false).
    virtual void SetEventThreshold(std::int32_t threshold) = 0;
    virtual void SetEndOfFileStop(bool enabled) = 0;
    // The two lines that select the speed of an IrDA adapter: A is DTR, B is RTS. A device that
    // cannot set them ignores the request.
    virtual void SetLineA(bool on) = 0;
    virtual void SetLineB(bool on) = 0;

    // true opens the port; a failure raises RuntimeError, number 68 when the device does not
    // exist, is busy or may not be opened. false closes it.
    virtual void SetPortOpen(bool open) = 0;
    virtual bool PortOpen() const = 0;
    // Why the last opening failed, in words a technician can act on; empty when unknown.
    virtual std::string OpenFailure() const { return {}; }
    // What is worth knowing about the port just opened (for the trace); empty when nothing.
    virtual std::string OpenNote() const { return {}; }

    // Received bytes waiting.
    virtual std::int32_t InputCount() = 0;
    // Everything waiting; it leaves the buffer.
    virtual std::string Input() = 0;
    // Queues text for sending; LastEvent becomes 0 until it has left (then 1) or an error occurs.
    virtual void Output(std::string_view text) = 0;
    // Bytes still queued for sending.
    virtual std::int32_t OutputCount() = 0;
    // Discards the queued output (writing 0 to the output count).
    virtual void ClearOutput() = 0;
    virtual CommEvent LastEvent() = 0;
    // The system's own words for the last line error, when it gave any.
    virtual std::string EventText() const { return {}; }
    // While held, bytes that arrive stay with the system and wake no wait; released, they are read
    // as before. For the rest of a block that cannot have come yet: one wake a block, not a piece.
    virtual void HoldInput(bool hold) { static_cast<void>(hold); }
};

}  // namespace quenlo
