#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "disk/directory.h"

namespace quenlo {

// One open engine file: buffered line reading for the files the engine sends or reads; for the
// files it writes, a file of the disk writer, which closing keeps and dropping takes back.
class EngineFile {
  public:
    // Opens path for reading; on failure returns nullptr and sets error to the errno value.
    static std::unique_ptr<EngineFile> Open(const std::filesystem::path& path, int& error);
    // Writes text lines to `pending`. Appended lines start on a line of their own.
    static std::unique_ptr<EngineFile> Writing(std::unique_ptr<disk::PendingFile> pending);

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

    // Writes text through to the system; returns 0 or the errno value of the failure.
    int Write(std::string_view text);
    // Closes; a written file is put in place whole. Returns 0 or the errno value of the failure
    // (the file written is then gone). Idempotent.
    int Close();
    // What the last failure was, naming the file.
    const std::string& failure() const { return failure_; }

  private:
    explicit EngineFile(std::FILE* file);
    explicit EngineFile(std::unique_ptr<disk::PendingFile> pending);
    // Refills the buffer; false at the end of the file.
    bool Fill();

    std::FILE* file_ = nullptr;
    std::unique_ptr<disk::PendingFile> pending_;
    bool lineEndFirst_ = false;  // appending to text that does not end its last line
    std::string failure_;
    std::vector<char> buffer_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    bool afterCr_ = false;  // the last line ended at CR: an LF right after it belongs to it
};

}  // namespace quenlo
