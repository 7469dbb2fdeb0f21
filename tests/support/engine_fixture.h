#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "protocol/block_receiver.h"
#include "protocol/block_sender.h"
#include "support/engine_rig.h"
#include "support/temp_dir.h"
#include "support/token_matcher.h"

namespace quenlo::testing {

// The engine rig as a test fixture, with a handheld when there is one: the real protocol machine
// that bht-sim runs.
class EngineFixture : public ::testing::Test, public EngineRig {
  protected:
    ~EngineFixture() override { state.CloseAllFiles(); }  // before the directory goes

    // A handheld that takes a file by the block protocol, or one that uploads one, or below any
    // other machine as the handheld; behind a line at 19200 Bd unless told otherwise.
    void Handheld(protocol::BlockReceiverOptions options = {}, sim::LineFaults toHandheld = {},
                  sim::LineFaults toLoader = {}, int baud = 19200) {
        Peer(std::make_unique<protocol::BlockReceiver>(options, store, line.Now()), toHandheld,
             toLoader, baud);
    }
    void Uploader(protocol::Upload upload, protocol::BlockSenderOptions options = {},
                  sim::LineFaults toHandheld = {}, sim::LineFaults toLoader = {},
                  int baud = 19200) {
        Peer(std::make_unique<protocol::BlockSender>(options, std::move(upload), line.Now()),
             toHandheld, toLoader, baud);
    }
    void Peer(std::unique_ptr<protocol::PeerMachine> machine, sim::LineFaults toHandheld = {},
              sim::LineFaults toLoader = {}, int baud = 19200) {
        line.Attach(*machine, sim::Line(baud, toHandheld), sim::Line(baud, toLoader));
        peer = std::move(machine);
    }

    // A fresh run's settings, the line open and empty, an empty directory unless kept.
    void Prepare(bool keepFiles = true) {
        // A run holds its folder open, and Windows removes no folder held open.
        state.receiving.targetFolder.reset();
        if (!keepFiles) {
            std::filesystem::remove_all(dir.path());
            std::filesystem::create_directory(dir.path());
        }
        SetDefaults(state);
        state.filePath = dir.enginePath();
        state.cancelRequested = false;
        state.notes.clear();
        line.sent.clear();
        line.SetPortOpen(true);
        host.messages.clear();
    }

    // A file of `lines` lines "LINE0001", "LINE0002", ... ended by CR LF; returns its full path.
    std::string WriteLines(const std::string& name, int lines) {
        std::string text;
        for (int i = 1; i <= lines; ++i) {
            text += "LINE" + std::to_string(10000 + i).substr(1) + "\r\n";
        }
        dir.Write(name, text);
        return dir.enginePath() + name;
    }

    // Shows the transfer window as a run would: its button cancels, its timer ticks.
    void ShowWindow() { view.Show(events); }

    // What the loader put on the line, a token a text: E(NQ), T (EOT), A(CK), N(AK), H(eading),
    // the number of a data block (D without numbers), ? for anything else.
    std::string Trace() const {
        std::string trace;
        for (const std::string& text : line.sent) {
            trace += trace.empty() ? "" : " ";
            const auto single = std::string("\x05\x04\x06\x15").find(text);
            if (text.size() == 1 && single != std::string::npos) {
                trace += "ETAN"[single];
            } else if (text[0] == '\x01') {
                trace += 'H';
            } else if (text[0] == '\x02') {
                trace += state.seqEnabled ? std::to_string(std::stoi(text.substr(1, 5))) : "D";
            } else {
                trace += '?';
            }
        }
        return trace;
    }

    MemoryStore store;
    std::unique_ptr<protocol::PeerMachine> peer;  // the handheld
    TempDir dir;
};

}  // namespace quenlo::testing
