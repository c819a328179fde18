#include "hosts/GroupSelectDialog.h"
#include "hosts/HostEntry.h"
#include "res/ResourceIds.h"
#include "tests/support/FrameDriver.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/NetnsLab.h"
#include "tests/support/TempDir.h"
#include "view/HostListCtrl.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Listed(const CGroupSelectDialog& dialog)
{
    std::vector<std::string> names;
    for (int i = 0; i < dialog.groupList->count(); ++i)
        names.push_back(dialog.groupList->GetText(i));
    return names;
}

struct DialogRun
{
    int answer = 0;
    std::string selected;
    std::vector<std::string> listed;
};

// Opens the dialog on the working directory's group file, lets `act` answer
// it, and returns what came back.
DialogRun RunDialog(const std::function<void(CGroupSelectDialog*)>& act)
{
    DialogRun run;
    CGroupSelectDialog dialog;
    WhenModal([&](QWidget*) {
        run.listed = Listed(dialog);
        act(&dialog);
    });
    run.answer = dialog.DoModal();
    run.selected = dialog.selectedGroup;
    return run;
}

void DoubleClick(CGroupSelectDialog* dialog, int row)
{
    QListWidget* list = dialog->groupList;
    const QPoint at = row >= 0 ? list->visualItemRect(list->item(row)).center()
                               : QPoint(5, list->viewport()->height() - 5);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

} // namespace

TEST(GroupSelect, ListsSortedNamesAndOpensWithFocusOnOkAndNothingSelected)
{
    TempDir dir;
    dir.write("kelvoran.ini", "[Servers]\n[Lab]\n[Backup]\n[lab]\n[Lab]\n[Servers\n");
    bool focusOnOk = false;
    int selected = 0;
    const DialogRun run = RunDialog([&](CGroupSelectDialog* dialog) {
        auto* ok = qobject_cast<QPushButton*>(dialog->focusWidget());
        focusOnOk = ok != nullptr && ok->text() == QStringLiteral("OK");
        selected = dialog->groupList->GetCurSel();
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Group Select"));
        // Enter right after opening: OK with nothing selected.
        PressKey(dialog, Qt::Key_Return);
    });
    EXPECT_EQ(run.listed,
        (std::vector<std::string> {"Backup", "Lab", "Lab", "lab", "Servers", "Servers\n"}));
    EXPECT_TRUE(focusOnOk);
    EXPECT_EQ(selected, -1);
    EXPECT_EQ(run.answer, IDOK);
    EXPECT_EQ(run.selected, "");
}

TEST(GroupSelect, KeyboardDoubleClickCancelAndEscape)
{
    TempDir dir;
    dir.write("kelvoran.ini", "[Servers]\n[Lab]\n[Backup]\n");

    DialogRun run = RunDialog([](CGroupSelectDialog* dialog) {
        for (int key : {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Down, Qt::Key_Down, Qt::Key_Return})
            PressKey(dialog, key);
    });
    EXPECT_EQ(run.answer, IDOK);
    EXPECT_EQ(run.selected, "Lab") << "the first arrow key selects the first name";

    run = RunDialog([](CGroupSelectDialog* dialog) { DoubleClick(dialog, 2); });
    EXPECT_EQ(run.answer, IDOK);
    EXPECT_EQ(run.selected, "Servers");

    run = RunDialog([](CGroupSelectDialog* dialog) {
        dialog->groupList->setCurrentRow(1);
        PressKey(dialog, Qt::Key_Escape);
    });
    EXPECT_EQ(run.answer, IDCANCEL);
    EXPECT_EQ(run.selected, "");

    run = RunDialog([](CGroupSelectDialog* dialog) {
        dialog->groupList->setCurrentRow(1);
        dialog->findChildren<QPushButton*>().at(1)->click();
    });
    EXPECT_EQ(run.answer, IDCANCEL);
    EXPECT_EQ(run.selected, "");
}

TEST(GroupSelect, MissingFileGivesAnEmptyListAndDoubleClickEndsLikeOk)
{
    TempDir dir;
    const DialogRun run = RunDialog([](CGroupSelectDialog* dialog) { DoubleClick(dialog, -1); });
    EXPECT_TRUE(run.listed.empty());
    EXPECT_EQ(run.answer, IDOK);
    EXPECT_EQ(run.selected, "");
}

