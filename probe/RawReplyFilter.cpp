#include "probe/RawReplyFilter.h"

#include <linux/filter.h>
#include <sys/socket.h>

#include <array>

bool AttachRawReplyFilter(int fd, std::uint16_t identifier)
{
    // Offsets count from the IP header. X holds the IP header's length, and
    // for an error the sum of it and the quoted IP header's length. A load
    // past the end of a packet makes the filter drop it.
    constexpr std::uint16_t kAccept = 15;
    constexpr std::uint16_t kDrop = 16;
    constexpr std::uint16_t kQuote = 8;
    const auto jump
        = [](std::uint16_t at, std::uint16_t to) { return static_cast<std::uint8_t>(to - at - 1); };
    std::array<sock_filter, 17> program {{
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0), // 0: X = IP header length
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0), // 1: ICMP type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, jump(2, 5)), // 2: echo reply?
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4), // 3: its identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, identifier, jump(4, kAccept), jump(4, kDrop)), // 4
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 3, jump(5, kQuote), 0), // 5: unreachable?
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 11, jump(6, kQuote), 0), // 6: time exceeded?
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 12, 0, jump(7, kDrop)), // 7: parameter problem?
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8), // 8: the quoted IP header's first byte
        BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0x0f), // 9
        BPF_STMT(BPF_ALU | BPF_LSH | BPF_K, 2), // 10: its length
        BPF_STMT(BPF_ALU | BPF_ADD | BPF_X, 0), // 11: plus the outer one
        BPF_STMT(BPF_MISC | BPF_TAX, 0), // 12: into X
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 12), // 13: the quoted request's identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, identifier, 0, jump(14, kDrop)), // 14
        BPF_STMT(BPF_RET | BPF_K, 0xffffffff), // 15: accept the whole packet
        BPF_STMT(BPF_RET | BPF_K, 0), // 16: drop it
    }};
    const sock_fprog fprog {static_cast<unsigned short>(program.size()), program.data()};
    return setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &fprog, sizeof fprog) == 0;
}
