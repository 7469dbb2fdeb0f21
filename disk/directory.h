#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenlo::disk {

// Every file the loader or the simulated handheld writes goes through here, with one set of rules:
// a new file is written under a temporary name in its directory and renamed over its name only
// when whole, so a name holds either the whole new file or what it held before; a link at the
// name is replaced, never followed; a FIFO, a device or a directory there is never opened; the
// directory is held open and every name is worked relative to it, so a folder swapped for a link
// halfway through cannot send a write or a removal elsewhere.

// Why a file operation failed: the system's error (an errno value, on Windows the nearest one)
// and a sentence that names the file.
struct Failure {
    int error = 0;
    std::string what;
};

// What stands at a name, links not followed.
enum class EntryKind { kAbsent, kRegular, kLink, kDirectory, kOther };

struct Entry {
    EntryKind kind = EntryKind::kAbsent;
    std::uint64_t size = 0;  // of a regular file
};

// One file being written. Dropping it without Commit takes back everything it wrote.
class PendingFile {
  public:
    virtual ~PendingFile() = default;
    // Writes through to the system at once: a full disk shows at the write that does not fit.
    virtual bool Write(std::string_view bytes, Failure& failure) = 0;
    // Puts the file in place under its name, on the disk itself; after a failure nothing of it
    // stays. Once.
    virtual bool Commit(Failure& failure) = 0;
    // Takes back what was written: removes the new file, or cuts an appended one back to its
    // earlier size. Idempotent; nothing after Commit.
    virtual void Abandon() = 0;
    // The size of what was there before (appending), 0 for a new file.
    virtual std::uint64_t earlierSize() const = 0;
    // The last byte of the earlier content, when there is one.
    virtual std::optional<char> earlierLastByte() const = 0;
};

class Directory {
  public:
    // Opens the directory for the whole run; links in its path are followed here, once.
    static std::unique_ptr<Directory> Open(const std::filesystem::path& path, Failure& failure);
    virtual ~Directory() = default;

    const std::filesystem::path& path() const { return path_; }
    // Names are single components, UTF-8.
    virtual Entry Look(const std::string& name) const = 0;
    virtual std::vector<std::string> Names() const = 0;
    // A new file for `name`, in place only on Commit. Refused when the name holds anything but a
    // regular file or a link, or is absent.
    virtual std::unique_ptr<PendingFile> Create(const std::string& name, Failure& failure) = 0;
    // Appends to the regular file `name` in place; a missing one is created as by Create. Refused
    // for anything else at the name, a link included (appending would write through it), and
    // while another program appends to it.
    virtual std::unique_ptr<PendingFile> Append(const std::string& name, Failure& failure) = 0;
    // Removes the temporary files that writers killed outright left here; never one that a live
    // writer holds.
    virtual void RemoveLeftovers() = 0;

  protected:
    explicit Directory(std::filesystem::path path) : path_(std::move(path)) {}

  private:
    std::filesystem::path path_;
};

// How many temporary names a writer tries before it gives up: each one taken already (by a file
// of another writer, or by whatever was planted there) only makes it take the next.
inline constexpr int kTemporaryTries = 1000;

// The temporary name of a Directory's n-th file (counted from 0 for each): hidden, longer than any
// received name may be, and with two dots, which none may have.
std::string TemporaryName(unsigned long processId, unsigned n);
// Whether a name in a directory is one of our temporary names.
bool IsTemporaryName(std::string_view name);

// Takes back every file still being written, from a signal handler: only calls that are safe
// there. For a program about to end at once (a second Ctrl-C).
void AbandonAllPending() noexcept;

}  // namespace quenlo::disk