TEST(GroupSelect, ReadsTheFileAfreshAtEveryOpening)
{
    TempDir dir;
    dir.write("kelvoran.ini", "[One]\n");
    EXPECT_EQ(RunDialog([](CGroupSelectDialog* d) { d->reject(); }).listed,
        std::vector<std::string> {"One"});
    dir.write("kelvoran.ini", "[Two]\n[One]\n");
    EXPECT_EQ(RunDialog([](CGroupSelectDialog* d) { d->reject(); }).listed,
        (std::vector<std::string> {"One", "Two"}));
}

class GroupLoad : public ::testing::Test
{
protected:
    TempDir dir;
};

TEST_F(GroupLoad, FillsTheListInFileOrderAndSetsTheCaption)
{
    // The name that must not resolve fails there whatever the machine's name
    // server would say, and no query leaves.
    if (!InProcessWithoutNameServer())
        return;
    dir.write("kelvoran.ini",
        "[Lab]\n127.0.0.9 other\n"
        "[Servers]\n127.0.0.3 third\n127.1 short form\n"
        "  127.0.0.2\tsecond\tignored\nnonexistent.invalid gone\n"
        "127.0.0.1\n");
    FrameDriver f;
    const long before = LiveHostEntries();
    f.ChooseGroup("Servers");
    ASSERT_EQ(f.RowCount(), 4);
    const std::vector<std::pair<std::string, std::string>> rows = {{"127.0.0.3", "third"},
        {"127.0.0.1", "short form"}, {"127.0.0.2", "second"}, {"127.0.0.1", ""}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(f.Text(i, 0), "");
        EXPECT_EQ(f.Text(i, 1), rows[i].first);
        EXPECT_EQ(f.Text(i, 2), "");
        EXPECT_EQ(f.Text(i, 3), rows[i].second);
        auto* entry = reinterpret_cast<HostEntry*>(f->hostList->GetItemData(i));
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->order, i) << "no gap for the unresolvable host";
        EXPECT_EQ(entry->row, i);
        EXPECT_EQ(entry->result, -2);
        EXPECT_EQ(entry->prevResult, -2);
        EXPECT_EQ(entry->busy, 0);
        EXPECT_EQ(entry->name, rows[i].first);
    }
    EXPECT_EQ(LiveHostEntries(), before + 4);
    EXPECT_EQ(f->loadGeneration(), 1);
    EXPECT_EQ(f->GetWindowText(), "kelvoran : Servers");
    EXPECT_EQ(f.ShownTitle(), "kelvoran : Servers");

    // Two hosts with one address: two rows, the table finds the later one.
    EXPECT_EQ(f->hostTable.size(), 3u);
    EXPECT_EQ(
        f->hostTable.find("127.0.0.1"), reinterpret_cast<HostEntry*>(f->hostList->GetItemData(3)));
    EXPECT_EQ(f->hostTable.find("127.0.0.01"), nullptr);

    // Choosing the shown group again replaces every entry.
    auto* first = reinterpret_cast<HostEntry*>(f->hostList->GetItemData(0));
    first->result = 5;
    f.ChooseGroup("Servers");
    ASSERT_EQ(f.RowCount(), 4);
    EXPECT_EQ(LiveHostEntries(), before + 4);
    EXPECT_EQ(reinterpret_cast<HostEntry*>(f->hostList->GetItemData(0))->result, -2);
    EXPECT_EQ(f->loadGeneration(), 2);

    f.ChooseGroup("Lab");
    ASSERT_EQ(f.RowCount(), 1);
    EXPECT_EQ(f.Text(0, 1), "127.0.0.9");
    EXPECT_EQ(f->hostTable.size(), 1u);
    EXPECT_EQ(f->hostTable.find("127.0.0.1"), nullptr);
    EXPECT_EQ(LiveHostEntries(), before + 1);
}

