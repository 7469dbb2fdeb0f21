#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quenlo {

// One open engine file: buffered line reading for the files the engine sends or reads, plain
// writing for the files it creates. Closed when destroyed.
class EngineFile {
  public:
    enum class Mode { kRead, kWrite, kAppend };

    // Opens path; on failure returns nullptr and sets error to the errno value.
    static std::unique_ptr<EngineFile> Open(const std::filesystem::path& path, Mode mode,
                                            int& error);

    ~EngineFile();
    EngineFile(const EngineFile&) = delete;
    EngineFile& operator=(const EngineFile&) = delete;

    // Reads the next text line without its end. A line ends at CR, CR LF or LF; a last line
    // without an end counts, a line end at the very end of the file adds no empty line.
    // Returns false at the end of the file. A read failure raises run-time error 57.
    bool ReadLine(std::string& line);

    // Counts the lines that ReadLine would still return, stopping as soon as the count
    // exceeds limit (so a huge file is not read to its end only to be refused).
    std::int64_t CountLines(std::int64_t limit);

    // Writes text; returns 0 or the errno value of the failure.
    int Write(std::string_view text);
    // Hands what was written to the system; returns 0 or the errno value of the failure.
    int Flush();
    // Flushes and closes; returns 0 or the errno value of the failure. Idempotent.
    int Close();

  private:
    EngineFile(std::FILE* file, Mode mode);
    // Refills the buffer; false at the end of the file.
    bool Fill();

    std::FILE* file_;
    Mode mode_;
    std::vector<char> buffer_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    bool afterCr_ = false;  // the last line ended at CR: an LF right after it belongs to it
};

}  // namespace quenlo
