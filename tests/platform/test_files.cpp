// Files of the platform: body files kept by their folder's number or gone
// with their stream, durable writes, and pins read as people write them.
#include <ferrolink/durablefile.h>
#include <ferrolink/folders.h>
#include <ferrolink/tempfilestream.h>
#include <ferrolink/tls.h>

#include "temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

using namespace ferro;

namespace {

std::string Contents(TStream& stream)
{
    std::string bytes(static_cast<std::size_t>(stream.Size()), '\0');
    stream.SetPosition(0);
    stream.ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    return bytes;
}

} // namespace

// A body file made in a folder by its number, nameless or hidden under a
// name of its own: kept under its name, never over a file, or gone with the
// stream; one made by the folder's path reads back what was written.
TEST(TempFileStream, IsKeptUnderItsNameOrLeavesNothingBehind)
{
    const TTempFolder folder;
    const int fd = OpenFolder(folder.Path.string());
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(TTempFileStream::NamelessCanBeKept(fd));
    for (const bool named : {false, true}) {
        const std::string name = named ? "named.bin" : "nameless.bin";
        {
            TTempFileStream kept(fd, folder.Path.string(), named);
            ASSERT_TRUE(kept.CanKeep());
            kept.WriteBuffer("body", 4);
            EXPECT_TRUE(kept.Keep(fd, name)) << named;
            TTempFileStream second(fd, folder.Path.string(), named);
            EXPECT_FALSE(second.Keep(fd, name)) << "never replaces a file";
            TTempFileStream dropped(fd, folder.Path.string(), named);
            dropped.WriteBuffer("x", 1);
        }
        EXPECT_EQ(std::filesystem::file_size(folder.Path / name), 4u) << named;
    }
    {
        TTempFileStream trial(fd, folder.Path.string(), false);
        trial.WriteBuffer("t", 1);
        ASSERT_TRUE(trial.Keep(fd, "trial"));
        EXPECT_TRUE(RemoveFileIn(fd, "trial")) << "a kept file is removed while its stream is open";
    }
    {
        TTempFileStream byPath(folder.Path.string());
        byPath.WriteBuffer("abcdef", 6);
        EXPECT_EQ(byPath.Seek(2, TSeekOrigin::soBeginning), 2);
        byPath.WriteBuffer("XY", 2);
        EXPECT_EQ(Contents(byPath), "abXYef");
    }
    EXPECT_EQ(folder.Names(), (std::vector<std::string> {"named.bin", "nameless.bin"}));
    CloseFolder(fd);
    EXPECT_LT(OpenFolder((folder.Path / "named.bin").string()), 0) << "a file is no folder";
    EXPECT_LT(OpenFolder((folder.Path / "none").string()), 0);
}

// A folder's files and folders by the folder's number: what is made is
// listed, opened, renamed (never over a file) and removed; a file or a link
// is never opened as a folder.
TEST(Folders, AreMadeListedRenamedAndRemovedByNumberWithoutFollowingLinks)
{
    const TTempFolder folder;
    const int top = OpenFolder(folder.Path.string());
    ASSERT_GE(top, 0);
    ASSERT_TRUE(MakeFolderIn(top, "inner", 0777));
    EXPECT_FALSE(MakeFolderIn(top, "inner", 0777));
    EXPECT_EQ(errno, EEXIST);
    const int inner = OpenFolderIn(top, "inner");
    ASSERT_GE(inner, 0);
    {
        TDurableFile file(inner, ".f-", "f");
        TMemoryStream bytes = [] { TMemoryStream m; m.WriteBuffer("12345", 5); m.SetPosition(0); return m; }();
        file.Write(bytes, 5);
        file.Finish(true);
        ASSERT_TRUE(file.Commit("a.bin", false));
    }
    auto opened = TFolderFile::Open(inner, "a.bin");
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->Size(), 5);
    opened->Seek(0, TSeekOrigin::soEnd);
    opened->WriteBuffer("67", 2);
    opened->Flush();
    EXPECT_EQ(Contents(*opened), "1234567");
    EXPECT_TRUE(RenameNoReplace(inner, "a.bin", top, "b.bin")) << "renamed while open";
    ASSERT_TRUE(MakeFolderIn(top, "c.bin", 0777));
    EXPECT_FALSE(RenameNoReplace(top, "b.bin", top, "c.bin"));
    opened.reset();
    EXPECT_EQ(TFolderFile::Open(top, "c.bin"), nullptr) << "a folder is no file";
    EXPECT_EQ(TFolderFile::Open(top, "none"), nullptr);
    EXPECT_LT(OpenFolderIn(top, "b.bin"), 0);
    EXPECT_EQ(errno, ENOTDIR);
    std::error_code linked;
    std::filesystem::create_directory_symlink(folder.Path / "inner", folder.Path / "link", linked);
    if (!linked) { // where links can be made (not every system lets a user)
        EXPECT_LT(OpenFolderIn(top, "link"), 0);
        EXPECT_EQ(errno, ELOOP);
    }
    std::vector<std::string> listed;
    for (const TFolderEntry& entry : FolderEntries(top))
        listed.push_back(entry.Name + (entry.IsFile ? ":" + std::to_string(entry.Size) : "/"));
    std::sort(listed.begin(), listed.end());
    std::vector<std::string> expected {"b.bin:7", "c.bin/", "inner/"};
    if (!linked)
        expected.push_back("link/"); // a link is listed, never as a file
    EXPECT_EQ(listed, expected);
    EXPECT_TRUE(RemoveFileIn(top, "b.bin"));
    EXPECT_FALSE(RemoveFileIn(top, "b.bin"));
    CloseFolder(inner);
    CloseFolder(top);
}

