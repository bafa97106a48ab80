// Files of the Linux platform: the nameless body file kept by its folder's
// descriptor, and pins read as people write them.
#include <ferrolink/tempfilestream.h>
#include <ferrolink/tls.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

using namespace ferro;

// A body file made in a folder by its descriptor, nameless or (where a
// nameless one could not be named) hidden under a name of its own: kept
// under its name, or gone with the stream.
TEST(TempFileStream, IsKeptUnderItsNameOrLeavesNothingBehind)
{
    const auto folder = std::filesystem::temp_directory_path() / ("ferro_temp_test." + std::to_string(::getpid()));
    std::filesystem::create_directory(folder);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(TTempFileStream::NamelessCanBeKept(fd)); // this system has /proc
    for (const bool named : {false, true}) {
        const std::string name = named ? "named.bin" : "nameless.bin";
        {
            TTempFileStream kept(fd, folder.string(), named);
            ASSERT_TRUE(kept.CanKeep());
            kept.WriteBuffer("body", 4);
            EXPECT_TRUE(kept.Keep(fd, name)) << named;
            TTempFileStream second(fd, folder.string(), named);
            EXPECT_FALSE(second.Keep(fd, name)) << "never replaces a file";
            TTempFileStream dropped(fd, folder.string(), named);
            dropped.WriteBuffer("x", 1);
        }
        EXPECT_EQ(std::filesystem::file_size(folder / name), 4u) << named;
    }
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string> {"named.bin", "nameless.bin"}));
    ::close(fd);
    std::filesystem::remove_all(folder);
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
