#include "app/MainFrame.h"
#include "hosts/GroupSelectDialog.h"
#include "res/ResourceIds.h"
#include "tests/support/FakeEcho.h"
#include "tests/support/FrameDriver.h"
#include "tests/support/LocaleSwitch.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/RowName.h"
#include "tests/support/TempDir.h"
#include "view/HostListCtrl.h"

#include <QStringList>
#include <QWindow>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

// Failures show the text, not the bytes of its UTF-16 units.
void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

// One text as the locale's bytes and as it must show.
struct Encoded
{
    const char* bytes;
    const char* shown; // UTF-8
};

struct LocaleCase
{
    const char* name;
    const char* locale;
    Encoded group;
    Encoded descriptions[2];
    const char* mark; // U+221A in the locale's bytes, '?' where it has none
};

// Hex escapes stand apart, so that a letter after one is not read as a digit.
// 伺服器 in Big5 has the trail byte 0x41 ('A'), 許 the trail byte 0x5C ('\').
const LocaleCase kCases[] = {
    {"Big5", "zh_TW.BIG5", {"\xA6\xF8\xAA\x41\xBE\xB9", "伺服器"},
        {{"\xA5\x44\xBE\xF7", "主機"}, {"\xB8\xEA\xAE\xC6\xAE\x77 \xB3\x5C", "資料庫 許"}},
        "\xA1\xD4"},
    {"EucKr", "ko_KR.EUC-KR", {"\xBC\xAD\xB9\xF6", "서버"},
        {{"\xBC\xB3\xB8\xED", "설명"}, {"\xC7\xD1\xB1\xB9\xBE\xEE \xDE\xC3", "한국어 伺"}},
        "\xA1\xEE"},
    {"Latin1", "en_US.ISO-8859-1", {"\xC9quipe", "Équipe"},
        {{"\xE9t\xE9", "été"}, {"caf\xE9 \xA4", "café ¤"}}, "?"},
};

void PrintTo(const LocaleCase& c, std::ostream* os)
{
    *os << c.name;
}

CMainFrame::Services Services(const FakeEcho& echo, const TestClock& clock)
{
    CMainFrame::Services services;
    services.tick = clock.Source();
    services.echo = echo.Layer();
    return services;
}

// What the list shows in a cell.
QString Shown(const FrameDriver& f, int row, int column)
{
    const QAbstractItemModel* model = f->hostList->model();
    return model->index(row, column).data(Qt::DisplayRole).toString();
}

int RowOf(const FrameDriver& f, const std::string& address)
{
    for (int row = 0; row < f.RowCount(); ++row) {
        if (f.Text(row, 1) == address)
            return row;
    }
    return -1;
}

QStringList ListedGroups(FrameDriver& f)
{
    QStringList listed;
    WhenModal([&](QWidget* widget) {
        auto* dialog = qobject_cast<CGroupSelectDialog*>(widget);
        ASSERT_NE(dialog, nullptr);
        for (int i = 0; i < dialog->groupList->count(); ++i)
            listed << dialog->groupList->item(i)->text();
        PressKey(dialog, Qt::Key_Escape);
    });
    f->OnCommand(ID_GROUP);
    return listed;
}

class LocaleWindow : public ::testing::TestWithParam<LocaleCase>
{ };

} // namespace

TEST_P(LocaleWindow, GroupCaptionDescriptionsAndMarkShowTheLocalesCharacters)
{
    const LocaleCase& c = GetParam();
    LocaleSwitch ctype(c.locale);
    if (!ctype.active())
        GTEST_SKIP() << ctype.missing();
    TempDir dir;
    dir.write("kelvoran.ini",
        std::string("[Other]\n127.0.0.9 x\n[") + c.group.bytes + "]\n127.0.0.1 "
            + c.descriptions[0].bytes + "\n127.0.0.2\t" + c.descriptions[1].bytes + "\n");
    FakeEcho echo;
    TestClock clock {1000};
    FrameDriver f(Services(echo, clock));

    EXPECT_EQ(ListedGroups(f), (QStringList {"Other", QString::fromUtf8(c.group.shown)}));
    f.ChooseGroup(c.group.bytes);
    ASSERT_EQ(f.RowCount(), 2);
    EXPECT_EQ(f->windowHandle()->title(), "kelvoran : " + QString::fromUtf8(c.group.shown));
    for (int row = 0; row < 2; ++row)
        EXPECT_EQ(Shown(f, row, 3), QString::fromUtf8(c.descriptions[row].shown));

    echo.Hold();
    clock.Set(6001);
    ASSERT_TRUE(WaitUntil([&] { return echo.Waiting() == 2; }));
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(f.Text(row, 0), c.mark);
        EXPECT_EQ(Shown(f, row, 0), QString(QChar(0x221A)));
    }
    echo.Release();
    EXPECT_TRUE(WaitUntil([&] { return f->probesInFlight() == 0; }));
}

INSTANTIATE_TEST_SUITE_P(Locales, LocaleWindow, ::testing::ValuesIn(kCases), RowName());

// A group file saved on a Korean Windows system: code page 949 (똠 is beyond
// EUC-KR), CR LF line ends, read where the locale is UTF-8.
TEST(LocaleWindowForeignFile, LoadsAndProbesWithBrokenTextReplaced)
{
    LocaleSwitch ctype("C.UTF-8");
    if (!ctype.active())
        GTEST_SKIP() << ctype.missing();
    TempDir dir;
    const std::string group = "\xBC\xAD\xB9\xF6"; // 서버
    dir.write("kelvoran.ini",
        "[Other]\r\n127.0.0.9 x\r\n[" + group
            + "]\r\n127.0.0.1 \x8C\x63\xB9\xE6 ok\r\n127.0.0.2\t\xBC\xB3\xB8\xED 2\r\n");
    FakeEcho echo;
    echo.Answer("127.0.0.1", 3);
    echo.Answer("127.0.0.2", -1);
    TestClock clock {1000};
    FrameDriver f(Services(echo, clock));

    f.ChooseGroup(group);
    ASSERT_EQ(f.RowCount(), 2);
    const QString broken(QChar::ReplacementCharacter);
    EXPECT_EQ(f->windowHandle()->title(), "kelvoran : " + broken.repeated(4));
    clock.Set(6001);
    ASSERT_TRUE(WaitUntil([&] {
        return f.Text(RowOf(f, "127.0.0.1"), 2) == "3 ms"
            && f.Text(RowOf(f, "127.0.0.2"), 2) == "N/A";
    }));
    EXPECT_EQ(Shown(f, RowOf(f, "127.0.0.1"), 3), broken + "c" + broken + broken + " ok");
    EXPECT_EQ(Shown(f, RowOf(f, "127.0.0.2"), 3), broken.repeated(4) + " 2");
}
