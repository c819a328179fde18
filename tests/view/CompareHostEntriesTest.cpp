#include "view/CompareHostEntries.h"

#include "hosts/HostEntry.h"
#include "tests/support/RowName.h"
#include "view/MergeSort.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// Network byte order, as the group load stores it. Only parsed, never contacted.
std::uint32_t Ip(const char* dotted)
{
    in_addr a {};
    EXPECT_EQ(inet_pton(AF_INET, dotted, &a), 1) << dotted;
    return a.s_addr;
}

struct Fields
{
    std::int32_t order = 0;
    const char* address = "0.0.0.0";
    std::int32_t result = kResultNotProbed;
    std::string description;
    bool missing = false; // a row whose entry is gone: null item data
};

std::unique_ptr<HostEntry> MakeEntry(const Fields& f)
{
    if (f.missing)
        return nullptr;
    auto e = std::make_unique<HostEntry>();
    e->order = f.order;
    e->address = Ip(f.address);
    e->name = f.address;
    e->result = f.result;
    e->description = f.description;
    return e;
}

Fields Order(std::int32_t order)
{
    return Fields {order, "0.0.0.0", kResultNotProbed, ""};
}
Fields Address(const char* address)
{
    return Fields {0, address, kResultNotProbed, ""};
}
Fields Result(std::int32_t result, std::int32_t order = 0)
{
    return Fields {order, "0.0.0.0", result, ""};
}
Fields Description(const char* description)
{
    return Fields {0, "0.0.0.0", kResultNotProbed, description};
}

Fields Missing()
{
    Fields f;
    f.missing = true;
    return f;
}

ItemData Item(const HostEntry* e)
{
    return reinterpret_cast<ItemData>(e);
}

int Sign(int v)
{
    return (v > 0) - (v < 0);
}

struct CompareRow
{
    const char* name;
    ItemData key;
    Fields a;
    Fields b;
    int expected;
};

void PrintTo(const CompareRow& row, std::ostream* os)
{
    *os << row.name << " (key " << row.key << ")";
}

class CompareHostEntriesTable : public testing::TestWithParam<CompareRow>
{ };

TEST_P(CompareHostEntriesTable, Answers)
{
    const CompareRow& row = GetParam();
    const auto a = MakeEntry(row.a);
    const auto b = MakeEntry(row.b);
    const int got = CompareHostEntries(Item(a.get()), Item(b.get()), row.key);
    if (row.key == 3 || row.key == -3)
        EXPECT_EQ(Sign(got), row.expected); // byte comparison: only the sign is meant
    else
        EXPECT_EQ(got, row.expected);
}

// clang-format off
const CompareRow kCompareRows[] = {
    {"order smaller first", 0, Order(1), Order(2), -1},
    {"order larger after", 0, Order(2), Order(1), 1},
    {"order negative is smaller", 0, Order(-5), Order(0), -1},
    {"order equal counts as later", 0, Order(3), Order(3), 1},

    {"address .2 before .10", 1, Address("10.0.0.2"), Address("10.0.0.10"), -1},
    {"address .10 after .2", 1, Address("10.0.0.10"), Address("10.0.0.2"), 1},
    {"address 10/8 before 192/8", 1, Address("10.0.0.10"), Address("192.168.0.1"), -1},
    {"address first octet most significant", 1, Address("1.0.0.2"), Address("2.0.0.1"), -1},
    {"address compared unsigned", 1, Address("127.255.255.255"), Address("128.0.0.0"), -1},
    {"address equal counts as later", 1, Address("10.0.0.1"), Address("10.0.0.1"), 1},
    {"address descending .10 before .2", -1, Address("10.0.0.10"), Address("10.0.0.2"), -1},
    {"address descending .2 after .10", -1, Address("10.0.0.2"), Address("10.0.0.10"), 1},
    {"address descending first octet", -1, Address("2.0.0.1"), Address("1.0.0.2"), -1},
    {"address descending equal counts as later", -1, Address("10.0.0.1"), Address("10.0.0.1"), 1},

    {"time smaller first", 2, Result(3), Result(12), -1},
    {"time larger after", 2, Result(12), Result(3), 1},
    {"time before not probed", 2, Result(12), Result(kResultNotProbed), -1},
    {"not probed before no reply", 2, Result(kResultNotProbed), Result(kResultNoReply), -1},
    {"no reply after zero", 2, Result(kResultNoReply), Result(0), 1},
    {"time tie by order, first earlier", 2, Result(7, 1), Result(7, 2), -1},
    {"time tie by order, first later", 2, Result(7, 2), Result(7, 1), 1},
    {"time tie, same order counts as later", 2, Result(7, 1), Result(7, 1), 1},
    {"time descending larger first", -2, Result(12), Result(3), -1},
    {"time descending smaller after", -2, Result(3), Result(12), 1},
    {"time descending no reply first", -2, Result(kResultNoReply), Result(kResultNotProbed), -1},
    {"time descending not probed before times", -2, Result(kResultNotProbed), Result(5000), -1},
    {"time descending tie still ascending by order", -2, Result(7, 1), Result(7, 2), -1},
    {"time descending tie, first later", -2, Result(7, 2), Result(7, 1), 1},

    {"description byte order", 3, Description("abc"), Description("abd"), -1},
    {"description prefix first", 3, Description("ab"), Description("abc"), -1},
    {"description case-sensitive", 3, Description("B"), Description("a"), -1},
    {"description bytes from 0x80 are large", 3, Description("\x80"), Description("z"), 1},
    {"description multibyte after ascii", 3, Description("\xea\xb0\x80"), Description("zzz"), 1},
    {"description 0xff after 0x80", 3, Description("\xff"), Description("\x80"), 1},
    {"description equal", 3, Description("web"), Description("web"), 0},
    {"description both empty", 3, Description(""), Description(""), 0},
    {"description descending", -3, Description("abc"), Description("abd"), 1},
    {"description descending high byte first", -3, Description("\x80"), Description("z"), -1},
    {"description descending equal", -3, Description("web"), Description("web"), 0},

    {"unknown key 4", 4, Result(1, 1), Result(2, 2), 0},
    {"unknown key minus 4", -4, Order(1), Order(2), 0},
    {"unknown key 2 + 2^32, not cut to 2", (ItemData(1) << 32) + 2, Result(1), Result(2), 0},

    {"missing entry after every order", 0, Missing(), Order(-5), 1},
    {"missing entry after every address", 1, Address("255.255.255.255"), Missing(), -1},
    {"missing entry after every address descending", -1, Missing(), Address("0.0.0.0"), 1},
    {"missing entry after no reply", 2, Result(kResultNoReply), Missing(), -1},
    {"missing entry after no reply descending", -2, Missing(), Result(kResultNoReply), 1},
    {"missing entry after every description", 3, Description("\xff"), Missing(), -1},
    {"missing entry after every description descending", -3, Missing(), Description(""), 1},
    {"missing entry after all under an unknown key", 4, Missing(), Order(1), 1},
    {"two missing entries are equal", 0, Missing(), Missing(), 0},
    {"two missing entries are equal descending", -2, Missing(), Missing(), 0},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Keys, CompareHostEntriesTable, testing::ValuesIn(kCompareRows), RowName());

