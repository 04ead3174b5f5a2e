#include "platform/file_io.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "support/file_bytes.hpp"
#include "support/temp_dir.hpp"

namespace tapfix::platform {
namespace {

namespace fs = std::filesystem;

unsigned ModeOf(const fs::path& file) {
    struct stat info {};
    EXPECT_EQ(::stat(file.c_str(), &info), 0) << file;
    return info.st_mode & 0777;
}

TEST(AtomicFileTest, CreatesTheFileWithTheRequestedPermissionsEvenOverAnOldTemporary) {
    test::TempDir dir;
    const fs::path file = dir.Path() / "Channel0.nv";
    // An interrupted writer left its temporary, readable by everyone.
    const fs::path leftover = dir.Path() / ".Channel0.nv.partial";
    std::ofstream(leftover) << "half";
    fs::permissions(leftover, fs::perms(0644));

    std::string error;
    ASSERT_TRUE(WriteFileAtomically(file, "whole", error, kPrivateFile)) << error;
    EXPECT_EQ(test::ReadFileBytes(file), "whole");
    EXPECT_EQ(ModeOf(file), 0600u);
    EXPECT_FALSE(fs::exists(leftover));
}

TEST(AtomicFileTest, AnUncommittedFileLeavesTheTargetAsItWas) {
    test::TempDir dir;
    const fs::path file = dir.Path() / "wifi_mac";
    test::WriteFileBytes(file, "old");
    std::string error;
    {
        AtomicFile out;
        ASSERT_TRUE(out.Open(file, error, kPrivateFile)) << error;
        ASSERT_TRUE(out.Write("new", error)) << error;
    }
    EXPECT_EQ(test::ReadFileBytes(file), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace tapfix::platform
