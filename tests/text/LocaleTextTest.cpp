#include "text/LocaleText.h"
#include "tests/support/LocaleSwitch.h"
#include "tests/support/RowName.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>

namespace {

enum class Way { ToUtf8, FromUtf8 };

struct Case
{
    const char* name;
    const char* locale;
    Way way;
    std::string_view in;
    std::string_view out;
};

// Hex escapes stand apart, so that a letter after one is not read as a digit.
// 伺服器 in Big5 has the trail byte 0x41 ('A'), 許 the trail byte 0x5C ('\').
const Case kCases[] = {
    {"Big5", "zh_TW.BIG5", Way::ToUtf8, "kelvoran : \xA6\xF8\xAA\x41\xBE\xB9 \xB3\x5C",
        "kelvoran : 伺服器 許"},
    {"Big5LeadBeforeBlank", "zh_TW.BIG5", Way::ToUtf8, "\xA6\xF8\xAA 12 ms",
        "伺\xEF\xBF\xBD 12 ms"},
    {"Big5ByteNeverValid", "zh_TW.BIG5", Way::ToUtf8, "a\xFF\xA6\xF8", "a\xEF\xBF\xBD伺"},
    {"Big5CutOffAtTheEnd", "zh_TW.BIG5", Way::ToUtf8, "\xA6\xF8\xAA", "伺\xEF\xBF\xBD"},
    {"EucKr", "ko_KR.EUC-KR", Way::ToUtf8, "\xBC\xAD\xB9\xF6 \xA1\xEE", "서버 √"},
    {"EucKrLeadBeforeLetter", "ko_KR.EUC-KR", Way::ToUtf8, "\xBC\xAD\xB9x\xF6",
        "서\xEF\xBF\xBDx\xEF\xBF\xBD"},
    {"Utf8CutOffInTheMiddle", "C.UTF-8", Way::ToUtf8, "a\xE2\x88\xE2\x88\x9A b",
        "a\xEF\xBF\xBD√ b"},
    {"CLocaleReadsUtf8", "C", Way::ToUtf8, "伺服器 \xFF x", "伺服器 \xEF\xBF\xBD x"},
    {"Big5Back", "zh_TW.BIG5", Way::FromUtf8, "√ 伺服器", "\xA1\xD4 \xA6\xF8\xAA\x41\xBE\xB9"},
    {"Big5LacksHangul", "zh_TW.BIG5", Way::FromUtf8, "서버 ok √", "?? ok \xA1\xD4"},
    {"EucKrLacksExtendedHangul", "ko_KR.EUC-KR", Way::FromUtf8, "√ 똠방", "\xA1\xEE ?\xB9\xE6"},
    {"CLocaleWritesUtf8", "C", Way::FromUtf8, "√ a\xFF\x62", "√ a?b"},
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

class LocaleText : public ::testing::TestWithParam<Case>
{ };

} // namespace

TEST_P(LocaleText, ConvertsInTheEncodingOfTheLocale)
{
    const Case& c = GetParam();
    LocaleSwitch ctype(c.locale);
    if (!ctype.active())
        GTEST_SKIP() << ctype.missing();
    const std::string out = c.way == Way::ToUtf8 ? LocaleToUtf8(c.in) : Utf8ToLocale(c.in);
    EXPECT_EQ(out, c.out);
}

INSTANTIATE_TEST_SUITE_P(Cases, LocaleText, ::testing::ValuesIn(kCases), RowName());