const auto kResults = [](const HostEntry& e) { return e.result; };
const auto kOrders = [](const HostEntry& e) { return e.order; };
const auto kNames = [](const HostEntry& e) { return e.name; };
const auto kDescriptions = [](const HostEntry& e) { return e.description; };

// Sorting whole lists with the list's merge sort gives the documented orders.
class SortedList : public testing::Test
{
protected:
    void Add(const Fields& f)
    {
        Fields numbered = f;
        numbered.order = static_cast<std::int32_t>(entries_.size());
        entries_.push_back(MakeEntry(numbered));
        items_.push_back(Item(entries_.back().get()));
    }

    void Sort(ItemData key)
    {
        MergeSort(items_, [key](ItemData a, ItemData b) { return CompareHostEntries(a, b, key); });
    }

    // One field of every row, top to bottom.
    template<typename Field>
    auto Column(Field field) const
    {
        std::vector<decltype(field(*entries_.front()))> out;
        for (ItemData i : items_)
            out.push_back(field(*reinterpret_cast<const HostEntry*>(i)));
        return out;
    }

private:
    std::vector<std::unique_ptr<HostEntry>> entries_;
    std::vector<ItemData> items_;
};

TEST_F(SortedList, TimesAscendingThenNotProbedThenNoReply)
{
    for (std::int32_t r : {12, -1, 3, -2})
        Add(Result(r));
    Sort(2);
    EXPECT_EQ(Column(kResults), (std::vector<std::int32_t> {3, 12, -2, -1}));
    Sort(-2);
    EXPECT_EQ(Column(kResults), (std::vector<std::int32_t> {-1, -2, 12, 3}));
    Sort(0);
    EXPECT_EQ(Column(kOrders), (std::vector<std::int32_t> {0, 1, 2, 3}));
}

TEST_F(SortedList, EqualTimesKeepGroupOrderBothWays)
{
    for (std::int32_t r : {5, 5, 1, 5, -1, -1})
        Add(Result(r));
    Sort(2);
    EXPECT_EQ(Column(kOrders), (std::vector<std::int32_t> {2, 0, 1, 3, 4, 5}));
    Sort(-2);
    EXPECT_EQ(Column(kOrders), (std::vector<std::int32_t> {4, 5, 0, 1, 3, 2}));
}

TEST_F(SortedList, AddressesByNumericValue)
{
    for (const char* a : {"192.168.0.1", "10.0.0.10", "10.0.0.2", "9.255.255.255"})
        Add(Address(a));
    Sort(1);
    EXPECT_EQ(Column(kNames),
        (std::vector<std::string> {"9.255.255.255", "10.0.0.2", "10.0.0.10", "192.168.0.1"}));
    Sort(-1);
    EXPECT_EQ(Column(kNames),
        (std::vector<std::string> {"192.168.0.1", "10.0.0.10", "10.0.0.2", "9.255.255.255"}));
}

TEST_F(SortedList, DescriptionsByteWise)
{
    for (const char* d : {"b", "\xc3\xa9", "B", "", "a"})
        Add(Description(d));
    Sort(3);
    EXPECT_EQ(Column(kDescriptions), (std::vector<std::string> {"", "B", "a", "b", "\xc3\xa9"}));
    Sort(-3);
    EXPECT_EQ(Column(kDescriptions), (std::vector<std::string> {"\xc3\xa9", "b", "a", "B", ""}));
}

} // namespace
