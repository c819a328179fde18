#include "view/HostListCtrl.h"

#include "hosts/HostEntry.h"
#include "probe/UserMessage.h"
#include "view/CompareHostEntries.h"
#include "view/SortKey.h"

namespace {

constexpr std::uint32_t kEvenRowColor = 0x00FFFFFF;
constexpr std::uint32_t kOddRowColor = 0x00F9F7F0;
constexpr std::uint32_t kNoReplyTextColor = 0x000000FF;
constexpr std::uint32_t kTextColor = 0x00000000;

} // namespace

CHostListCtrl::CHostListCtrl(QWidget* parent)
    : CStripedListCtrl(parent)
{ }

CHostListCtrl::~CHostListCtrl() = default;

std::uint32_t CHostListCtrl::GetRowBkColor(int row)
{
    return row % 2 != 0 ? kOddRowColor : kEvenRowColor;
}

std::uint32_t CHostListCtrl::GetRowTextColor(int row)
{
    // A row's entry is cleared while a group load frees the entries; such a
    // row may still be painted.
    const auto* entry = reinterpret_cast<const HostEntry*>(GetItemData(row));
    if (entry != nullptr && entry->result.load(std::memory_order_relaxed) == kResultNoReply)
        return kNoReplyTextColor;
    return kTextColor;
}

void CHostListCtrl::SortByColumn(int column)
{
    const std::optional<std::int32_t> next = NextSortKey(sortKey, column);
    if (!next)
        return;
    sortKey = *next;
    SortItems(CompareHostEntries, sortKey);
    if (sendToMainWindow)
        sendToMainWindow(SORT, 0);
}
