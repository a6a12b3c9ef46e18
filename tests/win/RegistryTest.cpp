// The registry record in the prefix's real registry: stored by the
// identification, read back, of other types and sizes, and without its key.
#include "serial/SerialLink.h"
#include "support/Harness.h"
#include "tests/UserTexts.h"
#include "update/Registry.h"

#include <gtest/gtest.h>

using namespace qvtest;

namespace
{
class Registry : public RunTest
{
protected:
    void SetUp() override { DeleteMarkerKey(); }
    void TearDown() override { DeleteMarkerKey(); }
};
}  // namespace

// A value "Data" that cannot be read as the record (eight bytes): the run
// identifies the unit and stores the record as a 4-byte REG_DWORD in its place.
TEST_F(Registry, FirstRunIdentifiesStoresTheMarkerAndGoesOnToWriting)
{
    SetMarkerRaw(REG_QWORD, std::string("\x30\x0c\x00\x00\x00\x00\x00\x00", 8));
    RunOnce("", {IDOK, IDCANCEL});

    auto seen = boxes.Boxes();
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(kConnectText, seen[0].text);
    EXPECT_EQ(kCaption, seen[0].caption);
    EXPECT_EQ(BoxIcon::Information, seen[0].icon);
    EXPECT_TRUE(seen[0].hasCancel);
    EXPECT_EQ(kWritingModeText, seen[1].text);

    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(GetMarkerRaw(type, bytes));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(std::string("\x30\x0c\x00\x00", 4), bytes);
    EXPECT_EQ(";;;TY;", log.fromPc());
    ExpectIdleAfterRun(t);
}

TEST_F(Registry, WithoutTheKeyIdentificationWorksButTheNextRunAsksAgain)
{
    RunOnce("", {IDOK, IDCANCEL});
    auto seen = boxes.Boxes();
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(kConnectText, seen[0].text);
    // The failed read-back leaves the 3120 of this run: the writing stage
    // follows at once.
    EXPECT_EQ(kWritingModeText, seen[1].text);
    DWORD type = 0;
    std::string bytes;
    EXPECT_FALSE(GetMarkerRaw(type, bytes)) << "the key is never created";

    RunOnce("", {IDCANCEL});
    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ(kConnectText, boxes.Boxes()[0].text);
    ExpectIdleAfterRun(t);
}

// An identification that fails stores nothing: another value stays as it
// was, its type and bytes.
TEST_F(Registry, FailedIdentificationLeavesAnotherValueAsItWas)
{
    for (const auto& [type, value] : {std::pair<DWORD, std::string>{REG_DWORD, std::string("\x07\0\0\0", 4)},
                                      std::pair<DWORD, std::string>{REG_SZ, std::string("3120", 5)}})
    {
        SetMarkerRaw(type, value);
        RunOnce("--silent");
        ASSERT_EQ(2u, boxes.Boxes().size());
        EXPECT_EQ(kNotDetectedText, boxes.Boxes()[1].text);
        DWORD typeAfter = 0;
        std::string valueAfter;
        ASSERT_TRUE(GetMarkerRaw(typeAfter, valueAfter));
        EXPECT_EQ(type, typeAfter);
        EXPECT_EQ(value, valueAfter);
    }
}

TEST_F(Registry, MarkerOfAnotherTypeOrSizeIsReadWithinItsFourBytes)
{
    struct Guarded
    {
        DWORD before;
        DWORD marker;
        DWORD after;
    };
    const struct
    {
        const char* what;
        DWORD type;
        std::string bytes;
        DWORD initial;
        DWORD expected;
    } cases[] = {
        {"string \"3120\" (5 bytes)", REG_SZ, std::string("3120", 5), 0, 0},
        {"string of 3 bytes", REG_SZ, std::string("0\x0c", 3), 0, kRecordValue},
        {"2 bytes", REG_BINARY, std::string("\x30\x0c", 2), 0, kRecordValue},
        {"2 bytes over an earlier marker", REG_BINARY, std::string("\x30\x0c", 2), 0xABCD0000, 0xABCD0C30},
        {"4 bytes of binary", REG_BINARY, std::string("\x30\x0c\x00\x00", 4), 0, kRecordValue},
        {"8 bytes", REG_QWORD, std::string("\x30\x0c\x00\x00\x00\x00\x00\x00", 8), 7, 7},
        {"300 bytes", REG_BINARY, std::string(300, '\x30'), 7, 7},
        {"empty", REG_BINARY, std::string(), 5, 5},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        SetMarkerRaw(c.type, c.bytes);
        Guarded g = {0xDEADBEEF, c.initial, 0xFEEDFACE};
        ReadMarker(g.marker);
        EXPECT_EQ(c.expected, g.marker);
        EXPECT_EQ(0xDEADBEEFu, g.before);
        EXPECT_EQ(0xFEEDFACEu, g.after);
    }
}
