// The scratch directory that every test uses: made fresh, removed with its whole tree.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>

#include "vdev/TempDir.h"

namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

TEST(TempDir, RemovesItsTreeButNotWhatItsLinksPointAt) {
    vdev::TempDir outside;
    const std::string target = outside.Join("kept.txt");
    std::ofstream(target) << "kept";

    auto dir = std::make_unique<vdev::TempDir>();
    const std::string root = dir->path();
    ASSERT_FALSE(root.empty());
    EXPECT_NE(root, vdev::TempDir().path()) << "every directory is a fresh one";
    ASSERT_TRUE(dir->MakeDirectories("a/b/c"));
    ASSERT_TRUE(dir->MakeDirectories("a/b")) << "an existing directory is fine";
    std::ofstream(dir->Join("a/b/c/file.bin")) << "data";
    std::ofstream(dir->Join("top.txt")) << "data";
    ASSERT_EQ(symlink(target.c_str(), dir->Join("a/link").c_str()), 0);
    ASSERT_EQ(symlink(outside.path().c_str(), dir->Join("dirlink").c_str()), 0);
    ASSERT_EQ(chmod(dir->Join("a/b").c_str(), 0500), 0);  // left without write rights
    EXPECT_FALSE(dir->MakeDirectories("top.txt/d")) << "a file is in the way";

    dir.reset();
    EXPECT_FALSE(Exists(root));
    EXPECT_TRUE(Exists(target)) << "links are removed, never followed";
}

}  // namespace
