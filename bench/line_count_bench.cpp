// Counting the records of the largest file the engine will send: 32767 lines of 126 characters,
// about 4 MB. A run checks every file before it opens the port, so this sets the wait before
// "Establish Link" appears.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>

#include <unistd.h>

#include "base/host.h"
#include "base/run_state.h"
#include "files/field_file.h"

namespace {

constexpr int kLines = 32767;
constexpr std::size_t kLineLength = 126;

// Test_File asks nothing of the host; this one only has to exist.
class QuietHost : public quenlo::Host {
  public:
    void Yield(std::chrono::milliseconds /*maxWait*/) override {}
    double ClockSeconds() override { return 0.0; }
    void SleepMs(std::int32_t /*milliseconds*/) override {}
    void ShowMessage(const std::string& /*title*/, const std::string& /*text*/,
                     quenlo::MessageIcon /*icon*/) override {}
    bool AskYesNo(const std::string& /*title*/, const std::string& /*text*/) override {
        return false;
    }
    std::optional<std::uint64_t> FreeSpace(const std::filesystem::path& /*directory*/) override {
        return std::nullopt;
    }
    quenlo::LocalDateTime Now() override { return {}; }
    std::string CurrentDirectory() override { return "./"; }
};

// The file to count, in a directory of its own that goes away with it.
class LargeFile {
  public:
    LargeFile() {
        directory_ =
            std::filesystem::temp_directory_path() / ("quenlo-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(directory_);
        std::ofstream out(directory_ / "DATA.TXT", std::ios::binary);
        std::string line;
        for (std::size_t i = 0; i < kLineLength; ++i) {
            line.push_back(static_cast<char>('A' + i % 26));
        }
        line += "\r\n";
        for (int i = 0; i < kLines; ++i) {
            out << line;
        }
    }
    ~LargeFile() {
        std::error_code ec;
        std::filesystem::remove_all(directory_, ec);
    }
    LargeFile(const LargeFile&) = delete;
    LargeFile& operator=(const LargeFile&) = delete;

    std::string enginePath() const { return directory_.string() + "/"; }
    std::uintmax_t size() const { return std::filesystem::file_size(directory_ / "DATA.TXT"); }

  private:
    std::filesystem::path directory_;
};

void BM_TestFileLargestFile(benchmark::State& bench) {
    const LargeFile file;
    QuietHost host;
    quenlo::RunState state(host);
    state.filePath = file.enginePath();
    state.fileName = "DATA.TXT";
    for (auto _ : bench) {
        const quenlo::ResultCode result = quenlo::Test_File(state);
        if (result != quenlo::result::kOk || state.recordCount != kLines) {
            bench.SkipWithError("Test_File did not count the file");
            break;
        }
        benchmark::DoNotOptimize(state.recordCount);
    }
    bench.SetBytesProcessed(static_cast<std::int64_t>(bench.iterations()) *
                            static_cast<std::int64_t>(file.size()));
    bench.counters["lines"] = kLines;
}
BENCHMARK(BM_TestFileLargestFile)->Unit(benchmark::kMillisecond);

}  // namespace
