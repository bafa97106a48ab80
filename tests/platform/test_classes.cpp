#include <ferrolink/classes.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>

using namespace ferro;

// --- integer conversion ------------------------------------------------------

struct IntCase {
    const char* Text;
    std::int32_t Value;
};

void PrintTo(const IntCase& c, std::ostream* os)
{
    *os << "'" << c.Text << "'";
}

class StrToIntAccepts : public ::testing::TestWithParam<IntCase> {};

TEST_P(StrToIntAccepts, ReadsTheValue)
{
    EXPECT_EQ(StrToInt(GetParam().Text), GetParam().Value);
}

INSTANTIATE_TEST_SUITE_P(Texts, StrToIntAccepts,
    ::testing::Values(IntCase {"   5", 5}, IntCase {"0010", 10}, IntCase {"-001", -1}, IntCase {"+7", 7},
        IntCase {"9999", 9999}, IntCase {"$1F", 31}, IntCase {"$ff", 255}, IntCase {"  $10", 16},
        IntCase {"2147483647", 2147483647}, IntCase {"-2147483648", -2147483647 - 1}, IntCase {"$FFFFFFFF", -1}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

class StrToIntRefuses : public ::testing::TestWithParam<const char*> {};

TEST_P(StrToIntRefuses, WithTheTextInTheMessage)
{
    const std::string text = GetParam();
    try {
        StrToInt(text);
        FAIL() << "accepted '" << text << "'";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'" + text + "' is not a valid integer value");
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, StrToIntRefuses,
    ::testing::Values("5   ", "", "    ", "12a4", "0x10", "-", "$", "+-1", "- 1", "1 2", "2147483648", "-2147483649",
        "$100000000", "\t5", "5\r"),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST(RangeCheckedWord, AcceptsSixteenBitsAndRefusesTheRest)
{
    EXPECT_EQ(RangeCheckedWord(0), 0);
    EXPECT_EQ(RangeCheckedWord(65535), 65535);
    EXPECT_THROW(RangeCheckedWord(65536), ERangeError);
    EXPECT_THROW(RangeCheckedWord(-1), ERangeError);
    try {
        RangeCheckedWord(70000);
    } catch (const ERangeError& e) {
        EXPECT_STREQ(e.what(), "Range check error");
    }
}

// --- streams -----------------------------------------------------------------

TEST(MemoryStream, WritesReadsAndSeeks)
{
    TMemoryStream s;
    s.WriteBuffer("hello world", 11);
    EXPECT_EQ(s.Size(), 11);
    EXPECT_EQ(s.Position(), 11);
    s.SetPosition(6);
    char buf[16] = {};
    EXPECT_EQ(s.Read(buf, 16), 5);
    EXPECT_STREQ(buf, "world");
    s.Seek(-5, TSeekOrigin::soEnd);
    EXPECT_EQ(s.Position(), 6);
    EXPECT_THROW(s.ReadBuffer(buf, 6), EReadError);
}

TEST(FileStream, RefusesMissingAndUncreatableFilesWithTheirNames)
{
    try {
        TFileStream f("/nonexistent-folder/x.bmp", fmOpenRead);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_STREQ(e.what(), "Cannot open file /nonexistent-folder/x.bmp");
    }
    try {
        TFileStream f("/nonexistent-folder/x.bmp", fmCreate);
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_STREQ(e.what(), "Cannot create file /nonexistent-folder/x.bmp");
    }
}

TEST(FileStream, CreatesEmptiesAndReadsBack)
{
    // One file per process: the suite also runs on the other dispatcher at once.
    const auto path = (std::filesystem::temp_directory_path() / ("ferro_stream_test." + std::to_string(::getpid()) + ".bin")).string();
    {
        TFileStream out(path, fmCreate);
        out.WriteBuffer("0123456789", 10);
    }
    {
        TFileStream out(path, fmCreate); // empties the file
        out.WriteBuffer("abc", 3);
        out.Close();
    }
    TFileStream in(path, fmOpenRead);
    EXPECT_EQ(in.Size(), 3);
    TMemoryStream copy;
    copy.CopyFrom(in, 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(copy.Memory()), 3), "abc");
    in.Close();

    // Positions past 4 GiB (a sparse file): none is cut to 32 bits.
    constexpr std::int64_t kFar = (std::int64_t {5} << 30) + 7;
    {
        TFileStream far(path, fmOpenReadWrite);
        EXPECT_EQ(far.Seek(kFar, TSeekOrigin::soBeginning), kFar);
        far.WriteBuffer("z", 1);
        EXPECT_EQ(far.Size(), kFar + 1);
        EXPECT_EQ(far.Seek(-1, TSeekOrigin::soEnd), kFar);
        char back = 0;
        far.ReadBuffer(&back, 1);
        EXPECT_EQ(back, 'z');
    }
    std::remove(path.c_str());
}

// --- string lists ------------------------------------------------------------

TEST(StringList, BreaksAtEveryKindOfLineEnd)
{
    TStringList list;
    list.SetText("one\r\ntwo\nthree\rfour");
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(list.Strings[2], "three");
    EXPECT_EQ(list.Text(), "one\r\ntwo\r\nthree\r\nfour\r\n");
}

// --- components --------------------------------------------------------------

namespace {

struct Tracked : TComponent {
    Tracked(TComponent* owner, std::vector<std::string>& log, std::string name)
        : TComponent(owner), Log(log), Name(std::move(name))
    {
    }
    ~Tracked() override { Log.push_back("destroy " + Name); }
    void Loaded() override { Log.push_back("loaded " + Name); }
    std::vector<std::string>& Log;
    std::string Name;
};

} // namespace

TEST(Component, OwnerDestroysItsComponentsNewestFirst)
{
    std::vector<std::string> log;
    {
        TComponent form(nullptr);
        CreateOwned<Tracked>(&form, log, "a");
        CreateOwned<Tracked>(&form, log, "b");
        form.NotifyComponentsLoaded();
    }
    EXPECT_EQ(log, (std::vector<std::string> {"loaded a", "loaded b", "destroy b", "destroy a"}));
}

TEST(Component, ComponentDestroyedAloneLeavesItsOwner)
{
    std::vector<std::string> log;
    TComponent form(nullptr);
    auto* a = CreateOwned<Tracked>(&form, log, "a");
    delete a;
    EXPECT_TRUE(form.Components().empty());
}

TEST(Component, DesignModeIsInheritedFromTheOwner)
{
    TComponent designer(nullptr);
    designer.SetDesigning(true);
    TComponent child(&designer);
    EXPECT_TRUE(child.DesignMode());
}
