// fault_campaign: every single fault of the line at every byte of every kind of transfer, then a
// sample of runs with two or three faults, each run judged by the rule of receptions. Prints a
// table (kind x fault: runs, whole copies, clean failures, violations, the protocol's own limits,
// runs over the time bound, the longest run) and exits 1 on any violation or overlong run.
//
// Usage: fault_campaign [--samples N] [--threads N] [--positions N] [--kinds TEXT] [--seed N]
// (--positions: about N bytes spread over each direction instead of every byte)
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "faults/campaign.h"

namespace {

using namespace quenlo::faults;

struct Tally {
    long runs = 0, whole = 0, clean = 0, violations = 0, limits = 0, overlong = 0;
    double longest = 0;
    std::string example;  // the first violation's faults and what was found

    void Add(const RunResult& run, const std::string& faults) {
        ++runs;
        longest = std::max(longest, run.seconds);
        switch (run.verdict) {
            case Verdict::kWhole:
                ++whole;
                break;
            case Verdict::kCleanFailure:
                ++clean;
                break;
            case Verdict::kLimit:
                ++limits;
                break;
            case Verdict::kViolation:
                ++violations;
                if (example.empty()) {
                    example = faults + ": " + run.why;
                }
                break;
            case Verdict::kOverlong:
                ++overlong;
                if (example.empty()) {
                    example = faults + ": " + std::to_string(run.seconds) + " s";
                }
                break;
        }
    }
};

struct Job {
    std::size_t kind;
    std::vector<Fault> faults;
    std::string column;
};

std::string Describe(const std::vector<Fault>& faults) {
    std::string text;
    for (const Fault& fault : faults) {
        text += (text.empty() ? "" : " + ") + std::string(FaultName(fault.type)) + " at " +
                (fault.direction == Direction::kToHandheld ? ">" : "<") +
                std::to_string(fault.position);
        if (fault.type == FaultType::kFlip || fault.type == FaultType::kStray) {
            char bits[8];
            std::snprintf(bits, sizeof bits, " %02x", fault.bits);
            text += bits;
        }
    }
    return text;
}

long Option(int argc, char** argv, const char* name, long fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) {
            return std::stol(argv[i + 1]);
        }
    }
    return fallback;
}

std::string TextOption(int argc, char** argv, const char* name) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) {
            return argv[i + 1];
        }
    }
    return "";
}

// Two or three faults of any type at random places of one kind of transfer.
std::vector<Fault> RandomFaults(const CleanRun& clean, std::mt19937& random) {
    const FaultType types[] = {FaultType::kLost, FaultType::kFlip, FaultType::kDoubled,
                               FaultType::kStray, FaultType::kSilent};
    std::vector<Fault> faults(2 + random() % 2);
    for (Fault& fault : faults) {
        const long out = static_cast<long>(clean.toHandheld.size());
        const long total = out + static_cast<long>(clean.toLoader.size());
        const long at = static_cast<long>(random() % static_cast<unsigned long>(total));
        fault.direction = at < out ? Direction::kToHandheld : Direction::kToLoader;
        fault.position = 1 + (at < out ? at : at - out);
        fault.type = types[random() % 5];
        fault.bits = static_cast<std::uint8_t>(fault.type == FaultType::kFlip ? 1 << (random() % 8)
                                                                              : random() % 256);
    }
    return faults;
}

using Table = std::map<std::pair<std::size_t, std::string>, Tally>;

// Runs the jobs on `threads` threads, each in its own scratch folder, tallied by kind and column.
Table RunJobs(const std::vector<Job>& jobs, const std::vector<CleanRun>& clean, long threads,
              const std::filesystem::path& scratch) {
    Table table;
    std::mutex lock;
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> workers;
    for (long t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            Campaign campaign(scratch / std::to_string(t));
            for (std::size_t i = next++; i < jobs.size(); i = next++) {
                const Job& job = jobs[i];
                const RunResult run = campaign.Run(Kinds()[job.kind], job.faults, clean[job.kind]);
                const std::lock_guard<std::mutex> guard(lock);
                table[{job.kind, job.column}].Add(run, Describe(job.faults));
                if (i % 1000 == 0) {
                    std::fprintf(stderr, "\r%zu/%zu runs", i, jobs.size());
                }
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    std::fprintf(stderr, "\r%zu/%zu runs\n", jobs.size(), jobs.size());
    return table;
}

void PrintRow(const char* kind, const char* column, const Tally& tally) {
    std::printf("%-26s %-12s %7ld %7ld %7ld %10ld %6ld %8ld %7.0fs\n", kind, column, tally.runs,
                tally.whole, tally.clean, tally.violations, tally.limits, tally.overlong,
                tally.longest);
}

// The table, its total and the first violation of each row; true when no run broke the rule.
bool PrintTable(const Table& table) {
    std::printf("%-26s %-12s %7s %7s %7s %10s %6s %8s %8s\n", "kind", "fault", "runs", "whole",
                "failed", "violations", "limit", "overlong", "longest");
    Tally all;
    std::vector<std::string> examples;
    for (const auto& [key, tally] : table) {
        const std::string& kind = Kinds()[key.first].name;
        PrintRow(kind.c_str(), key.second.c_str(), tally);
        all.runs += tally.runs;
        all.whole += tally.whole;
        all.clean += tally.clean;
        all.violations += tally.violations;
        all.limits += tally.limits;
        all.overlong += tally.overlong;
        all.longest = std::max(all.longest, tally.longest);
        if (!tally.example.empty()) {
            examples.push_back(kind + ", " + tally.example);
        }
    }
    PrintRow("all", "", all);
    for (const std::string& example : examples) {
        std::printf("  first: %s\n", example.c_str());
    }
    return all.violations + all.overlong == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const long samples = Option(argc, argv, "--samples", 100000);
    const long threads = std::max(1L, Option(argc, argv, "--threads", 2));
    const long positions = std::max(1L, Option(argc, argv, "--positions", LONG_MAX));
    const std::string only = TextOption(argc, argv, "--kinds");
    std::mt19937 random(static_cast<unsigned>(Option(argc, argv, "--seed", 1)));
    const auto scratch =
        std::filesystem::temp_directory_path() / ("quenlo-faults-" + std::to_string(::getpid()));

    std::vector<std::size_t> kinds;
    std::vector<CleanRun> clean(Kinds().size());
    Campaign first(scratch / "clean");
    for (std::size_t k = 0; k < Kinds().size(); ++k) {
        if (Kinds()[k].name.find(only) != std::string::npos) {
            kinds.push_back(k);
            clean[k] = first.Clean(Kinds()[k]);
        }
    }
    std::vector<Job> jobs;
    for (const std::size_t k : kinds) {
        for (auto& faults : SingleFaults(clean[k], positions)) {
            const std::string column = FaultName(faults.front().type);
            jobs.push_back({k, std::move(faults), column});
        }
    }
    for (long n = 0; n < samples && !kinds.empty(); ++n) {
        const std::size_t k = kinds[random() % kinds.size()];
        jobs.push_back({k, RandomFaults(clean[k], random), "2-3 faults"});
    }
    const Table table = RunJobs(jobs, clean, threads, scratch);
    std::filesystem::remove_all(scratch);
    return PrintTable(table) ? 0 : 1;
}
