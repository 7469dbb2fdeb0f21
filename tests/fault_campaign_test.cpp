// The fault campaign's quick share (make faults runs it all): every kind of fault of the line at
// some 25 bytes spread over each transfer, for every kind of transfer. No run may break the rule
// of receptions nor outlast its time bound; the protocol's own blind spots are counted apart.
#include <gtest/gtest.h>

#include <unistd.h>

#include "faults/campaign.h"

namespace quenlo::faults {
namespace {

class FaultCampaignTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(FaultCampaignTest, EverySingleFaultEndsByTheRule) {
    const TransferKind& kind = Kinds()[GetParam()];
    Campaign campaign(std::filesystem::temp_directory_path() /
                      ("quenlo-faults-" + std::to_string(::getpid())));
    const CleanRun clean = campaign.Clean(kind);
    EXPECT_EQ(campaign.Run(kind, {}, clean).verdict, Verdict::kWhole);
    for (const auto& faults : SingleFaults(clean, 25)) {
        const RunResult run = campaign.Run(kind, faults, clean);
        EXPECT_TRUE(run.verdict != Verdict::kViolation && run.verdict != Verdict::kOverlong)
            << FaultName(faults[0].type) << " at byte " << faults[0].position
            << (faults[0].direction == Direction::kToHandheld ? " to the handheld: " : " to us: ")
            << run.why << " after " << run.seconds << " s";
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, FaultCampaignTest, ::testing::Range<std::size_t>(0, Kinds().size()),
                         [](const auto& kind) {
                             std::string name;
                             for (const char c : Kinds()[kind.param].name) {
                                 name += c == '+' ? "On" : c == '-' ? "Off" : std::string(1, c);
                             }
                             std::erase(name, ' ');
                             return name;
                         });

}  // namespace
}  // namespace quenlo::faults
