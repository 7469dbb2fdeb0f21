// YMODEM in virtual time: CRC-16, the block codec, the sender and the receiver against scripted
// peers and against each other. Every exchange is checked on the line, frame by frame: "s1" is a
// 128-byte block 1, "k2" a 1024-byte block 2, "c" marks a checksum, "!" a bad check, "end" the
// empty block 0; single bytes read A (ACK), N (NAK), X (CAN), E (EOT), C, G; "-" a lost chunk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "protocol/control_chars.h"
#include "protocol/crc16.h"
#include "protocol/ymodem_block.h"
#include "protocol/ymodem_receiver.h"
#include "protocol/ymodem_sender.h"

namespace quenlo::protocol {
namespace {

using namespace std::chrono_literals;
using std::string;
using Files = std::map<string, string>;

const string X(1, chCAN);

unsigned U8(char c) {
    return static_cast<unsigned char>(c);
}

// Bytes of every value, the same each run.
string Bytes(std::size_t n, unsigned seed = 7) {
    string out(n, '\0');
    for (char& c : out) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    return out;
}

// A frame put together here, apart from the codec under test.
string Frame(char start, int n, string data, bool crc = true, char pad = chSUB) {
    data.resize(start == chSOH ? 128 : 1024, pad);
    string frame{start, static_cast<char>(n), static_cast<char>(255 - n)};
    frame += data;
    const std::uint16_t sum = crc ? Crc16(data) : Checksum8(data);
    if (crc) {
        frame += static_cast<char>(sum >> 8);
    }
    return frame + static_cast<char>(sum & 0xFF);
}
string Soh(int n, const string& data, bool crc = true) {
    return Frame(chSOH, n, data, crc);
}
string Stx(int n, const string& data) {
    return Frame(chSTX, n, data);
}
string Head(const string& name, std::size_t size, bool crc = true) {
    return Frame(chSOH, 0, name + '\0' + std::to_string(size) + " 0 100644", crc, '\0');
}
string End(bool crc = true) {
    return Frame(chSOH, 0, "", crc, '\0');
}
// Two texts with a NUL between them, as block 0 has them.
string Nul(const string& name, const string& fields) {
    return name + '\0' + fields;
}
string Damage(string frame, std::size_t at) {
    frame[at] = static_cast<char>(frame[at] ^ 0x55);
    return frame;
}

// The line as tokens (see the top of the file).
string Tokens(std::string_view line) {
    static const std::map<char, char> kNames{{chACK, 'A'}, {chNAK, 'N'}, {chCAN, 'X'},
                                             {chEOT, 'E'}, {chCRC, 'C'}, {chStreaming, 'G'}};
    string out;
    for (std::size_t i = 0; i < line.size();) {
        const std::size_t data = line[i] == chSOH ? 128 : line[i] == chSTX ? 1024 : 0;
        if (data > 0 && line.size() - i >= 4 + data) {
            const bool sum = line.size() - i == 4 + data;
            const std::string_view body = line.substr(i + 3, data),
                                   check = line.substr(i + 3 + data);
            const unsigned n = U8(line[i + 1]);
            const bool good = n + U8(line[i + 2]) == 255 &&
                              (sum ? Checksum8(body) == U8(check[0])
                                   : Crc16(body) == (U8(check[0]) << 8 | U8(check[1])));
            out += n == 0 && body == string(128, '\0')
                       ? string("end")
                       : (data == 128 ? "s" : "k") + std::to_string(n);
            out += string(sum ? "c" : "") + (good ? "" : "!");
            i += 4 + data + (sum ? 0 : 1);
            continue;
        }
        const auto name = kNames.find(line[i++]);
        out += name == kNames.end() ? '?' : name->second;
    }
    return out;
}

struct MemoryStore : FileStore {
    bool refuse = false;
    std::vector<string> begun;
    Files files;
    string name, data;
    int abandoned = 0;
    bool Begin(const string& n, string& error) override {
        begun.push_back(n);
        error = "refused";
        name = n, data.clear();
        return !refuse;
    }
    bool Append(std::string_view bytes, string&) override { return data.append(bytes), true; }
    bool Commit(string&) override { return files[name] = std::exchange(data, {}), true; }
    void Abandon() override { ++abandoned, data.clear(); }
};

struct MemorySource : FileSource {
    MemorySource(string n, string d, bool bad = false) : name(n), data(d), unreadable(bad) {}
    string name, data;
    bool unreadable;
    string Name() const override { return name; }
    std::uint64_t Size() const override { return data.size(); }
    bool Read(std::uint64_t offset, std::size_t length, string& out, string& error) override {
        out = data.substr(offset, length);
        error = "unreadable";
        return !unreadable;
    }
};

// Pairs names apart by spaces with values.
Files Named(std::string_view names, const std::vector<string>& values) {
    Files named;
    std::istringstream in{string(names)};
    for (const string& value : values) {
        string name;
        in >> name;
        named[name] = value;
    }
    return named;
}

string Name(Outcome outcome) {
    return OutcomeName(outcome);
}

// Plays a script against a machine: steps "in>out" apart by spaces. `in` joins with "+" single
// bytes by their letters (A N X E C G), frames named in `frames`, a time to let pass ("2s",
// "999ms") and "abort"; "/n" after it brings the bytes n at a time, and without bytes or abort
// the machine gets a tick. `out` is what the machine then puts on the line, as tokens.
template <typename Machine>
void Play(Machine& machine, std::string_view script, const Files& frames = {}) {
    static const std::map<char, char> kBytes{{'A', chACK}, {'N', chNAK}, {'X', chCAN},
                                             {'E', chEOT}, {'C', chCRC}, {'G', chStreaming}};
    Time now{0};
    std::istringstream steps{string(script)};
    for (string step; steps >> step;) {
        SCOPED_TRACE(step);
        const std::size_t arrow = step.find('>'), slash = step.find('/');
        const std::size_t piece = slash < arrow ? std::stoul(step.substr(slash + 1)) : string::npos;
        std::istringstream parts(step.substr(0, std::min(arrow, slash)));
        string bytes;
        bool acted = false;
        for (string part; std::getline(parts, part, '+');) {
            if (part == "abort") {
                machine.Abort(now), acted = true;
            } else if (frames.count(part) != 0) {
                bytes += frames.at(part);
            } else if (std::isdigit(static_cast<unsigned char>(part[0])) != 0) {
                now += part.ends_with("ms") ? Time(std::stoi(part) * 1000)
                                            : Time(std::stoi(part) * 1000000);
            } else {
                for (const char letter : part) {
                    bytes += kBytes.at(letter);
                }
            }
        }
        if (bytes.empty() && !acted) {
            machine.OnTick(now);
        }
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            machine.OnBytes(std::string_view(bytes).substr(at, piece), now);
        }
        EXPECT_EQ(Tokens(machine.TakeOutput()), step.substr(arrow + 1));
    }
}

TEST(Crc16, KnownAnswers) {
    const std::vector<std::pair<string, unsigned>> crcs{{"123456789", 0x31C3},
                                                        {"A", 0x58E5},
                                                        {"", 0},
                                                        {"\xFF\xFF", 0x1D0F},
                                                        {string(128, '\0'), 0}};
    for (const auto& [bytes, crc] : crcs) {
        EXPECT_EQ(Crc16(bytes), crc) << bytes;
    }
    EXPECT_EQ(Checksum8("123456789"), 0xDD);  // 0x1DD, kept to its low byte
    EXPECT_EQ(Crc16("56789", Crc16("1234")), 0x31C3);
    // The tables against the polynomial worked bit by bit, over lengths that leave every tail.
    const string data = Bytes(65536 + 7);
    unsigned crc = 0;
    for (std::size_t n = 0; n < data.size(); ++n) {
        if (n < 17 || n == 65536 + 6) {
            EXPECT_EQ(Crc16(std::string_view(data).substr(0, n)), crc) << n;
        }
        crc ^= U8(data[n]) << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1) & 0xFFFF;
        }
    }
    EXPECT_EQ(Crc16(data), crc);
    EXPECT_EQ(Crc16(std::string_view(data).substr(5), Crc16(data.substr(0, 5))), crc);
}

