#include "hosts/GroupSelectDialog.h"

#include "hosts/GroupFile.h"
#include "res/DialogUnits.h"
#include "res/ResourceIds.h"
#include "text/WidgetText.h"

#include <QFocusEvent>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QPushButton>

namespace {

QString Shown(const std::string& name)
{
    // A section line without its closing bracket gives a name ending in a line
    // feed; the item keeps those bytes but shows one line.
    QString text = FromLocaleBytes(name);
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    return text;
}

bool SortsBefore(const QString& a, const QString& b)
{
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    if (folded != 0)
        return folded < 0;
    return QString::compare(a, b, Qt::CaseSensitive) < 0;
}

} // namespace

int CGroupListBox::AddString(const std::string& name)
{
    const QString text = Shown(name);
    int at = count();
    for (int i = 0; i < count(); ++i) {
        if (SortsBefore(text, item(i)->text())) {
            at = i;
            break;
        }
    }
    auto* entry = new QListWidgetItem(text);
    entry->setData(Qt::UserRole, QByteArray(name.data(), static_cast<qsizetype>(name.size())));
    insertItem(at, entry);
    return at;
}

std::string CGroupListBox::GetText(int index) const
{
    const QListWidgetItem* entry = item(index);
    if (entry == nullptr)
        return {};
    return entry->data(Qt::UserRole).toByteArray().toStdString();
}

int CGroupListBox::GetCurSel() const
{
    const QList<QListWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? -1 : row(selected.first());
}

void CGroupListBox::focusInEvent(QFocusEvent* event)
{
    QListWidget::focusInEvent(event);
    // With nothing selected, the first arrow key selects the first name
    // instead of stepping over it.
    if (selectedItems().isEmpty())
        selectionModel()->clearCurrentIndex();
}

void CGroupListBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    QListWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit doubleClicked();
}

CGroupSelectDialog::CGroupSelectDialog(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Group Select"));
    setFont(DialogFont());
    setModal(true);
    // A modal frame with a caption and a close box, nothing to resize.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
        | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    // Created in the template's order, which is also the tab order: OK,
    // Cancel, the list.
    okButton_ = new QPushButton(QStringLiteral("OK"), this);
    okButton_->setGeometry(DialogUnitsToPixels(font(), 130, 7, 50, 14));
    okButton_->setDefault(true);
    cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton_->setGeometry(DialogUnitsToPixels(font(), 130, 24, 50, 14));
    groupList = new CGroupListBox(this);
    groupList->setGeometry(DialogUnitsToPixels(font(), 7, 7, 118, 80));
    groupList->setSelectionMode(QAbstractItemView::SingleSelection);
    groupList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    groupList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTabOrder(okButton_, cancelButton_);
    setTabOrder(cancelButton_, groupList);

    const QRect frame = DialogUnitsToPixels(font(), 0, 0, 187, 94);
    setFixedSize(frame.size());

    connect(okButton_, &QPushButton::clicked, this, &CGroupSelectDialog::accept);
    connect(cancelButton_, &QPushButton::clicked, this, &CGroupSelectDialog::reject);
    connect(groupList, &CGroupListBox::doubleClicked, this, &CGroupSelectDialog::OnDblclkGroupList);
}

CGroupSelectDialog::~CGroupSelectDialog() = default;

int CGroupSelectDialog::DoModal()
{
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

int CGroupSelectDialog::exec()
{
    OnInitDialog();
    return QDialog::exec();
}

void CGroupSelectDialog::accept()
{
    OnOK();
}

void CGroupSelectDialog::OnInitDialog()
{
    groupList->clear();
    okButton_->setFocus();
    FilePtr file = OpenGroupFile();
    if (!file)
        return;
    for (const std::string& name : ReadGroupNames(file.get()))
        groupList->AddString(name);
    groupList->setCurrentItem(nullptr);
    groupList->clearSelection();
}

void CGroupSelectDialog::OnOK()
{
    const int selected = groupList->GetCurSel();
    if (selected >= 0)
        selectedGroup = groupList->GetText(selected);
    QDialog::accept();
}

void CGroupSelectDialog::OnDblclkGroupList()
{
    if (isVisible())
        OnOK();
}
