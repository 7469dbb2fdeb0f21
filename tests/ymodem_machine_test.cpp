// YMODEM in virtual time: the CRC, the frames, the sender and the receiver against scripted peers,
// checked on the line frame by frame. "s1" is a 128-byte block 1, "k2" a 1024-byte block 2, "c"
// marks a checksum, "!" a bad check, "end" the empty block 0; single bytes read A (ACK), N (NAK),
// X (CAN), E (EOT), C, G.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>

#include "protocol/crc16.h"
#include "protocol/line_text.h"
#include "protocol/ymodem_receiver.h"
#include "protocol/ymodem_sender.h"
#include "support/memory_serial_comm.h"

namespace quenlo::protocol {
namespace {

using testing::Bytes;
using namespace std::literals;
using enum Outcome;
using std::string;
using Files = std::map<string, string>;

const string kLetters = "ANXECG", kControls{chACK, chNAK, chCAN, chEOT, chCRC, chStreaming};

const auto U8 = [](char c) -> unsigned { return static_cast<unsigned char>(c); };

// A frame put together here, apart from the codec under test; more than 128 bytes make a long one.
string Frame(int n, string data, bool crc = true, char pad = chSUB) {
    data.resize(data.size() > 128 ? 1024 : 128, pad);
    const unsigned sum = crc ? Crc16(data) : Checksum8(data);
    string frame = string{data.size() == 128 ? chSOH : chSTX, char(n), char(255 - n)} + data;
    return (crc ? frame + char(sum >> 8) : frame) + char(sum & 0xFF);
}
string Head(const string& name, std::size_t size, bool crc = true) {
    return Frame(0, name + '\0' + std::to_string(size) + " 0 100644", crc, '\0');
}
const auto Damage = [](string f, std::size_t i) { return f[i] = char(f[i] ^ 0x55), f; };

// The line as tokens (see the top of the file). A checksum frame is one that ends the chunk.
string Tokens(std::string_view line) {
    string out;
    for (std::size_t i = 0; i < line.size();) {
        const std::size_t data = line[i] == chSOH ? 128 : line[i] == chSTX ? 1024 : 0;
        if (data == 0 || line.size() - i < 4 + data) {
            const std::size_t control = kControls.find(line[i++]);
            out += control == string::npos ? '?' : kLetters[control];
            continue;
        }
        const bool sum = line.size() - i == 4 + data;
        const std::string_view body = line.substr(i + 3, data), check = line.substr(i + 3 + data);
        const unsigned n = U8(line[i + 1]),
                       got = sum ? U8(check[0]) : U8(check[0]) << 8 | U8(check[1]);
        const bool good =
            n + U8(line[i + 2]) == 255 && got == (sum ? Checksum8(body) : Crc16(body));
        out += n == 0 && body == string(128, '\0') ? "end"
                                                   : (data == 128 ? "s" : "k") + std::to_string(n);
        out += string(sum ? "c" : "") + (good ? "" : "!");
        i += 5 + data - sum;
    }
    return out;
}

// A handheld's store that refuses one name, and sees only safe ones.
struct Store : testing::MemoryStore {
    bool Begin(const string& name, string& error) override {
        EXPECT_EQ(SafeFileName(name), name);
        error = "refused";
        return name != "REFUSED.PD4" && MemoryStore::Begin(name, error);
    }
};

// Plays steps "in>out" apart by spaces. `in` joins with "+" control bytes by their letters, frames
// named in `frames`, a time to let pass ("2s", "999ms") and "abort"; "/n" after it brings the bytes
// n at a time; without bytes or abort the machine gets a tick. `out` is the machine's answer.
template <typename Machine>
void Play(Machine& machine, const string& script, const Files& frames = {}) {
    Time now{0};
    std::istringstream steps(script);
    for (string step; steps >> step;) {
        SCOPED_TRACE(step);
        const std::size_t arrow = step.find('>'), slash = step.find('/');
        const std::size_t piece = slash < arrow ? std::stoul(step.substr(slash + 1)) : string::npos;
        std::istringstream parts(step.substr(0, std::min(arrow, slash)));
        string bytes;
        for (string part; std::getline(parts, part, '+');) {
            if (part == "abort") {
                machine.Abort(now);
            } else if (frames.count(part) != 0) {
                bytes += frames.at(part);
            } else if (part[0] >= '0' && part[0] <= '9') {
                now += Time(std::stoi(part) * (part.ends_with("ms") ? 1000 : 1000000));
            } else {
                std::ranges::transform(part, std::back_inserter(bytes),
                                       [](char c) { return kControls.at(kLetters.find(c)); });
            }
        }
        if (bytes.empty() && step.find("abort") == string::npos) {
            machine.OnTick(now);
        }
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            machine.OnBytes(std::string_view(bytes).substr(at, piece), now);
        }
        EXPECT_EQ(Tokens(machine.TakeOutput()), step.substr(arrow + 1));
    }
}

// Long blocks are checked against lrzsz as well.
TEST(Crc16, KnownAnswers) {
    EXPECT_EQ(Crc16("123456789"), 0x31C3);
    EXPECT_EQ(Crc16("56789", Crc16("1234")), 0x31C3);
    EXPECT_EQ(Checksum8("123456789"), 0xDD);  // 0x1DD, kept to its low byte
}

// Block 0 carries the name without its directory, the size, time and mode: without the mode rb
// lower-cases an upper-case name.
TEST(YmodemBlock, FramesAndNames) {
    EXPECT_EQ(EncodeBlock(1, "A", 128, CheckKind::kCrc16).substr(131), "\xF2\xDD");  // high first
    EXPECT_EQ(EncodeHeader({"", 1, {}, {}}), "");  // would read as the end of the batch
    testing::MemorySource source("C:\\dir\\PROG.PD4", Bytes(1025));
    YmodemSender sender({.modificationTime = 01234567}, &source, Time{0});
    sender.OnBytes("C", Time{0});
    EXPECT_EQ(sender.TakeOutput(), Frame(0, "PROG.PD4\0001025 1234567 100644"s, true, 0));
    // A received name is cut to its last component; what stays unsafe is refused.
    // clang-format off
    const Files kept{{"PROG.PD4", "PROG.PD4"}, {"../X", "X"}, {"/etc/X", "X"}, {"C:\\X", "X"},
        {"C:X", "X"}, {"a\\b/c", "c"}, {"A:B", "B"}, {"A/..", ""}, {"..\\..", ""}, {"..", ""},
        {".", ""}, {"DIR/", ""}, {"C:", ""}, {"A\x01", ""}, {"NAME:S", ""}};
    // clang-format on
    for (const auto& [sent, name] : kept) {
        EXPECT_EQ(SafeFileName(sent).value_or(""), name) << sent;
    }
}

// A block that trickles in, a byte every 0.9 s, is asked for again once its limit is up; and a
// sender that never ends its batch leaves its whole files all the same.
TEST(YmodemMachines, SlowBlocksAndUnclosedBatchesAreBounded) {
    Store store;
    YmodemReceiver receiver({.idleLimit = 30s}, &store, Time{0});
    receiver.OnBytes(Head("T.BIN", 4), Time{0});
    const string block = Frame(1, "AB\x1A\x1A");
    string answers = Tokens(receiver.TakeOutput());
    Time now = 1s;
    for (std::size_t i = 0; i < block.size() && answers.find('N') == string::npos; ++i) {
        receiver.OnBytes(block.substr(i, 1), now);
        now += 900ms;
        receiver.OnTick(now);
        answers += Tokens(receiver.TakeOutput());
    }
    EXPECT_EQ(answers, "CACN");
    EXPECT_EQ(now, 11800ms);  // the limit of 10 s from the start byte, at the tick after it
    receiver.OnBytes(block + chEOT, now);
    receiver.OnBytes(string(1, chEOT), now);
    EXPECT_EQ(Tokens(receiver.TakeOutput()), "ANAC");
    receiver.OnTick(now + 29s);
    EXPECT_FALSE(receiver.finished());
    receiver.OnTick(now + 30s);
    EXPECT_EQ(OutcomeName(receiver.outcome()), OutcomeName(kOk));
    EXPECT_TRUE(receiver.batchUnclosed());
    EXPECT_EQ(store.files, (Files{{"T.BIN", "AB\x1A\x1A"}}));
}

// A script that starts with the peer ("C>s0") plays against our sender of a file of `size` bytes;
// one that starts with our invitation (">C") against our receiver, whose store then holds `files`
// and has thrown `abandoned` away.
TEST(YmodemMachines, AgainstScriptedPeers) {
    const string d = Bytes(1100), k1 = Frame(1, d.substr(0, 1024)), x(1, chCAN);
    // A block whose data begins with EOT and two CANs: inside a frame they are data.
    const string xData = string{chEOT, chCAN, chCAN} + d.substr(0, 1021), kx = Frame(1, xData);
    // clang-format off
    const Files frames{
        {"h", Head("PROG.PD4", 1100)}, {"k1", k1}, {"s2", Frame(2, d.substr(1024))},
        {"s1", Frame(1, d.substr(0, 128))}, {"k2", Frame(2, d.substr(128))},
        {"s3", Frame(3, d.substr(1024))}, {"k1!", Damage(k1, 9)}, {"k1!!", Damage(k1, 1028)},
        {"half", k1.substr(0, 500)}, {"noise", "\x03zz\x01"}, {"junk", "junk" + x + "!"},
        {"hT", Head("T.BIN", 4)}, {"sT", Frame(1, "AB\x1A\x1A")}, {"sRaw", Frame(1, "xy")},
        {"hRaw", Frame(0, "RAW.BIN\0"s, true, 0)}, {"hA", Head("A.PD4", 5)},
        {"sA", Frame(1, "HELLO")}, {"hB", Head("B.DAT", 0)}, {"hS", Head("S.PD4", 2, false)},
        {"sS", Frame(1, "hi", false)}, {"sS!", Damage(Frame(1, "hi", false), 5)},
        {"endS", Frame(0, "", false, 0)}, {"h0", Head("", 5)}, {"end", Frame(0, "", true, 0)},
        {"bad0", Frame(0, "N\0001x"s, true, 0)}, {"soh", string(1, chSOH)},
        {"hX1", Head("X.BIN", 1024)}, {"kx", kx}, {"kx#", Damage(kx, 1)},
        {"hR", Head("REFUSED.PD4", 5)}, {"hX", Head("../X", 5)}, {"h..", Head("..", 5)}};
    // clang-format on
    const Files kD{{"PROG.PD4", d}}, kAB{{"A.PD4", "HELLO"}, {"B.DAT", ""}};
    const struct {
        string script;
        Outcome outcome;
        std::size_t size = 0;
        Files files{};
        int abandoned = 0;
    } cases[] = {
        {"CC>s0 A> C>k1 A>s2 A>E A> C>end A>", kOk, 1025},  // a stray C, EOT taken at once
        {"C>s0 AC>s1 A>E N>E AC>end A>", kOk, 1},
        {"C>s0 AC>s1 A>s2 A>s3 A>s4 A>s5 A>s6 A>s7 A>E AC>end A>", kOk, 896},  // beats one k1
        {"C>s0 AC>k1 A>E AC>end A>", kOk, 1024},
        {"C>s0 AC>k1 N>k1 2s>k1 A>s2 A>E AC>end A>", kOk, 1025},  // a NAK, a lost ACK
        {"C>s0 X> A> XC>s1 A>E AC>end A>", kOk, 1},               // a single CAN is noise
        {"C>s0 AC>k1 XX>", kAborted, 1025},
        {"C>s0 X> X>", kAborted, 1025},
        {"C>s0 1s+abort>XXXXXXXX", kAborted, 1025},
        {"4999ms> 1ms>XXXXXXXX", kTimeout, 1025},
        {"C>s0 2s>s0 2s>s0 2s>s0 2s>XXXXXXXX", kTimeout, 1025},
        {"C>s0 AC>k1 N>k1 N>k1 N>k1 N>XXXXXXXX", kAborted, 1025},
        {"C>s0 A> 2s> 2s> 2s> 2s>XXXXXXXX", kTimeout, 1025},  // no invitation to the data
        {"G>s0 A> G>k1s2E A> G>end A>", kOk, 1025},
        {"G>s0 A> G>k1s2E 3210ms> 1ms>E A> G>end A>", kOk, 1025},  // 1162 B drain at 960 B/s
        {"N>s0c AN>s1c A>s2c A>E AN>endc A>", kOk, 200},
        {"C>s0 AC>E AC>end A>", kOk, 0},
        {">C h>AC s1>A k2>A E>N E>AC end>A", kOk, 0, kD},  // mixed block sizes
        {">C h>AC k1>A k1>A s2>A E>N E>AC end>A", kOk, 0, kD},
        {">C h>AC k1!> 1s>N k1!!> 999ms> 1ms>N k1>A s2>A E>N E>AC end>A", kOk, 0, kD},
        {">C h>AC k1>A s3>N s2>A E>N E>AC end>A", kOk, 0, kD},
        // A damaged block number: the frame is thrown away whole, then asked for again.
        {">C hX1>AC kx#> 1s>N kx>A E>N E>AC end>A", kOk, 0, {{"X.BIN", xData}}},
        {">C h/1>AC k1/7>A s2+E>AN E+end>ACA", kOk, 0, kD},
        {">C h>AC noise+k1> 1s>N k1>A junk+s2>A E>N E>AC end>A", kOk, 0, kD},  // junk: one CAN
        {">C soh> 1s>C hA>AC sA>A E>N E>AC end>A", kOk, 0, {{"A.PD4", "HELLO"}}},
        {">C h>AC half> 999ms> 1ms>N k1>A s2>A E>N E>AC end>A", kOk, 0, kD},
        {">C hT>AC sT>A E>N E>AC end>A", kOk, 0, {{"T.BIN", "AB\x1A\x1A"}}},
        {">C hRaw>AC sRaw>A E>N E>AC end>A", kOk, 0, {{"RAW.BIN", "xy" + string(126, chSUB)}}},
        {">C hA>AC hA>AC sA>A E>N E>AC E>AC hB>AC E>N E>AC end>A", kOk, 0, kAB},  // answers lost
        {">N hS>AN sS!> 1s>N sS>A E>N E>AN endS>A", kOk, 0, {{"S.PD4", "hi"}}},
        {">C h0>A", kOk},
        {">C h>AC k1>A E>N E>XXXXXXXX", kIncomplete, 0, {}, 1},
        {">C h>AC k1>A XX>", kAborted, 0, {}, 1},
        {">C h>AC abort>XXXXXXXX", kAborted, 0, {}, 1},
        {">C h>AC k1!> 1s>N k1!> 1s>N k1!> 1s>XXXXXXXX", kAborted, 0, {}, 1},
        {">C 3s>C 3s>C 3s>C 1s>XXXXXXXX", kTimeout},
        {">C 3s>C 3s>C 3s>C 500ms+soh> 600ms>XXXXXXXX", kTimeout},  // noise keeps no limit off
        {">C h>AC 5s>C 5s>C 5s>XXXXXXXX", kTimeout, 0, {}, 1},
        {">C h>AC k1>A 5s>N 5s>N 5s>XXXXXXXX", kTimeout, 0, {}, 1},
        {">C bad0>XXXXXXXX", kFailed},
        {">C hR>XXXXXXXX", kFailed},
        {">C hX>AC sA>A E>N E>AC end>A", kOk, 0, {{"X", "HELLO"}}},
        {">C h..>XXXXXXXX", kFailed},  // never handed to the store
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        testing::MemorySource source("PROG.PD4", Bytes(c.size));
        YmodemSender sender({.startLimit = 5s, .answerTimeout = 2s, .retryLimit = 3}, &source, {});
        Store store;
        YmodemReceiver receiver(
            {.startLimit = 10s, .blockTimeout = 5s, .retryLimit = 2, .crc = c.script[1] == 'C'},
            &store, Time{0});
        if (c.script[0] != '>') {
            Play(sender, c.script);
            EXPECT_EQ(OutcomeName(sender.outcome()), OutcomeName(c.outcome));
            EXPECT_EQ(sender.bytesTransferred(), c.outcome == kOk ? c.size : 0);
            continue;
        }
        Play(receiver, c.script, frames);
        EXPECT_EQ(OutcomeName(receiver.outcome()), OutcomeName(c.outcome));
        EXPECT_EQ(store.files, c.files);
        EXPECT_EQ(store.abandoned, c.abandoned);  // nothing half-written stays
    }
}

}  // namespace
}  // namespace quenlo::protocol