TEST(YmodemBlock, EncodesFrames) {
    const string one = EncodeBlock(1, "A", 128, CheckKind::kCrc16);
    ASSERT_EQ(one.size(), 133u);
    EXPECT_EQ(one, Soh(1, "A"));
    EXPECT_EQ(U8(one[131]) << 8 | U8(one[132]), 0xF2DDu);  // "A" and 127 SUB, high byte first
    EXPECT_EQ(EncodeBlock(1, "A", 128, CheckKind::kChecksum), Soh(1, "A", false));
    EXPECT_EQ(EncodeBlock(255, Bytes(1000), 1024, CheckKind::kCrc16), Stx(255, Bytes(1000)));
    EXPECT_EQ(EncodeHeader({"PROG.PD4", 1024, 0, kRegularFileMode}),
              Nul("PROG.PD4", "1024 0 100644") + string(106, '\0'));
    EXPECT_EQ(EncodeHeader({string(150, 'N'), 1, {}, {}}).size(), 1024u);
    EXPECT_EQ(EncodeHeader({string(1100, 'N'), 1, {}, {}}), "");
    EXPECT_EQ(EncodeHeader({"", 1, {}, {}}), "");  // would read as the end of the batch
    EXPECT_EQ(EncodeBatchEnd(), string(128, '\0'));
}

