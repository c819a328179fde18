#include "view/HostDetailsText.h"

#include "hosts/HostEntry.h"
#include "hosts/ResultHistory.h"
#include "hosts/ResultValue.h"
#include "hosts/RoundTripScale.h"
#include "icmp/IcmpStatus.h"
#include "icmp/Resolver.h"
#include "tick/TickCount.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

namespace {

enum class Origin {
    Icmp, // an ICMP error says so; without a source, the own stack refused the send
    Local, // only the own stack says so: the request was not sent
    Plain, // no one to name
};

struct StatusWords
{
    std::uint32_t status;
    Origin origin;
    const char* words; // as an ICMP error, or plain
    const char* local; // after "Could not send: "
};

// Every status the echo layer sets, in the words the tooltip shows.
constexpr StatusWords kStatusWords[] = {
    {IP_REQ_TIMED_OUT, Origin::Plain, "Request timed out", nullptr},
    {ERROR_UNEXP_NET_ERR, Origin::Plain, "Reply did not match the request", nullptr},
    {IP_DEST_HOST_UNREACHABLE, Origin::Icmp, "Destination host unreachable",
        "no route to the host"},
    {IP_DEST_NET_UNREACHABLE, Origin::Icmp, "Destination net unreachable",
        "no route to the network"},
    {IP_DEST_PROT_UNREACHABLE, Origin::Icmp, "Destination protocol unreachable", nullptr},
    {IP_DEST_PORT_UNREACHABLE, Origin::Icmp, "Destination port unreachable", nullptr},
    {IP_TTL_EXPIRED_TRANSIT, Origin::Icmp, "TTL expired in transit", nullptr},
    {IP_TTL_EXPIRED_REASSEM, Origin::Icmp, "TTL expired during reassembly", nullptr},
    {IP_PARAM_PROBLEM, Origin::Icmp, "Parameter problem", nullptr},
    {IP_BAD_ROUTE, Origin::Icmp, "Source route failed", nullptr},
    {IP_PACKET_TOO_BIG, Origin::Icmp, "Packet too big", "the packet is too big"},
    {ERROR_ACCESS_DENIED, Origin::Local, nullptr, "no permission"},
    {IP_BAD_DESTINATION, Origin::Local, nullptr, "not an address a request can go to"},
    {ERROR_MOD_NOT_FOUND, Origin::Local, nullptr, "no permission to open an ICMP socket"},
    {ERROR_TOO_MANY_OPEN_FILES, Origin::Local, nullptr, "too many open files"},
    {IP_NO_RESOURCES, Origin::Local, nullptr, "the network's send queue is full"},
    {IP_BAD_OPTION, Origin::Local, nullptr, "bad option"},
    {WSAHOST_NOT_FOUND, Origin::Plain, "Host not found", nullptr},
    {IP_GENERAL_FAILURE, Origin::Plain, "General failure", nullptr},
};

// Tenths as "12" or "12.3", in digits whatever LC_NUMERIC says.
std::string Tenths(std::uint64_t tenths)
{
    const std::string whole = std::to_string(tenths / 10);
    return tenths % 10 == 0 ? whole : whole + "." + std::to_string(tenths % 10);
}

// Local time of day, with the date when it is not today's.
std::string TimeOfDay(std::time_t then, std::time_t now)
{
    std::tm local {};
    std::tm today {};
    localtime_r(&then, &local);
    localtime_r(&now, &today);
    char text[32];
    const bool sameDay = local.tm_year == today.tm_year && local.tm_yday == today.tm_yday;
    std::strftime(text, sizeof text, sameDay ? "%H:%M:%S" : "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// How long the current state, answering or not, has held at `tick`.
std::uint64_t StateAgeMs(const HostDetails& d, std::uint32_t tick)
{
    return d.stateAgeMs + TicksSince(tick, d.lastTick);
}

// "Outages: none", or how many, the longest and the last, which may still run:
// "Outages: 3, longest 4 min 10 s, last 11:52:07–11:56:17", "..., last
// 11:52:07–now".
std::string OutageLine(const HostDetails& d, std::uint32_t tick, std::time_t wall)
{
    if (d.outages == 0)
        return "Outages: none";
    const std::string dash = "\xE2\x80\x93"; // U+2013, an en dash, in UTF-8
    std::uint64_t longestMs = std::uint64_t {d.longestOutageS} * 1000;
    std::string last;
    if (d.answering) {
        last = TimeOfDay(d.stateSince - d.lastOutageWallS, wall) + dash
            + TimeOfDay(d.stateSince, wall);
    } else {
        longestMs = std::max(longestMs, StateAgeMs(d, tick));
        last = TimeOfDay(d.stateSince, wall) + dash + "now";
    }
    return "Outages: " + std::to_string(d.outages) + ", longest " + DurationText(longestMs)
        + ", last " + last;
}

// "1 host", "37 hosts".
std::string Hosts(std::uint32_t count)
{
    return std::to_string(count) + (count == 1 ? " host" : " hosts");
}

} // namespace

std::string MillisecondsText(std::uint64_t us)
{
    // Decimals by magnitude: three below 10 ms, then one fewer per decade.
    int decimals = 3;
    for (std::uint64_t limit = 10'000; decimals > 0 && us >= limit; limit *= 10)
        --decimals;
    const auto whole = static_cast<unsigned long long>(us / 1000);
    char text[32];
    if (decimals == 0) {
        std::snprintf(text, sizeof text, "%llu", whole);
        return text;
    }
    unsigned fraction = static_cast<unsigned>(us % 1000);
    for (int i = decimals; i < 3; ++i)
        fraction /= 10;
    std::snprintf(text, sizeof text, "%llu.%0*u", whole, decimals, fraction);
    return text;
}

std::string RoughMilliseconds(std::uint64_t us)
{
    // Rounded to two figures, written as the exact ones are, and cut short of
    // the zeros that are then left after the point.
    std::uint64_t unit = 1;
    while (us >= unit * 100)
        unit *= 10;
    std::string text = MillisecondsText((us + unit / 2) / unit * unit);
    if (text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.')
            text.pop_back();
    }
    return text;
}

std::string DurationText(std::uint64_t ms)
{
    using std::to_string;
    const std::uint64_t s = ms / 1000;
    if (s < 60)
        return to_string(s) + " s";
    if (s < 3600) {
        std::string text = to_string(s / 60) + " min";
        if (s % 60 != 0)
            text.append(" ").append(to_string(s % 60)).append(" s");
        return text;
    }
    if (s < 86400)
        return to_string(s / 3600) + " h " + to_string(s / 60 % 60) + " min";
    return to_string(s / 86400) + " d " + to_string(s / 3600 % 24) + " h";
}

std::string AgoText(std::uint64_t ms)
{
    return DurationText(ms) + " ago";
}

std::string ProbeOutcomeText(
    std::int32_t result, std::uint32_t status, std::uint32_t source, std::uint32_t roundTripUs)
{
    if (result == kResultNotProbed)
        return "Not probed yet";
    if (result >= 0)
        return "Answered in " + MillisecondsText(roundTripUs) + " ms";
    for (const StatusWords& w : kStatusWords) {
        if (w.status != status)
            continue;
        if (w.origin == Origin::Local || (w.origin == Origin::Icmp && source == 0 && w.local))
            return std::string("Could not send: ") + w.local;
        if (w.origin == Origin::Icmp && source != 0)
            return std::string(w.words) + ", reported by " + DottedAddress(source);
        return w.words;
    }
    return "Failed with status " + std::to_string(status);
}

std::string HostDetailsText(const HostEntry& entry, std::uint32_t tick, std::time_t wall)
{
    const HostDetails& d = entry.details;
    std::string text = ProbeOutcomeText(entry.result, d.status, d.source, d.roundTripUs);
    if (d.probes == 0)
        return text;
    const std::uint64_t age = StateAgeMs(d, tick);
    const std::string state = d.answering ? "Answering" : ResultText(kResultNoReply);
    text += "\n" + state + " since " + TimeOfDay(d.stateSince, wall) + " (" + DurationText(age)
        + ")";
    // Loss in tenths, cut rather than rounded, so that it reads 100% only
    // when nothing answered.
    const std::uint64_t lost = d.probes - d.answers;
    text += "\nProbes sent: " + std::to_string(d.probes) + ", answered: "
        + std::to_string(d.answers) + ", loss: " + Tenths(lost * 1000 / d.probes) + "%";
    if (d.answers == 0)
        return text + "\nNo answer since the group was loaded";
    // The mean deviation as ping reports it: the root of the mean squared
    // distance from the average.
    const double n = d.answers;
    const double average = static_cast<double>(d.sumUs) / n;
    const double variance = d.sumSquaresUs / n - average * average;
    const double deviation = variance > 0 ? std::sqrt(variance) : 0.0;
    text += "\nRound trip min/avg/max/mdev " + MillisecondsText(d.minUs) + "/"
        + MillisecondsText(d.sumUs / d.answers) + "/" + MillisecondsText(d.maxUs) + "/"
        + MillisecondsText(static_cast<std::uint64_t>(deviation)) + " ms";
    text += "\nLast answer: " + TimeOfDay(d.lastAnswer, wall);
    return text + "\n" + OutageLine(d, tick, wall);
}

std::string DayInWords(const HostEntry& entry, std::uint32_t tick)
{
    std::uint64_t answers = 0;
    std::uint64_t misses = 0;
    std::uint64_t outages = 0;
    bool outagesCut = false;
    std::uint8_t worst = 0;
    for (std::size_t i = 0; i < DayHistory::kSpans; ++i) {
        const DaySpan span = entry.details.day.Span(i, tick);
        if (span.answers > 0)
            worst = answers == 0 ? span.worstLevel : std::max(worst, span.worstLevel);
        answers += span.answers;
        misses += span.misses;
        outages += span.outagesBegun;
        outagesCut = outagesCut || span.outagesBegun == DayHistory::kMostOutagesBegun;
    }
    if (answers + misses == 0)
        return "Last 24 h: no results";
    if (answers == 0)
        return "Last 24 h: no answer";
    std::string text = "Last 24 h: ";
    if (outages == 0)
        text += "no outages";
    else
        text += (outagesCut ? "at least " : "") + std::to_string(outages)
            + (outages == 1 ? " outage" : " outages");
    // Cut rather than rounded, as the loss is: 100 % only when every probe
    // was answered.
    text += ", " + Tenths(answers * 1000 / (answers + misses)) + " % answered";
    return text + ", worst " + RoughMilliseconds(RoundTripScale::UsOf(worst)) + " ms";
}

std::string RecentResultsText(const ResultHistory& recent, std::uint32_t tick)
{
    const std::size_t count = recent.Size();
    if (count == 0)
        return {};
    std::size_t answered = 0;
    std::uint8_t worst = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (const std::optional<std::uint8_t> level = recent.Level(i)) {
            ++answered;
            worst = std::max(worst, *level);
        }
    }
    std::string text = "Last " + DurationText(recent.OldestAgeMs(tick)) + ": ";
    if (answered == 0)
        return text + "none of " + std::to_string(count) + " answered";
    text += std::to_string(answered) + " of " + std::to_string(count) + " answered";
    return text + ", worst " + RoughMilliseconds(RoundTripScale::UsOf(worst)) + " ms";
}

std::string HostAccessibleDescription(const HostEntry& entry, std::uint32_t tick, std::time_t wall)
{
    std::string text = HostDetailsText(entry, tick, wall);
    const std::string recent = RecentResultsText(entry.details.recent, tick);
    if (!recent.empty())
        text += "\n" + recent + "\n" + DayInWords(entry, tick);
    return text;
}

std::string HostChangeText(const HostEntry& entry)
{
    const HostDetails& d = entry.details;
    if (d.answering)
        return entry.name + " answering, " + MillisecondsText(d.roundTripUs) + " ms";
    std::string why = ProbeOutcomeText(entry.result, d.status, d.source, d.roundTripUs);
    // "Request timed out" reads on as "request timed out"; "TTL" stays. The
    // words are ASCII: no locale's case rules.
    if (why.size() > 1 && why[0] >= 'A' && why[0] <= 'Z' && why[1] >= 'a' && why[1] <= 'z')
        why[0] = static_cast<char>(why[0] - 'A' + 'a');
    return entry.name + " " + ResultText(kResultNoReply) + ", " + why;
}

std::string HostsChangedText(std::uint32_t silent, std::uint32_t answering)
{
    std::string text;
    if (silent > 0)
        text = Hosts(silent) + " " + ResultText(kResultNoReply);
    if (answering > 0)
        text += (text.empty() ? "" : ", ") + Hosts(answering) + " answering";
    return text;
}

std::string DescriptionLine(const HostEntry& entry)
{
    return "Description: " + entry.description;
}
