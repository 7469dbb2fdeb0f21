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
    pending_ = dir_->Create(Latin1ToUtf8(name), failure);
    error = failure.what;
    return pending_ != nullptr;
}

bool DirectoryStore::Append(std::string_view bytes, std::string& error) {
    disk::Failure failure;
    if (!pending_ || !pending_->Write(bytes, failure)) {
        error = failure.what;
        return false;
    }
    return true;
}

bool DirectoryStore::Commit(std::string& error) {
    disk::Failure failure;
    const bool kept = pending_ && pending_->Commit(failure);
    pending_.reset();
    error = failure.what;
    return kept;
}

}  // namespace quenlo::sim
