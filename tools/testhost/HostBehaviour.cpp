#include "tools/testhost/HostBehaviour.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <utility>

namespace {

std::optional<std::uint32_t> Number(const std::string& text)
{
    char* end = nullptr;
    const unsigned long n = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || n > 60000)
        return std::nullopt;
    return static_cast<std::uint32_t>(n);
}

// A dotted address in the test range, network byte order.
std::optional<std::uint32_t> TestHostAddress(const std::string& text)
{
    in_addr address {};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1 || !IsTestHostAddress(address.s_addr))
        return std::nullopt;
    return address.s_addr;
}

} // namespace

std::optional<HostBehaviour> ParseHostBehaviour(const std::string& text)
{
    const std::size_t colon = text.find(':');
    const std::string name = text.substr(0, colon);
    const std::string argument = colon == std::string::npos ? "" : text.substr(colon + 1);
    static const std::pair<const char*, HostBehaviour::Kind> plain[] = {
        {"echo", HostBehaviour::Echo},
        {"silent", HostBehaviour::Silent},
        {"corrupt", HostBehaviour::Corrupt},
        {"short", HostBehaviour::Short},
        {"twice", HostBehaviour::Twice},
        {"exceeded", HostBehaviour::Exceeded},
        {"noise", HostBehaviour::Noise},
        {"badsum", HostBehaviour::BadChecksum},
    };
    // An error that a router on the way sends in the host's place:
    // "exceeded:ADDRESS", "unreach:CODE:ADDRESS".
    const std::size_t second = argument.find(':');
    if (name == "exceeded" && colon != std::string::npos) {
        const std::optional<std::uint32_t> router = TestHostAddress(argument);
        if (!router)
            return std::nullopt;
        return HostBehaviour {HostBehaviour::Exceeded, 0, *router};
    }
    if (name == "unreach" && second != std::string::npos) {
        const std::optional<std::uint32_t> code = Number(argument.substr(0, second));
        const std::optional<std::uint32_t> router = TestHostAddress(argument.substr(second + 1));
        if (!code || !router)
            return std::nullopt;
        return HostBehaviour {HostBehaviour::Unreachable, *code, *router};
    }
    for (const auto& [word, kind] : plain) {
        if (name == word)
            return colon == std::string::npos ? std::optional(HostBehaviour {kind}) : std::nullopt;
    }
    static const std::pair<const char*, HostBehaviour::Kind> counted[] = {
        {"delay", HostBehaviour::Delay},
        {"unreach", HostBehaviour::Unreachable},
        {"hops", HostBehaviour::Hops},
        {"flood", HostBehaviour::Flood},
        {"long", HostBehaviour::Long},
    };
    for (const auto& [word, kind] : counted) {
        if (name == word) {
            const std::optional<std::uint32_t> n = Number(argument);
            // A long answer fits a 1500-byte link with its headers.
            if (!n || (kind == HostBehaviour::Flood && *n == 0)
                || (kind == HostBehaviour::Long && *n > 1472))
                return std::nullopt;
            return HostBehaviour {kind, *n};
        }
    }
    if (name == "flap") {
        // Phases of at least a millisecond each, so that the host does both.
        const std::size_t second = argument.find(':');
        const std::optional<std::uint32_t> on = Number(argument.substr(0, second));
        const std::optional<std::uint32_t> off
            = second == std::string::npos ? std::nullopt : Number(argument.substr(second + 1));
        if (!on || !off || *on == 0 || *off == 0)
            return std::nullopt;
        return HostBehaviour {HostBehaviour::Flap, *on, 0, *off};
    }
    if (name == "from") {
        const std::optional<std::uint32_t> other = TestHostAddress(argument);
        if (!other)
            return std::nullopt;
        return HostBehaviour {HostBehaviour::From, 0, *other};
    }
    return std::nullopt;
}

bool IsTestHostAddress(std::uint32_t networkOrder)
{
    return (ntohl(networkOrder) & 0xfffe0000u) == 0xc6120000u;
}