// A durable write puts the whole file under its name or leaves the old one
// as it was, and nothing of its own beside it.
TEST(DurableWrite, ReplacesOnlyWhenAskedAndLeavesNoPartBehind)
{
    const TTempFolder folder;
    const std::string target = (folder.Path / "picture.bmp").string();
    TMemoryStream first, second;
    first.WriteBuffer("first", 5);
    second.WriteBuffer("second!", 7);
    first.SetPosition(0);
    EXPECT_TRUE(WriteDurably(target, first, 5, false, true));
    second.SetPosition(0);
    EXPECT_FALSE(WriteDurably(target, second, 7, false, true)) << "not over a file unless asked";
    EXPECT_EQ(std::filesystem::file_size(target), 5u);
    second.SetPosition(0);
    EXPECT_TRUE(WriteDurably(target, second, 7, true, true));
    EXPECT_EQ(std::filesystem::file_size(target), 7u);
    second.SetPosition(0);
    EXPECT_THROW(WriteDurably(target, second, 8, true, false), EReadError) << "a source that runs short";
    EXPECT_EQ(std::filesystem::file_size(target), 7u);
    EXPECT_THROW(WriteDurably((folder.Path / "none" / "x").string(), second, 1, true, false), EFCreateError);
    EXPECT_EQ(folder.Names(), std::vector<std::string> {"picture.bmp"});
}

TEST(Fingerprints, AreReadInTheFormsPeopleCopyAndNothingElse)
{
    const std::string upper = "BB:08:CB:CF:BF:8E:31:0D:ED:77:29:41:C7:DB:28:19:C1:5C:2D:34:C5:DF:8F:7F:55:C6:0D:B0:4D:3A:35:08";
    std::string lowerBare;
    for (const char c : upper)
        if (c != ':')
            lowerBare += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string& text : {upper, lowerBare, " sha256 Fingerprint=" + upper + "\n", "SHA256:" + lowerBare}) {
        TFingerprint read {};
        EXPECT_TRUE(ParseFingerprint(text, read)) << text;
        EXPECT_EQ(FingerprintText(read), upper) << text;
    }
    const std::string refused[] = {
        "", upper.substr(3), upper + ":00", lowerBare + "0", upper.substr(0, 94) + "G",
        upper.substr(0, 2) + "-" + upper.substr(3),          // another separator
        upper.substr(0, 3) + lowerBare.substr(2),            // colons in part
        "sha1 Fingerprint=" + upper,                          // another digest's label
    };
    for (const std::string& text : refused) {
        TFingerprint untouched {};
        untouched.fill(7);
        TFingerprint read = untouched;
        EXPECT_FALSE(ParseFingerprint(text, read)) << text;
        EXPECT_EQ(read, untouched) << text;
    }
}