TEST_F(GroupLoad, HostNamesShowTheirFirstAddress)
{
    dir.write("kelvoran.ini", "[Names]\n127.0.0.1 literal\nlocalhost by name\n");
    FrameDriver f;
    f.ChooseGroup("Names");
    ASSERT_EQ(f.RowCount(), 2);
    EXPECT_EQ(f.Text(1, 1), "127.0.0.1");
    EXPECT_EQ(f.Text(1, 3), "by name");
    EXPECT_EQ(f->hostTable.size(), 1u);
    EXPECT_EQ(
        f->hostTable.find("127.0.0.1"), reinterpret_cast<HostEntry*>(f->hostList->GetItemData(1)));
}

TEST_F(GroupLoad, CancelEscapeAndEmptyOkChangeNothing)
{
    dir.write("kelvoran.ini", "[A]\n127.0.0.1 a\n127.0.0.2 b\n");
    FrameDriver f;
    f.ChooseGroup("A");
    const long live = LiveHostEntries();
    auto* entry = reinterpret_cast<HostEntry*>(f->hostList->GetItemData(0));
    for (int key : {Qt::Key_Escape, Qt::Key_Return}) {
        f.AnswerGroupDialog(key);
        EXPECT_EQ(f.RowCount(), 2);
        EXPECT_EQ(reinterpret_cast<HostEntry*>(f->hostList->GetItemData(0)), entry);
        EXPECT_EQ(f->loadGeneration(), 1);
        EXPECT_EQ(f.ShownTitle(), "kelvoran : A");
        EXPECT_EQ(LiveHostEntries(), live);
    }
}

TEST_F(GroupLoad, FileRemovedWhileTheDialogIsOpenChangesNothing)
{
    dir.write("kelvoran.ini", "[A]\n127.0.0.1 a\n");
    FrameDriver f;
    f.ChooseGroup("A");
    auto* entry = reinterpret_cast<HostEntry*>(f->hostList->GetItemData(0));
    bool done = false;
    WhenModal([&](QWidget* widget) {
        auto* dialog = qobject_cast<CGroupSelectDialog*>(widget);
        std::remove("kelvoran.ini");
        dialog->groupList->setCurrentRow(0);
        dialog->accept();
        done = true;
    });
    f->OnCommand(ID_GROUP);
    EXPECT_TRUE(done);
    EXPECT_EQ(f.RowCount(), 1);
    EXPECT_EQ(reinterpret_cast<HostEntry*>(f->hostList->GetItemData(0)), entry);
    EXPECT_EQ(f->loadGeneration(), 1);
    EXPECT_EQ(f.ShownTitle(), "kelvoran : A");
}

TEST_F(GroupLoad, GroupWithoutResolvableHostsOrWithoutSection)
{
    if (!InProcessWithoutNameServer())
        return;
    dir.write("kelvoran.ini", "[Gone]\nnonexistent.invalid x\n[Half\n127.0.0.1\n");
    FrameDriver f;
    f.ChooseGroup("Gone");
    EXPECT_EQ(f.RowCount(), 0);
    EXPECT_EQ(f.ShownTitle(), "kelvoran : Gone");
    // The name listed with its line feed matches no section.
    f.ChooseGroup("Half\n");
    EXPECT_EQ(f.RowCount(), 0);
    EXPECT_EQ(f->GetWindowText(), "kelvoran : Half\n");
    EXPECT_EQ(f->loadGeneration(), 2);
}

TEST_F(GroupLoad, CaptionPrefixFollowsTheLogModeAndShowsLiterally)
{
    dir.write("kelvoran.ini", "[Servers]\n127.0.0.1\n");
    FrameDriver f;
    const std::pair<int, const char*> cases[]
        = {{1, "[*] kelvoran : Servers"}, {2, "[+] kelvoran : Servers"}, {0, "kelvoran : Servers"}};
    for (const auto& [mode, caption] : cases) {
        SCOPED_TRACE("log mode " + std::to_string(mode));
        f->logMode = mode;
        f.ChooseGroup("Servers");
        EXPECT_EQ(f->GetWindowText(), caption);
        EXPECT_EQ(f.ShownTitle(), caption);
    }
    f->SetWindowText("[*][*] x [*]");
    EXPECT_EQ(f.ShownTitle(), "[*][*] x [*]");
}
