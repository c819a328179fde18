#pragma once

#include <QDialog>
#include <QListWidget>

#include <string>

class QPushButton;

// The list box of the group dialog: it also reports a double click on its
// empty part, as a list box does.
class CGroupListBox : public QListWidget
{
    Q_OBJECT
public:
    using QListWidget::QListWidget;

    // Adds a name at its place in the list box's alphabetical order (case
    // ignored first); equal names stay, in the order they were added.
    int AddString(const std::string& name);
    // The exact bytes of an item, as they were added.
    std::string GetText(int index) const;
    int GetCurSel() const;

signals:
    void doubleClicked();

protected:
    void focusInEvent(QFocusEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// "Group Select": lists the groups of the group file, read afresh at every
// opening, and hands back the chosen name.
class CGroupSelectDialog : public QDialog
{
    Q_OBJECT
public:
    explicit CGroupSelectDialog(QWidget* parent = nullptr);
    ~CGroupSelectDialog() override;

    int DoModal();

    CGroupListBox* groupList;
    std::string selectedGroup;

public slots:
    int exec() override;
    void accept() override;

protected:
    virtual void OnInitDialog();
    virtual void OnOK();

private:
    void OnDblclkGroupList();

    QPushButton* okButton_;
    QPushButton* cancelButton_;
};
