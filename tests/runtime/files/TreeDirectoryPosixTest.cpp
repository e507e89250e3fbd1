// Directories of a tree job: listed with what each name is, and never
// entered, opened or written through a symbolic link planted at a name.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <vector>

#include "OutputPlace.h"
#include "TestTempDirectory.h"
#include "TreeDirectory.h"

using namespace tvkcrypt;

TEST(TreeDirectoryTest, LinksAreSeenNeverFollowed)
{
    tvk_test::TempDirectory dir;
    ASSERT_EQ(0, mkdir((dir / "root").c_str(), 0700));
    ASSERT_EQ(0, mkdir((dir / "root/sub").c_str(), 0700));
    ASSERT_EQ(0, mkdir((dir / "elsewhere").c_str(), 0700));
    std::ofstream(dir / "root/file") << "12345";
    std::ofstream(dir / "elsewhere/secret") << "secret";
    ASSERT_EQ(0, symlink("../elsewhere", (dir / "root/dirlink").c_str()));
    ASSERT_EQ(0, symlink("../elsewhere/secret", (dir / "root/filelink").c_str()));
    ASSERT_EQ(0, mkfifo((dir / "root/fifo").c_str(), 0600));

    TreeDirectory root;
    ASSERT_EQ(0, root.OpenRoot(dir / "root"));
    std::vector<TreeEntry> entries;
    ASSERT_EQ(0, root.List(entries));
    std::string listed;
    for (const TreeEntry& entry : entries) listed += entry.name + ":" + std::to_string(entry.kind) + " ";
    EXPECT_EQ(listed, "dirlink:2 fifo:3 file:0 filelink:2 sub:1 ");
    EXPECT_EQ(entries[2].size, 5u);

    TreeDirectory child;
    EXPECT_EQ(0, root.OpenChild("sub", child));
    EXPECT_EQ(child.Path(), dir / "root/sub");
    EXPECT_NE(0, root.OpenChild("dirlink", child));
    EXPECT_EQ(EEXIST, root.MakeChild("dirlink", 0700, child));
    EXPECT_EQ(0, root.MakeChild("sub", 0700, child));  // already there: fine

    FileHandle file;
    FileInfo info;
    EXPECT_EQ(0, root.OpenFile("file", file, info));
    EXPECT_EQ(info.size, 5u);
    EXPECT_EQ(kNotRegular, root.OpenFile("filelink", file, info));
    EXPECT_EQ(kNotRegular, root.OpenFile("fifo", file, info));  // refused, not waited on

    // an output at a planted link replaces the link, never its target
    OutputPlace place;
    ASSERT_EQ(0, place.LocateIn(root, "filelink"));
    EXPECT_EQ(OutputPlace::LINK, place.GetKind());
    ASSERT_EQ(0, place.LocateIn(root, "new"));
    EXPECT_EQ(OutputPlace::MISSING, place.GetKind());
}
