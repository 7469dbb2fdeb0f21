#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/engine_file.h"
#include "base/result_codes.h"
#include "base/transfer_state.h"
#include "disk/directory.h"
#include "protocol/heading.h"

namespace quenlo {

class Host;
class SerialComm;
class TransferView;

inline constexpr const char* kVersionText = "ENG-32 2.72";

// The transfer settings: everything the option line can set. SetDefaults restores this whole
// struct at the start of every run.
struct TransferSettings {
    std::int16_t portNumber = 1;
    std::string baudRate = "19200";
    std::string parity = "N";
    std::string dataBits = "8";
    std::string stopBits = "1";
    bool bccEnabled = true;
    bool seqEnabled = true;
    std::int16_t timeoutCount = 10;  // in 3-second slices
    bool irdaMode = false;
    std::int32_t irDelay = 0;  // milliseconds after each transmission
    bool ymodemMode = false;
    bool rxonMode = false;
    bool cmpMode = false;
    bool exMode = false;
    bool ddeMode = false;
    bool appendMode = false;
    bool sendMode = false;
    std::string filePath;  // directory with its final "\", or the receive directory
    std::string fileName;
    // The same as typed (UTF-8, letter case kept), when the front end gave the line so: what is
    // opened, where it exists as given.
    std::string filePathAsGiven;
    std::string fileNameAsGiven;
    bool programFile = false;
    std::string fieldFileName;
    std::int16_t fieldCount = 0;
    std::int16_t recordLength = 0;
    // Entry i (1..16) is the width of field i as decimal text; entry 0 is unused.
    std::array<std::string, kMaxFields + 1> fieldLengths{};
};

// Where the exchange with the handheld stands: what the last line primitive did, what it read,
// and the block the two sides are at.
struct LinkRecord {
    std::int16_t linkStatus = 0;
    std::string inputText;  // what WaitAnswerBHT read: an answer, or a data block
    TransferState transferState = TransferState::kNone;
    std::int32_t blockSeq = 1;  // runs to one past the record count, so wider than 16 bits
    std::string blockSeqText = "00000";
    std::string portSettings;
};

// The blocks a send builds.
struct SendRecord {
    std::string headerBlock;
    std::string currentBlock;
    std::string nextRecord;
    std::int32_t linesCut = 0;  // lines of the file sent that were longer than a record
};

// What a reception has taken, and where it writes.
struct ReceiveRecord {
    std::string rxBuffer;
    std::int16_t rxBlockLength = 0;
    std::string rxRecord;
    bool rxFileCreated = false;
    // The folder a reception writes into, held open from before the port opens to the run's end,
    // and the filePath it was opened for.
    std::unique_ptr<disk::Directory> targetFolder;
    std::string targetFolderOf;
};

// File numbers under which the engine opens its files.
enum class FileNumber : int { kSend = 1, kReceive = 2, kFieldFile = 3 };

// All state of one transfer run. The procedures share it, the way the loader's procedures always
// have, instead of passing records between them.
struct RunState : TransferSettings {
    explicit RunState(Host& runHost, SerialComm* port = nullptr, TransferView* window = nullptr)
        : host(&runHost), comm(port), view(window) {}

    Host* host;
    SerialComm* comm;    // serialComm, the port of the transfer window
    TransferView* view;  // frmTarvos

    std::string commandLine;
    std::string currentOption;
    // The option line as typed, UTF-8, before it was upper-cased; empty when there is only the
    // upper-case line. Its tokens stand where commandLine's do.
    std::string commandLineAsGiven;
    std::string currentOptionAsGiven;
    ResultCode resultCode = result::kOk;
    std::string resultMessage;
    std::string currentProcedure;
    // Why the run failed, beside its result: what happened and what to try, in UTF-8, for a
    // front end that can say more than the result's own text.
    std::string failureDetail;
    // What the operator should know of a run that went through all the same (UTF-8), a line each.
    std::vector<std::string> notes;
    // A received file whose name is taken in the folder goes under a numbered name (STOCK-2.TXT)
    // instead of replacing it (quenlo-cli --keep); not an option of the line.
    bool keepEarlierFiles = false;
    // The files received whole, as stored, each with its size ("STOCK.TXT: 60 records").
    std::vector<std::string> received;
    std::int16_t recordCount = 0;  // not reset by SetDefaults

    // Last failed file write, for the suffix of "Err(99) General Failure".
    std::int32_t fileErrNumber = 0;
    std::int32_t fileErrLine = 0;

    // Shared with the transfer window: its button sets the flag, its timer adds ticks.
    bool cancelRequested = false;
    std::int16_t timerTicks = 0;
    // When the window last had a turn while bytes were waiting (YieldToWindow).
    double lastWindowTurn = -1;

    LinkRecord link;
    SendRecord sending;
    ReceiveRecord receiving;

    // The engine's open files, indexed by FileNumber; none outlives a run.
    std::array<std::unique_ptr<EngineFile>, 4> files{};

    std::unique_ptr<EngineFile>& file(FileNumber number) {
        return files[static_cast<std::size_t>(number)];
    }
    // Closes the file; one being written that was not closed first (EngineFile::Close) is taken
    // back. CloseAllFiles takes back whatever is being written.
    void CloseFile(FileNumber number) { file(number).reset(); }
    void CloseAllFiles();
    bool AnyFileOpen() const;
};

// Puts every transfer setting to its default (recordCount excepted).
void SetDefaults(RunState& state);

}  // namespace quenlo