TEST(YmodemBlock, ChecksFrames) {
    const string frame = Stx(9, Bytes(1024));
    const struct {
        string frame;
        CheckKind check;
        BlockStatus status;
    } cases[] = {
        {frame, CheckKind::kCrc16, BlockStatus::kGood},
        {Damage(frame, 500), CheckKind::kCrc16, BlockStatus::kBadCheck},
        {Damage(frame, 1027), CheckKind::kCrc16, BlockStatus::kBadCheck},  // CRC high byte
        {Damage(frame, 1028), CheckKind::kCrc16, BlockStatus::kBadCheck},  // CRC low byte
        {Damage(frame, 2), CheckKind::kCrc16, BlockStatus::kBadNumber},
        {frame.substr(0, 1028), CheckKind::kCrc16, BlockStatus::kBadLength},
        {frame, CheckKind::kChecksum, BlockStatus::kBadLength},
        {Soh(9, "x", false), CheckKind::kChecksum, BlockStatus::kGood},
        {Damage(Soh(9, "x", false), 131), CheckKind::kChecksum, BlockStatus::kBadCheck},
    };
    for (const auto& c : cases) {
        const ParsedBlock parsed = ParseBlock(c.frame, c.check);
        EXPECT_EQ(parsed.status, c.status) << &c - cases;
        EXPECT_EQ(parsed.data,
                  c.status == BlockStatus::kGood ? c.frame.substr(3, parsed.data.size()) : "");
        EXPECT_EQ(parsed.number, c.status == BlockStatus::kBadLength ? 0 : 9);
    }
}

TEST(YmodemBlock, ReadsHeaders) {
    using Opt = std::optional<std::uint64_t>;
    const struct {
        string data;
        HeaderKind kind;
        Opt size, mtime, mode;
    } headers[] = {
        {Nul("PROG.PD4", "1024 13 100644") + Nul("", "junk"), HeaderKind::kFile, 1024, 11, 0100644},
        {Nul("N", "12"), HeaderKind::kFile, 12, {}, {}},
        {Nul("N", "7  0 9 0 1 7"), HeaderKind::kFile, 7, 0, {}},  // 9 is no octal digit
        {Nul("N", ""), HeaderKind::kFile, {}, {}, {}},
        {Nul("", "5 0 100644"), HeaderKind::kBatchEnd, {}, {}, {}},
        {string(128, 'N'), HeaderKind::kMalformed, {}, {}, {}},
        {Nul("N", "1x2"), HeaderKind::kMalformed, {}, {}, {}},
    };
    for (const auto& h : headers) {
        const ParsedHeader parsed = ParseHeader(h.data);
        EXPECT_EQ(parsed.kind, h.kind) << &h - headers;
        if (h.kind == HeaderKind::kFile) {
            EXPECT_EQ(parsed.file.name, h.data.substr(0, h.data.find('\0')));
            EXPECT_EQ(parsed.file.size, h.size);
            EXPECT_EQ(parsed.file.mtime, h.mtime);
            EXPECT_EQ(parsed.file.mode, h.mode) << &h - headers;
        }
    }
}

