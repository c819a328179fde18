#pragma once

#include "app/MainFrame.h"

#include <QPointer>

#include <string>

class QWidget;

// A real main window for tests: created and shown as at start-up, with the
// Group Select dialog that opens by itself answered as the test says.
class FrameDriver
{
public:
    // Shows the window and cancels the dialog that opens by itself.
    explicit FrameDriver(CMainFrame::Services services = {});
    ~FrameDriver();

    CMainFrame* frame() const { return frame_; }
    CMainFrame* operator->() const { return frame_; }

    // File > Group, then picks `group` in the dialog by keyboard (Tab, Tab,
    // arrow keys, Enter). Returns when the dialog has closed.
    void ChooseGroup(const std::string& group);
    // File > Group, then ends the dialog with `key` (Escape, Enter, ...).
    void AnswerGroupDialog(int key);

    int RowCount() const;
    std::string Text(int row, int column) const;
    // Hovers over a row as the window system does (a tooltip request on the
    // list) and returns the tooltip then shown, as plain text.
    std::string ToolTip(int row) const;
    // The title as the window system shows it.
    std::string ShownTitle() const;

private:
    QPointer<CMainFrame> frame_;
};

// Sends a key press and release to the widget that has the keyboard focus in
// `window` (or to `window` itself).
void PressKey(QWidget* window, int key, int modifiers = 0);
