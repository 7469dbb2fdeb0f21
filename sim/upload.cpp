#include "sim/upload.h"

#include <fstream>
#include <sstream>

#include "protocol/fields.h"
#include "protocol/file_kinds.h"
#include "protocol/heading.h"
#include "protocol/line_text.h"
#include "protocol/record_packing.h"

namespace quenlo::sim {
namespace {

// Widths separated by ",", ";" or blanks; nothing when one is not a width.
std::optional<std::vector<int>> Widths(const std::string& list) {
    std::vector<int> widths;
    std::string item;
    std::istringstream in(list);
    while (std::getline(in, item, ',')) {
        std::istringstream words(item);
        for (std::string word; words >> word;) {
            for (std::size_t start = 0; start <= word.size();) {
                const auto end = std::min(word.find(';', start), word.size());
                if (end > start) {
                    const auto width = DecimalValue(word.substr(start, end - start));
                    if (!width || *width < 1 || *width > kMaxFieldWidth) {
                        return std::nullopt;
                    }
                    widths.push_back(*width);
                }
                start = end + 1;
            }
        }
    }
    return widths;
}

std::optional<std::string> FieldsLine(const std::filesystem::path& fieldFile) {
    std::ifstream in(fieldFile, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (line.size() > 7 &&
            (line.compare(0, 7, "fields ") == 0 || line.compare(0, 7, "FIELDS ") == 0)) {
            return line.substr(7);
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<protocol::Upload> LoadUpload(const std::filesystem::path& file,
                                           const std::string& fields, std::string& error) {
    protocol::Upload upload;
    upload.name = Utf8ToLatin1(file.filename().string());
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "cannot read " + file.string();
        return std::nullopt;
    }
    std::size_t length = 0;
    if (const ProgramKind* kind = ProgramKindOf(ExtensionOf(upload.name))) {
        length = static_cast<std::size_t>(kind->recordLength);
    } else {
        upload.programFile = false;
        auto list = fields.empty()
                        ? FieldsLine(std::filesystem::path(file).replace_extension(".FLD"))
                        : std::optional<std::string>(fields);
        const auto widths = list ? Widths(*list) : std::nullopt;
        if (!widths || widths->empty() || widths->size() > kMaxFields) {
            error = "no field widths for " + file.string() + " (give --fields or NAME.FLD)";
            return std::nullopt;
        }
        upload.fieldLengths = *widths;
        for (const int width : *widths) {
            length += static_cast<std::size_t>(width);
        }
    }
    std::ostringstream content;
    content << in.rdbuf();
    const std::string text = content.str();
    // Lines end at CR LF, CR or LF, as the loader reads them.
    for (std::size_t start = 0; start < text.size();) {
        const auto end = std::min(text.find_first_of("\r\n", start), text.size());
        std::string line = text.substr(start, end - start);
        line.resize(std::min(line.size(), length));
        upload.records.push_back(FilledRecord(std::move(line), length, upload.programFile));
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    if (upload.records.size() > static_cast<std::size_t>(kMaxRecords)) {
        error = file.string() + " has more than 32767 lines";
        return std::nullopt;
    }
    return upload;
}

std::unique_ptr<PathSource> PathSource::Open(const std::filesystem::path& file,
                                             std::string& error) {
    std::unique_ptr<PathSource> source(new PathSource);
    std::error_code ec;
    source->size_ = std::filesystem::file_size(file, ec);
    source->in_.open(file, std::ios::binary);
    if (ec || !source->in_) {
        error = "cannot read " + file.string();
        return nullptr;
    }
    source->name_ = Utf8ToLatin1(file.filename().string());
    return source;
}

bool PathSource::Read(std::uint64_t offset, std::size_t length, std::string& out,
                      std::string& error) {
    out.resize(length);
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset));
    in_.read(out.data(), static_cast<std::streamsize>(length));
    out.resize(static_cast<std::size_t>(in_.gcount()));
    if (in_.bad()) {
        error = "cannot read " + name_;
        return false;
    }
    return true;
}

}  // namespace quenlo::sim
