// The one writer of every received file, over a real directory: whatever stands at a name, and
// however a write ends, the name holds the whole new file or exactly what it held, and nothing
// is written through a link or opens a FIFO.
#include "disk/directory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_dir.h"

namespace quenlo {
namespace {

namespace fs = std::filesystem;

using testing::Planted;

enum class End { kCommit, kAbandon, kSignal };

struct Row {
    Planted plant;
    const char* earlier;  // a planted file's bytes
    bool append;
    End end;
    const char* after;  // what NAME holds after, or "refused" when nothing was begun
};

// clang-format off
const Row kRows[] = {
    {Planted::kNothing, "", false, End::kCommit, "NEW"},
    {Planted::kNothing, "", false, End::kAbandon, "-"},
    {Planted::kFile, "OLD\n", false, End::kCommit, "NEW"},
    {Planted::kFile, "OLD\n", false, End::kAbandon, "OLD\n"},
    {Planted::kFile, "OLD\n", true, End::kCommit, "OLD\nNEW"},
    {Planted::kFile, "OLD\n", true, End::kAbandon, "OLD\n"},
    {Planted::kFile, "", true, End::kAbandon, ""},
    {Planted::kFile, "OLD\n", false, End::kSignal, "OLD\n"},
    {Planted::kFile, "OLD\n", true, End::kSignal, "OLD\n"},
    // A link is replaced itself; appending through one is refused.
    {Planted::kLink, "", false, End::kCommit, "NEW"},
    {Planted::kLink, "", false, End::kAbandon, "link"},
    {Planted::kDangling, "", false, End::kCommit, "NEW"},
    {Planted::kLink, "", true, End::kCommit, "refused"},
    // What is no file is refused, never opened.
    {Planted::kFifo, "", false, End::kCommit, "refused"},
    {Planted::kFifo, "", true, End::kCommit, "refused"},
    {Planted::kDirectory, "", false, End::kCommit, "refused"},
};
// clang-format on

class DiskTest : public ::testing::Test {
  protected:
    fs::path At(const std::string& name) const { return dir.path() / name; }
    std::string Held(const std::string& name) const { return dir.Held(name); }
    std::unique_ptr<disk::Directory> Open(const fs::path& path) {
        disk::Failure failure;
        auto opened = disk::Directory::Open(path, failure);
        EXPECT_NE(opened, nullptr) << failure.what;
        return opened;
    }

    testing::TempDir dir;
    testing::TempDir outside;  // where links lead: must never change
};

TEST_F(DiskTest, EveryNameHoldsTheWholeNewFileOrWhatItHeld) {
    for (const Row& row : kRows) {
        SCOPED_TRACE("row " + std::to_string(&row - std::begin(kRows)));
        fs::remove_all(dir.path());
        fs::create_directory(dir.path());
        outside.Write("TARGET", "KEEP");
        fs::remove(outside.path() / "GONE");
        dir.Plant("NAME", row.plant, row.earlier,
                  outside.path() / (row.plant == Planted::kDangling ? "GONE" : "TARGET"));
        const std::string before = Held("NAME");
        auto folder = Open(dir.path());
        disk::Failure failure;
        auto file = row.append ? folder->Append("NAME", failure) : folder->Create("NAME", failure);
        if (std::string(row.after) == "refused") {
            EXPECT_EQ(file, nullptr);
            EXPECT_NE(failure.what.find("NAME"), std::string::npos) << failure.what;
            EXPECT_EQ(Held("NAME"), before);
        } else {
            ASSERT_NE(file, nullptr) << failure.what;
            ASSERT_TRUE(file->Write("NE", failure));
            ASSERT_TRUE(file->Write("W", failure));
            if (row.end == End::kCommit) {
                EXPECT_TRUE(file->Commit(failure)) << failure.what;
            } else if (row.end == End::kSignal) {
                disk::AbandonAllPending();  // what a second Ctrl-C does before the program ends
                EXPECT_EQ(Held("NAME"), row.after);
            }
            file.reset();
            EXPECT_EQ(Held("NAME"), row.after);
        }
        EXPECT_EQ(outside.Read("TARGET"), "KEEP");
        EXPECT_FALSE(fs::exists(outside.path() / "GONE"));
        // Nothing but the name itself is left in the folder.
        EXPECT_EQ(folder->Names().size(), Held("NAME") == "-" ? 0u : 1u);
    }
}

TEST_F(DiskTest, TemporaryNamesAreNeverFollowedAndLeftoversOfDeadWritersGo) {
    // A link planted at the first temporary name is passed over, never written through.
    fs::create_symlink(outside.path() / "TARGET", At(disk::TemporaryName(::getpid(), 0)));
    outside.Write("TARGET", "KEEP");
    auto folder = Open(dir.path());
    disk::Failure failure;
    auto file = folder->Create("DATA.TXT", failure);
    ASSERT_NE(file, nullptr) << failure.what;
    ASSERT_TRUE(file->Write("WHOLE", failure) && file->Commit(failure));
    EXPECT_EQ(dir.Read("DATA.TXT"), "WHOLE");
    EXPECT_EQ(outside.Read("TARGET"), "KEEP");
    fs::remove(At(disk::TemporaryName(::getpid(), 0)));

    // Leftovers: one nobody holds goes, one a live writer holds stays, other names stay.
    dir.Write(disk::TemporaryName(1, 7), "DEAD");
    dir.Write(disk::TemporaryName(2, 7), "LIVE");
    dir.Write(".quenlo-notes", "MINE");
    const int live = ::open(At(disk::TemporaryName(2, 7)).c_str(), O_RDONLY);
    ASSERT_EQ(::flock(live, LOCK_EX), 0);
    auto pending = folder->Create("OTHER.TXT", failure);  // a writer of ours, live too
    folder->RemoveLeftovers();
    EXPECT_FALSE(fs::exists(At(disk::TemporaryName(1, 7))));
    EXPECT_TRUE(fs::exists(At(disk::TemporaryName(2, 7))));
    EXPECT_EQ(dir.Read(".quenlo-notes"), "MINE");
    EXPECT_EQ(folder->Names().size(), 4u);  // DATA.TXT, the live one, the notes, our pending one
    ::close(live);
}

TEST_F(DiskTest, AFolderSwappedForALinkHalfwayIsNotFollowed) {
    auto folder = Open(dir.path() / ".");
    fs::rename(dir.path(), dir.path().string() + "-moved");
    fs::create_symlink(outside.path(), dir.path());
    outside.Write("DATA.TXT", "KEEP");
    disk::Failure failure;
    auto file = folder->Create("DATA.TXT", failure);
    ASSERT_NE(file, nullptr) << failure.what;
    ASSERT_TRUE(file->Write("NEW", failure) && file->Commit(failure));
    EXPECT_EQ(outside.Read("DATA.TXT"), "KEEP");
    std::ifstream moved(dir.path().string() + "-moved/DATA.TXT");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(moved), {}), "NEW");
    fs::remove(dir.path());
    fs::rename(dir.path().string() + "-moved", dir.path());
}

}  // namespace
}  // namespace quenlo
