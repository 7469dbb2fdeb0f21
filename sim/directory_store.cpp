#include "sim/directory_store.h"

#include "protocol/line_text.h"

namespace quenlo::sim {

std::unique_ptr<DirectoryStore> DirectoryStore::Open(const std::filesystem::path& dir,
                                                     std::string& error) {
    disk::Failure failure;
    auto opened = disk::Directory::Open(dir, failure);
    if (!opened) {
        error = failure.what;
        return nullptr;
    }
    opened->RemoveLeftovers();
    return std::unique_ptr<DirectoryStore>(new DirectoryStore(std::move(opened)));
}

bool DirectoryStore::Begin(const std::string& name, std::string& error) {
    disk::Failure failure;
    buffer_.clear();
    pending_ = dir_->Create(Latin1ToUtf8(name), failure);
    error = failure.what;
    return pending_ != nullptr;
}

bool DirectoryStore::Append(std::string_view bytes, std::string& error) {
    if (!pending_) {
        return false;
    }
    buffer_.append(bytes);
    return buffer_.size() < kBufferBytes || Flush(error);
}

bool DirectoryStore::Flush(std::string& error) {
    disk::Failure failure;
    const bool written = pending_ && pending_->Write(buffer_, failure);
    buffer_.clear();
    error = failure.what;
    return written;
}

bool DirectoryStore::Commit(std::string& error) {
    disk::Failure failure;
    const bool kept = Flush(error) && pending_->Commit(failure);
    pending_.reset();
    if (error.empty()) {
        error = failure.what;
    }
    return kept;
}

void DirectoryStore::Abandon() {
    buffer_.clear();
    pending_.reset();
}

}  // namespace quenlo::sim
