#pragma once

#include <cstdint>
#include <ctime>
#include <string>

class ResultHistory;
struct HostEntry;

// A round trip in milliseconds from microseconds, to four figures and cut
// rather than rounded, so that it never reads above the row's whole
// milliseconds: "0.052", "9.999", "12.34", "123.4", "1234".
std::string MillisecondsText(std::uint64_t us);

// A round trip in milliseconds from microseconds, rounded to two figures, for
// what is only known to them (a level on the pictures' scale): "0.052",
// "1.2", "13", "1000".
std::string RoughMilliseconds(std::uint64_t us);

// A length of time to its two largest units, cut rather than rounded: "45 s",
// "4 min 10 s", "2 h 5 min", "3 d 4 h"; a zero second unit is left out ("3 min").
std::string DurationText(std::uint64_t ms);

// How long ago, as DurationText says it: "45 s ago", "4 min 10 s ago".
std::string AgoText(std::uint64_t ms);

// The latest outcome in words: "Answered in 0.052 ms", "Request timed out",
// "Destination host unreachable, reported by 198.18.0.2", "Could not send: no
// route to the network", ... A status that an ICMP error can stand for but
// that has no source came from this machine's own stack, before sending.
std::string ProbeOutcomeText(
    std::int32_t result, std::uint32_t status, std::uint32_t source, std::uint32_t roundTripUs);

// A host's tooltip, one line each: the latest outcome; since when its state
// holds, as local time and how long ago; probes sent and answered, loss, round
// trips, the time of the last answer and the outages (see the outage line
// below) since the group was loaded. `tick` and `wall` are now. In UTF-8,
// whatever the locale: the outage line's times are joined by an en dash.
//
// The outage line, for a host that has answered since the load: "Outages:
// none", or "Outages: 3, longest 4 min 10 s, last 11:52:07–11:56:17", the
// last one "11:52:07–now" while it runs. An outage runs from a result
// without answer to the next answer, as Log by status logs it.
std::string HostDetailsText(const HostEntry& entry, std::uint32_t tick, std::time_t wall);

// A host's last 24 hours in words, what the tooltip's second picture shows:
// "Last 24 h: 2 outages, 99.1 % answered, worst 12 ms", the outages those
// that began within them ("at least 31 outages" where ten minutes held more
// than their span counts), the worst round trip to the picture's two figures;
// "Last 24 h: no answer" or "Last 24 h: no results" for a day without either.
// `tick` is now. ASCII only.
std::string DayInWords(const HostEntry& entry, std::uint32_t tick);

// The picture of the latest results in words: how far back they go, how many
// answered and the slowest answer among them, to the two figures the
// picture's scale keeps: "Last 9 min 55 s: 118 of 120 answered, worst 1.2 ms".
// Empty without results. `tick` is now.
std::string RecentResultsText(const ResultHistory& recent, std::uint32_t tick);

// A host's details for assistive technology: the tooltip's words, then its
// pictures in words, a line each. In UTF-8, as the tooltip's words.
std::string HostAccessibleDescription(const HostEntry& entry, std::uint32_t tick, std::time_t wall);

// A host's new state as it is announced: its address, then "N/A" and why, or
// "answering" and the round trip: "198.18.0.3 N/A, request timed out",
// "198.18.0.3 answering, 1.204 ms". ASCII only.
std::string HostChangeText(const HostEntry& entry);

// Changes of many hosts at once, by their new state: "37 hosts N/A",
// "1 host answering", "37 hosts N/A, 2 hosts answering".
std::string HostsChangedText(std::uint32_t silent, std::uint32_t answering);

// The tooltip's line with the whole description, for a list that shows it cut
// short; in the locale's encoding, as the description.
std::string DescriptionLine(const HostEntry& entry);