// Sender and receiver on one line in virtual time; chunk `fault` of the exchange is lost
// (at < 0) or has byte `at` spoilt.
struct Line {
    explicit Line(std::size_t size, bool crc = true)
        : source("PROG.PD4", Bytes(size)),
          sender({.startLimit = 5s, .answerTimeout = 2s, .retryLimit = 3}, &source, Time{0}),
          receiver({.blockTimeout = 5s, .retryLimit = 3, .crc = crc}, &store, Time{0}) {}

    string Run(int fault, int at) {
        string transcript;
        Time now{0};
        for (int chunk = 0, round = 0;
             round < 100000 && !(sender.finished() && receiver.finished()); ++round) {
            bool moved = false;
            for (auto [from, to] : {std::pair<PeerMachine*, PeerMachine*>{&receiver, &sender},
                                    std::pair<PeerMachine*, PeerMachine*>{&sender, &receiver}}) {
                string out = from->TakeOutput();
                if (out.empty()) {
                    continue;
                }
                const bool lost = chunk == fault && at < 0;
                out = chunk++ == fault && at >= 0 ? Damage(out, at) : out;
                transcript += (transcript.empty() ? "" : " ") + Tokens(out) + (lost ? "-" : "");
                if (!lost) {
                    to->OnBytes(out, now), moved = true;
                }
            }
            const auto a = sender.NextDeadline(), b = receiver.NextDeadline();
            if (!moved && (a || b)) {
                now = std::max(now, std::min(a.value_or(Time::max()), b.value_or(Time::max())));
                sender.OnTick(now), receiver.OnTick(now);
            } else if (!moved) {
                break;
            }
        }
        return transcript;
    }

    MemorySource source;
    MemoryStore store;
    YmodemSender sender;
    YmodemReceiver receiver;
};

