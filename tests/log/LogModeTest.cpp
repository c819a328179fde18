#include "log/LogMode.h"

#include "tests/support/RowName.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

constexpr auto Full = LogCommand::FullLog;
constexpr auto ByStatus = LogCommand::LogByStatus;

struct Step
{
    LogCommand command;
    std::int32_t logMode; // after the command
    const char* caption; // after the command
};

struct CaptionRow
{
    const char* what;
    std::int32_t logMode;
    const char* caption;
    std::vector<Step> steps;
};

void PrintTo(const CaptionRow& row, std::ostream* os)
{
    *os << row.what;
}

class CaptionSequence : public testing::TestWithParam<CaptionRow>
{ };

TEST_P(CaptionSequence, ModeAndCaptionAfterEachCommand)
{
    const CaptionRow& row = GetParam();
    std::int32_t mode = row.logMode;
    std::string caption = row.caption;
    for (std::size_t i = 0; i < row.steps.size(); ++i) {
        const Step& step = row.steps[i];
        LogModeSwitch next = SwitchLogMode(step.command, mode, caption);
        EXPECT_EQ(next.logMode, step.logMode) << "step " << i;
        EXPECT_EQ(next.caption, step.caption) << "step " << i;
        mode = next.logMode;
        caption = std::move(next.caption);
    }
}

// clang-format off
const CaptionRow kCaptionRows[] = {
    {"before any group", kLogOff, "kelvoran",
     {{Full, kLogFull, "[*]kelvoran"}, {ByStatus, kLogByStatus, "[+]kelvoran"},
      {ByStatus, kLogOff, "kelvoran"}}},
    {"full log on and off", kLogOff, "kelvoran",
     {{Full, kLogFull, "[*]kelvoran"}, {Full, kLogOff, "kelvoran"}}},
    {"by status to full replaces the prefix", kLogOff, "kelvoran",
     {{ByStatus, kLogByStatus, "[+]kelvoran"}, {Full, kLogFull, "[*]kelvoran"},
      {Full, kLogOff, "kelvoran"}}},
    {"group loaded in mode 0: prefix without space", kLogOff, "kelvoran : office",
     {{Full, kLogFull, "[*]kelvoran : office"}}},
    {"group loaded in mode 1: the space stays", kLogFull, "[*] kelvoran : office",
     {{Full, kLogOff, " kelvoran : office"}, {Full, kLogFull, "[*] kelvoran : office"}}},
    {"group loaded in mode 2, switched to full", kLogByStatus, "[+] kelvoran : lab",
     {{Full, kLogFull, "[*] kelvoran : lab"}, {ByStatus, kLogByStatus, "[+] kelvoran : lab"},
      {ByStatus, kLogOff, " kelvoran : lab"}}},
    {"UTF-8 group name: three bytes, not characters", kLogOff, "\xea\xb7\xb8\xeb\xa3\xb9",
     {{Full, kLogFull, "[*]\xea\xb7\xb8\xeb\xa3\xb9"}, {Full, kLogOff, "\xea\xb7\xb8\xeb\xa3\xb9"}}},
    {"double-byte code page name", kLogOff, "\xb1\xd7\xb7\xec",
     {{ByStatus, kLogByStatus, "[+]\xb1\xd7\xb7\xec"}, {Full, kLogFull, "[*]\xb1\xd7\xb7\xec"},
      {Full, kLogOff, "\xb1\xd7\xb7\xec"}}},
    {"empty caption", kLogOff, "",
     {{Full, kLogFull, "[*]"}, {Full, kLogOff, ""}}},
    {"caption shorter than a prefix loses what it has", kLogFull, "[*",
     {{Full, kLogOff, ""}}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Commands, CaptionSequence, testing::ValuesIn(kCaptionRows));

TEST(LogMenuCheck, OnlyTheActiveModesItem)
{
    const struct
    {
        std::int32_t logMode;
        bool full;
        bool byStatus;
    } rows[] = {{kLogOff, false, false}, {kLogFull, true, false}, {kLogByStatus, false, true}};
    for (const auto& row : rows) {
        EXPECT_EQ(IsLogCommandChecked(Full, row.logMode), row.full) << row.logMode;
        EXPECT_EQ(IsLogCommandChecked(ByStatus, row.logMode), row.byStatus) << row.logMode;
    }
}

struct RuleRow
{
    std::int32_t logMode;
    std::int32_t prevResult;
    std::int32_t result;
    bool writes;
};

class LoggingRule : public testing::TestWithParam<RuleRow>
{ };

TEST_P(LoggingRule, Decides)
{
    const RuleRow& r = GetParam();
    EXPECT_EQ(ShouldWriteResultLog(r.logMode, r.prevResult, r.result), r.writes)
        << "mode " << r.logMode << ", " << r.prevResult << " -> " << r.result;
}

// clang-format off
const RuleRow kRuleRows[] = {
    // Full log: every change, the first result (after -2) included.
    {kLogFull, -2, 12, true}, {kLogFull, -2, -1, true}, {kLogFull, 12, 12, false},
    {kLogFull, 12, 13, true}, {kLogFull, 13, 12, true}, {kLogFull, 12, -1, true},
    {kLogFull, -1, 12, true}, {kLogFull, -1, -1, false}, {kLogFull, 0, 1, true},
    // Log by status: only changes to or from no reply.
    {kLogByStatus, -2, 12, false}, {kLogByStatus, -2, -1, true}, {kLogByStatus, 12, -1, true},
    {kLogByStatus, -1, 15, true}, {kLogByStatus, 15, 17, false}, {kLogByStatus, -1, -1, false},
    {kLogByStatus, 0, -1, true}, {kLogByStatus, 12, 12, false},
    // Off: nothing.
    {kLogOff, -2, 12, false}, {kLogOff, 12, -1, false}, {kLogOff, -1, 12, false},
    {kLogOff, 12, 13, false},
};
// clang-format on

// "ByStatus_12_to_minus_1": the mode and the change, which name each row.
std::string RuleName(const testing::TestParamInfo<RuleRow>& info)
{
    const RuleRow& r = info.param;
    const char* mode = r.logMode == kLogFull ? "Full" : r.logMode == kLogByStatus ? "ByStatus" : "Off";
    return TestNameOf(std::string(mode) + " " + std::to_string(r.prevResult) + " to "
        + std::to_string(r.result));
}

INSTANTIATE_TEST_SUITE_P(Modes, LoggingRule, testing::ValuesIn(kRuleRows), RuleName);

} // namespace
