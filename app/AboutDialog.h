#pragma once

#include <QDialog>

#include <string>

class QLabel;

// The About box: the program icon, its name with its file version, read from
// the program's own file each time the box opens, and a short notice.
class CAboutDialog : public QDialog
{
    Q_OBJECT
public:
    explicit CAboutDialog(QWidget* parent = nullptr);
    ~CAboutDialog() override;

    int DoModal();

    std::string versionText;

protected:
    virtual void DoDataExchange();

private:
    QLabel* versionLabel_;
};