TEST(YmodemMachines, SenderAndReceiverOnOneLine) {
    const struct {
        const char* name;
        std::size_t size;
        int fault, at;
        bool crc;
        string line;  // the whole exchange, or a piece of it after "..."
    } cases[] = {
        {"empty file", 0, -1, 0, true, "C s0 AC E N E AC end A"},
        {"one byte", 1, -1, 0, true, "C s0 AC s1 A E N E AC end A"},
        {"seven short blocks beat a long one", 896, -1, 0, true,
         "C s0 AC s1 A s2 A s3 A s4 A s5 A s6 A s7 A E N E AC end A"},
        {"one long block", 897, -1, 0, true, "C s0 AC k1 A E N E AC end A"},
        {"exactly 1024", 1024, -1, 0, true, "C s0 AC k1 A E N E AC end A"},
        {"1025", 1025, -1, 0, true, "C s0 AC k1 A s2 A E N E AC end A"},
        {"lost ACK of block 1", 1025, 4, -1, true, "C s0 AC k1 A- k1 A s2 A E N E AC end A"},
        {"lost ACK of block 0", 1025, 2, -1, true, "C s0 AC- s0 AC k1 A s2 A E N E AC end A"},
        {"lost ACK of EOT", 1025, 10, -1, true, "C s0 AC k1 A s2 A E N E AC- E AC end A"},
        {"damaged data", 1025, 3, 500, true, "C s0 AC k1! N k1 A s2 A E N E AC end A"},
        {"damaged CRC low byte", 1025, 3, 1028, true, "C s0 AC k1! N k1 A s2 A E N E AC end A"},
        {"damaged block 0", 1025, 1, 5, true, "C s0! N s0 AC k1 A s2 A E N E AC end A"},
        {"checksums", 200, -1, 0, false, "N s0c AN s1c A s2c A E N E AN endc A"},
        {"damaged checksum", 200, 3, 131, false, "N s0c AN s1c! N s1c A s2c A E N E AN endc A"},
        {"block numbers wrap", 300 * 1024 + 5, -1, 0, true, "...k255 A k0 A k1 A"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Line line(c.size, c.crc);
        const string transcript = line.Run(c.fault, c.at);
        if (c.line.starts_with("...")) {
            EXPECT_NE(transcript.find(c.line.substr(3)), string::npos);
        } else {
            EXPECT_EQ(transcript, c.line);
        }
        EXPECT_EQ(Name(line.sender.outcome()), "ok");
        EXPECT_EQ(Name(line.receiver.outcome()), "ok");
        EXPECT_EQ(line.store.files, (Files{{"PROG.PD4", line.source.data}}));
        EXPECT_EQ(line.sender.bytesTransferred(), c.size);
        ASSERT_EQ(line.receiver.filesReceived().size(), 1u);
        EXPECT_EQ(line.receiver.filesReceived()[0].size, c.size);
    }
}

TEST(YmodemSender, AgainstScriptedReceivers) {
    const struct {
        const char* name;
        std::size_t size;
        const char* script;
        Outcome outcome;
        bool unreadable = false;
    } cases[] = {
        {"EOT acknowledged at once, a stray C ignored", 1025, "CC>s0 A> C>k1 A>s2 A>E A> C>end A>",
         Outcome::kOk},
        {"EOT refused once", 1, "C>s0 AC>s1 A>E N>E AC>end A>", Outcome::kOk},
        {"one CAN is noise", 1, "C>s0 X> A> XC>s1 A>E AC>end A>", Outcome::kOk},
        {"two CANs cancel", 1025, "C>s0 AC>k1 XX>", Outcome::kAborted},
        {"two CANs in two reads", 1025, "C>s0 X> X>", Outcome::kAborted},
        {"Abort", 1025, "C>s0 1s+abort>XXXXXXXX", Outcome::kAborted},
        {"no receiver", 1025, "4999ms> 1ms>XXXXXXXX", Outcome::kTimeout},
        {"no answer", 1025, "C>s0 2s>s0 2s>s0 2s>s0 2s>XXXXXXXX", Outcome::kTimeout},
        {"NAKs exhausted", 1025, "C>s0 AC>k1 N>k1 N>k1 N>k1 N>XXXXXXXX", Outcome::kAborted},
        {"no invitation to the data", 1025, "C>s0 A> 2s> 2s> 2s> 2s>XXXXXXXX", Outcome::kTimeout},
        {"streaming", 1025, "G>s0 A> G>k1s2E A> G>end A>", Outcome::kOk},
        {"streaming without ACK of block 0", 1025, "G>s0 G>k1s2E AG>end A>", Outcome::kOk},
        // 1162 bytes streamed at 960 bytes/s: 1.210 s more than the 2 s for an answer.
        {"streaming waits for the line to drain", 1025, "G>s0 A> G>k1s2E 3210ms> 1ms>E A> G>end A>",
         Outcome::kOk},
        {"NAK asks for checksums", 200, "N>s0c AN>s1c A>s2c A>E AN>endc A>", Outcome::kOk},
        {"empty file", 0, "C>s0 AC>E AC>end A>", Outcome::kOk},
        {"unreadable file", 1025, "C>s0 AC>XXXXXXXX", Outcome::kFailed, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MemorySource source("dir/PROG.PD4", Bytes(c.size), c.unreadable);
        YmodemSender sender({.startLimit = 5s, .answerTimeout = 2s, .retryLimit = 3}, &source,
                            Time{0});
        Play(sender, c.script);
        EXPECT_EQ(Name(sender.outcome()), Name(c.outcome));
        EXPECT_EQ(sender.fileName(), "PROG.PD4");
        EXPECT_EQ(sender.fileSize(), c.size);
        EXPECT_EQ(sender.bytesTransferred(), c.outcome == Outcome::kOk ? c.size : 0);
        EXPECT_EQ(sender.started(), string(c.script).find("s0") != string::npos);
        EXPECT_FALSE(sender.NextDeadline());
    }
}

// Without the mode rb lower-cases an upper-case name; the directory never goes on the line.
TEST(YmodemSender, Block0CarriesNameSizeTimeAndMode) {
    MemorySource source("C:\\dir\\PROG.PD4", Bytes(1025));
    YmodemSender sender({.modificationTime = 01234567}, &source, Time{0});
    EXPECT_FALSE(sender.started());
    sender.OnBytes("C", Time{0});
    EXPECT_TRUE(sender.started());
    EXPECT_EQ(sender.TakeOutput(),
              Frame(chSOH, 0, Nul("PROG.PD4", "1025 1234567 100644"), true, '\0'));
}

TEST(YmodemReceiver, AgainstScriptedSenders) {
    const string d = Bytes(1100), l(1024, 'L'), k1 = Stx(1, d.substr(0, 1024));
    // 1100 bytes as k1 s2 or as s1 k2; the bytes of kL have no SOH or STX among them.
    const char* names =
        "h k1 s2 s1 k2 s3 k1! k1!! half noise junk hL kL kL# hT sT hRaw sRaw hA sA "
        "hB hS sS sS! endS h0 bad0 end soh";
    const Files frames = Named(names, {Head("PROG.PD4", 1100),
                                       k1,
                                       Soh(2, d.substr(1024)),
                                       Soh(1, d.substr(0, 128)),
                                       Stx(2, d.substr(128)),
                                       Soh(3, d.substr(1024)),
                                       Damage(k1, 9),
                                       Damage(k1, 1028),
                                       k1.substr(0, 500),
                                       "\x03zz\x01",
                                       "junk" + X + "!",
                                       Head("L.TXT", 1024),
                                       Stx(1, l),
                                       Damage(Stx(1, l), 1),
                                       Head("T.BIN", 4),
                                       Soh(1, "AB\x1A\x1A"),
                                       Frame(chSOH, 0, Nul("RAW.BIN", ""), true, '\0'),
                                       Soh(1, "xy"),
                                       Head("A.PD4", 5),
                                       Soh(1, "HELLO"),
                                       Head("B.DAT", 0),
                                       Head("S.PD4", 2, false),
                                       Soh(1, "hi", false),
                                       Damage(Soh(1, "hi", false), 5),
                                       End(false),
                                       Head("", 5),
                                       Frame(chSOH, 0, Nul("N", "1x")),
                                       End(),
                                       string(1, chSOH)});
    const struct {
        const char* name;
        const char* script;
        Outcome outcome;
        Files files;
        int abandoned = 0;
        bool crc = true, refuse = false;
    } cases[] = {
        {"mixed block sizes", ">C h>AC s1>A k2>A E>N E>AC end>A", Outcome::kOk, {{"PROG.PD4", d}}},
        {"repeat written once",
         ">C h>AC k1>A k1>A s2>A E>N E>AC end>A",
         Outcome::kOk,
         {{"PROG.PD4", d}}},
        {"damage refused",
         ">C h>AC k1!>N k1!!>N k1>A s2>A E>N E>AC end>A",
         Outcome::kOk,
         {{"PROG.PD4", d}}},
        {"out of order refused",
         ">C h>AC k1>A s3>N s2>A E>N E>AC end>A",
         Outcome::kOk,
         {{"PROG.PD4", d}}},
        {"in pieces, and many at once",
         ">C h/1>AC k1/7>A s2+E>AN E+end>ACA",
         Outcome::kOk,
         {{"PROG.PD4", d}}},
        {"garbage, a false start, one CAN",
         ">C h>AC noise+k1>A junk+s2>A E>N E>AC end>A",
         Outcome::kOk,
         {{"PROG.PD4", d}}},
        {"damaged number: no block",
         ">C hL>AC kL#> kL>A E>N E>AC end>A",
         Outcome::kOk,
         {{"L.TXT", l}}},
        {"noise before block 0",
         ">C soh> 1s>C hA>AC sA>A E>N E>AC end>A",
         Outcome::kOk,
         {{"A.PD4", "HELLO"}}},
        {"stalled block dropped",
         ">C h>AC half> 999ms> 1ms>N k1>A s2>A E>N E>AC end>A",
         Outcome::kOk,
         {{"PROG.PD4", d}}},
        {"SUB at the end is data",
         ">C hT>AC sT>A E>N E>AC end>A",
         Outcome::kOk,
         {{"T.BIN", "AB\x1A\x1A"}}},
        {"no size: whole blocks",
         ">C hRaw>AC sRaw>A E>N E>AC end>A",
         Outcome::kOk,
         {{"RAW.BIN", "xy" + string(126, chSUB)}}},
        {"batch of two, answers lost",
         ">C hA>AC hA>AC sA>A E>N E>AC E>AC hB>AC E>N E>AC end>A",
         Outcome::kOk,
         {{"A.PD4", "HELLO"}, {"B.DAT", ""}}},
        {"checksums",
         ">N hS>AN sS!>N sS>A E>N E>AN endS>A",
         Outcome::kOk,
         {{"S.PD4", "hi"}},
         0,
         false},
        {"empty name ends the batch", ">C h0>A", Outcome::kOk, {}},
        {"EOT before the end", ">C h>AC k1>A E>N E>XXXXXXXX", Outcome::kIncomplete, {}, 1},
        {"two CANs cancel", ">C h>AC k1>A XX>", Outcome::kAborted, {}, 1},
        {"Abort", ">C h>AC abort>XXXXXXXX", Outcome::kAborted, {}, 1},
        {"damage until no retries", ">C h>AC k1!>N k1!>N k1!>XXXXXXXX", Outcome::kAborted, {}, 1},
        {"no sender", ">C 3s>C 3s>C 3s>C 1s>XXXXXXXX", Outcome::kTimeout, {}},
        {"no data", ">C h>AC 5s>C 5s>C 5s>XXXXXXXX", Outcome::kTimeout, {}, 1},
        {"data stops", ">C h>AC k1>A 5s>N 5s>N 5s>XXXXXXXX", Outcome::kTimeout, {}, 1},
        {"unreadable block 0", ">C bad0>XXXXXXXX", Outcome::kFailed, {}},
        {"store refuses", ">C hA>XXXXXXXX", Outcome::kFailed, {}, 0, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryStore store;
        store.refuse = c.refuse;
        YmodemReceiver receiver(
            {.startLimit = 10s, .blockTimeout = 5s, .retryLimit = 2, .crc = c.crc}, &store,
            Time{0});
        Play(receiver, c.script, frames);
        EXPECT_EQ(Name(receiver.outcome()), Name(c.outcome));
        EXPECT_EQ(store.files, c.files);
        EXPECT_EQ(store.begun.size(), c.files.size() + c.abandoned + (c.refuse ? 1 : 0));
        EXPECT_EQ(store.abandoned, c.abandoned);
        EXPECT_EQ(receiver.filesReceived().size(), c.files.size());
        EXPECT_EQ(store.data, "");  // nothing half-written stays behind
        EXPECT_FALSE(receiver.NextDeadline());
    }
}

// The name block 0 gives is reduced to its last component; what stays unsafe is never handed to
// the store, and the sender gets CAN.
TEST(YmodemReceiver, HostileNames) {
    const Files names =
        Named("PROG.PD4 ../X /etc/X C:\\X C:X a\\b/c A:B A/.. ..\\.. .. . DIR/ C: A\x01 NAME:S",
              {"PROG.PD4", "X", "X", "X", "X", "c", "B", "", "", "", "", "", "", "", ""});
    EXPECT_EQ(SafeFileName(""), std::nullopt);  // an empty name in block 0 ends the batch
    for (const auto& [sent, kept] : names) {
        SCOPED_TRACE(sent);
        EXPECT_EQ(SafeFileName(sent).value_or(""), kept);
        MemoryStore store;
        YmodemReceiver receiver({}, &store, Time{0});
        Play(receiver, kept.empty() ? ">C h>XXXXXXXX" : ">C h>AC s>A E>N E>AC end>A",
             {{"h", Head(sent, 3)}, {"s", Soh(1, "abc")}, {"end", End()}});
        EXPECT_EQ(Name(receiver.outcome()), kept.empty() ? "failed" : "ok");
        EXPECT_EQ(store.begun, kept.empty() ? std::vector<string>{} : std::vector<string>{kept});
        EXPECT_EQ(store.files, (kept.empty() ? Files{} : Files{{kept, "abc"}}));
    }
}

}  // namespace
}  // namespace quenlo::protocol
