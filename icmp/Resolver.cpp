#include "icmp/Resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>

std::optional<std::uint32_t> ResolveHostText(const char* text)
{
    const in_addr_t literal = inet_addr(text);
    if (literal != INADDR_NONE)
        return literal;

    // 255.255.255.255 parses to INADDR_NONE too and so comes here, as a name.
    addrinfo hints {};
    hints.ai_family = AF_INET;
    addrinfo* list = nullptr;
    if (getaddrinfo(text, nullptr, &hints, &list) != 0 || list == nullptr)
        return std::nullopt;
    std::optional<std::uint32_t> address;
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in)) {
            sockaddr_in sin;
            std::memcpy(&sin, ai->ai_addr, sizeof sin);
            address = sin.sin_addr.s_addr;
            break;
        }
    }
    freeaddrinfo(list);
    return address;
}

std::string DottedAddress(std::uint32_t networkOrder)
{
    unsigned char b[4];
    std::memcpy(b, &networkOrder, 4);
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    return text;
}
