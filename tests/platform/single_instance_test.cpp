#include "platform/single_instance.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "support/temp_dir.hpp"

namespace tapfix::test {
namespace {

using platform::SingleInstanceLock;
constexpr std::string_view kName = "QVOMDM9215,BEB76632-0DFF-4771-B3A1-55DBFF6C6BAB";

TEST(SingleInstanceLock, SecondHolderIsRefusedUntilTheFirstHasGone) {
    TempDir dir;
    const std::filesystem::path folder = dir.Path() / "runtime";
    std::string error;
    auto first = std::make_unique<SingleInstanceLock>();
    ASSERT_EQ(first->Acquire(folder, kName, error), SingleInstanceLock::Outcome::Acquired) << error;
    EXPECT_TRUE(std::filesystem::exists(folder / (std::string(kName) + ".lock")));

    SingleInstanceLock second;
    EXPECT_EQ(second.Acquire(folder, kName, error), SingleInstanceLock::Outcome::HeldElsewhere);
    EXPECT_FALSE(second.Held());
    SingleInstanceLock otherName;
    EXPECT_EQ(otherName.Acquire(folder, "another-program", error),
              SingleInstanceLock::Outcome::Acquired);

    first.reset();
    EXPECT_EQ(second.Acquire(folder, kName, error), SingleInstanceLock::Outcome::Acquired);
    EXPECT_TRUE(second.Held());
}

TEST(SingleInstanceLock, FolderThatCannotHoldTheLockFileFailsWithAReason) {
    TempDir dir;
    const std::filesystem::path notAFolder = dir.Path() / "file";
    std::ofstream(notAFolder) << "x";
    SingleInstanceLock lock;
    std::string error;
    EXPECT_EQ(lock.Acquire(notAFolder, kName, error), SingleInstanceLock::Outcome::Failed);
    EXPECT_NE(error.find(notAFolder.string()), std::string::npos) << error;
    EXPECT_EQ(lock.Acquire({}, kName, error), SingleInstanceLock::Outcome::Failed);
    EXPECT_FALSE(lock.Held());
}

TEST(SingleInstanceLock, LockFileIsNotFollowedThroughASymlink) {
    TempDir dir;
    std::filesystem::create_symlink(dir.Path() / "elsewhere",
                                    dir.Path() / (std::string(kName) + ".lock"));
    SingleInstanceLock lock;
    std::string error;
    EXPECT_EQ(lock.Acquire(dir.Path(), kName, error), SingleInstanceLock::Outcome::Failed);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "elsewhere"));
}

TEST(SingleInstanceLock, LivesInTheRuntimeFolderElseBesideTheWorkFolder) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string previous = saved != nullptr ? saved : "";
    struct Case {
        const char* runtime;
        std::filesystem::path work;
        std::filesystem::path expected;
    };
    const Case cases[] = {
        {"/run/user/1000", "/home/u/.local/state/tapfix/TapfixUpdate/", "/run/user/1000"},
        {nullptr, "/home/u/.local/state/tapfix/TapfixUpdate/", "/home/u/.local/state/tapfix"},
        {nullptr, "/srv/work", "/srv"},
        {"relative", "/srv/work/", "/srv"},
    };
    for (const Case& c : cases) {
        if (c.runtime != nullptr) {
            ::setenv("XDG_RUNTIME_DIR", c.runtime, 1);
        } else {
            ::unsetenv("XDG_RUNTIME_DIR");
        }
        EXPECT_EQ(SingleInstanceLock::DefaultFolder(c.work), c.expected) << c.work;
    }
    if (saved != nullptr) {
        ::setenv("XDG_RUNTIME_DIR", previous.c_str(), 1);
    } else {
        ::unsetenv("XDG_RUNTIME_DIR");
    }
}

}  // namespace
}  // namespace tapfix::test
