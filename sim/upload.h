#pragma once

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "protocol/block_sender.h"

namespace quenlo::sim {

// What the handheld uploads from a file on disk: its name, its lines as records cut and filled to
// the record length of its kind, and for a data file the field widths, from `fields` ("10,5,20")
// or else from the "fields" line of the field file beside it (NAME.FLD).
std::optional<protocol::Upload> LoadUpload(const std::filesystem::path& file,
                                           const std::string& fields, std::string& error);

// A file on disk as a YMODEM sender reads it, piece by piece.
class PathSource : public protocol::FileSource {
  public:
    // Nothing (and error set) when the file cannot be read.
    static std::unique_ptr<PathSource> Open(const std::filesystem::path& file, std::string& error);
    std::string Name() const override { return name_; }
    std::uint64_t Size() const override { return size_; }
    bool Read(std::uint64_t offset, std::size_t length, std::string& out,
              std::string& error) override;

  private:
    PathSource() = default;
    std::ifstream in_;
    std::string name_;
    std::uint64_t size_ = 0;
};

}  // namespace quenlo::sim
