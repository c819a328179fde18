#include "tests/support/FrameDriver.h"

#include "hosts/GroupSelectDialog.h"
#include "res/ResourceIds.h"
#include "tests/support/ModalDriver.h"
#include "text/WidgetText.h"
#include "view/HostListCtrl.h"
#include "view/HostToolTip.h"

#include <QApplication>
#include <QHelpEvent>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

void PressKey(QWidget* window, int key, int modifiers)
{
    QWidget* target = window->focusWidget() ? window->focusWidget() : window;
    QTest::keyClick(
        target, static_cast<Qt::Key>(key), static_cast<Qt::KeyboardModifiers>(modifiers));
}

FrameDriver::FrameDriver(CMainFrame::Services services)
{
    bool answered = false;
    WhenModal([&answered](QWidget* dialog) {
        answered = true;
        PressKey(dialog, Qt::Key_Escape);
    });
    frame_ = new CMainFrame(std::move(services));
    EXPECT_TRUE(frame_->LoadFrame());
    frame_->show();
    EXPECT_TRUE(WaitUntil([&] { return answered && !QApplication::activeModalWidget(); }));
}

FrameDriver::~FrameDriver()
{
    if (frame_) {
        frame_->close();
        WaitUntil([this] { return frame_.isNull(); }, 2000);
    }
}

void FrameDriver::ChooseGroup(const std::string& group)
{
    bool done = false;
    WhenModal([&](QWidget* widget) {
        auto* dialog = qobject_cast<CGroupSelectDialog*>(widget);
        ASSERT_NE(dialog, nullptr);
        PressKey(dialog, Qt::Key_Tab);
        PressKey(dialog, Qt::Key_Tab);
        ASSERT_EQ(dialog->focusWidget(), dialog->groupList);
        for (int i = 0; i < dialog->groupList->count() + 1; ++i) {
            PressKey(dialog, Qt::Key_Down);
            if (dialog->groupList->GetCurSel() >= 0
                && dialog->groupList->GetText(dialog->groupList->GetCurSel()) == group)
                break;
        }
        PressKey(dialog, Qt::Key_Return);
        done = true;
    });
    frame_->OnCommand(ID_GROUP);
    EXPECT_TRUE(done);
}

void FrameDriver::AnswerGroupDialog(int key)
{
    bool done = false;
    WhenModal([&](QWidget* dialog) {
        PressKey(dialog, key);
        done = true;
    });
    frame_->OnCommand(ID_GROUP);
    EXPECT_TRUE(done);
}

int FrameDriver::RowCount() const
{
    return frame_->hostList->GetItemCount();
}

std::string FrameDriver::Text(int row, int column) const
{
    return frame_->hostList->GetItemText(row, column);
}

std::string FrameDriver::ToolTip(int row) const
{
    CHostListCtrl* list = frame_->hostList;
    const QPoint pos = list->visualRect(list->model()->index(row, 1)).center();
    QHelpEvent help(QEvent::ToolTip, pos, list->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(list->viewport(), &help);
    const CHostToolTip* tip = list->ToolTipWindow();
    if (tip == nullptr || !tip->isVisible())
        return {};
    return ToLocaleBytes(tip->PlainText());
}

std::string FrameDriver::ShownTitle() const
{
    return ToLocaleBytes(frame_->windowHandle()->title());
}
