#include "app/AboutDialog.h"

#include "app/FileVersion.h"
#include "res/DialogUnits.h"
#include "res/ResourceIds.h"
#include "res/ResourceText.h"
#include "text/WidgetText.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

CAboutDialog::CAboutDialog(QWidget* parent)
    : QDialog(parent)
{
    versionText = "";
    versionText = "kelvoran : " + GetFileVersionString();

    setWindowTitle(LoadResText(IDR_MAINFRAME));
    setFont(DialogFont());
    setModal(true);
    // A modal frame with a caption and a close box, nothing to resize.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
        | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    auto* icon = new QLabel(this);
    icon->setGeometry(DialogUnitsToPixels(font(), 11, 17, 20, 20));
    icon->setPixmap(QIcon(QStringLiteral(":/res/kelvoran-32.png")).pixmap(32, 32));
    icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    versionLabel_ = new QLabel(QStringLiteral("kelvoran"), this);
    versionLabel_->setObjectName(QStringLiteral("IDC_VERSION"));
    versionLabel_->setTextFormat(Qt::PlainText);
    versionLabel_->setGeometry(DialogUnitsToPixels(font(), 40, 10, 70, 8));

    auto* notice = new QLabel(QStringLiteral("ICMP echo host monitor.\n"
                                             "No warranty of any kind."),
        this);
    notice->setTextFormat(Qt::PlainText);
    notice->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    notice->setGeometry(DialogUnitsToPixels(font(), 40, 25, 71, 18));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(DialogUnitsToPixels(font(), 118, 7, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    // The texts get the room there is beside the button and below it: a
    // version cut short would help nobody.
    const QSize size = DialogUnitsToPixels(font(), 0, 0, 175, 56).size();
    QRect r = versionLabel_->geometry();
    r.setWidth(std::max(r.width(), ok->geometry().left() - r.left() - 4));
    versionLabel_->setGeometry(r);
    r = notice->geometry();
    r.setWidth(std::max(r.width(), size.width() - r.left() - 8));
    notice->setGeometry(r);
    setFixedSize(size);
}

CAboutDialog::~CAboutDialog() = default;

void CAboutDialog::DoDataExchange()
{
    versionLabel_->setText(FromLocaleBytes(versionText));
}

int CAboutDialog::DoModal()
{
    DoDataExchange();
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}
