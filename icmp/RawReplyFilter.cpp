#include "icmp/RawReplyFilter.h"

#include <linux/filter.h>
#include <sys/socket.h>

#include <array>

bool AttachRawReplyFilter(int fd, std::uint16_t identifier, std::uint16_t mask)
{
    // Offsets count from the IP header. X holds the IP header's length, and
    // for an error the sum of it and the quoted IP header's length. A load
    // past the end of a packet makes the filter drop it.
    constexpr std::uint16_t kAccept = 17;
    constexpr std::uint16_t kDrop = 18;
    constexpr std::uint16_t kQuote = 9;
    const std::uint32_t wanted = identifier & mask;
    const auto jump
        = [](std::uint16_t at, std::uint16_t to) { return static_cast<std::uint8_t>(to - at - 1); };
    std::array<sock_filter, 19> program {{
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0), // 0: X = IP header length
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0), // 1: ICMP type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, jump(2, 6)), // 2: echo reply?
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4), // 3: its identifier
        BPF_STMT(BPF_ALU | BPF_AND | BPF_K, mask), // 4
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, wanted, jump(5, kAccept), jump(5, kDrop)), // 5
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 3, jump(6, kQuote), 0), // 6: unreachable?
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 11, jump(7, kQuote), 0), // 7: time exceeded?
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 12, 0, jump(8, kDrop)), // 8: parameter problem?
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8), // 9: the quoted IP header's first byte
        BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0x0f), // 10
        BPF_STMT(BPF_ALU | BPF_LSH | BPF_K, 2), // 11: its length
        BPF_STMT(BPF_ALU | BPF_ADD | BPF_X, 0), // 12: plus the outer one
        BPF_STMT(BPF_MISC | BPF_TAX, 0), // 13: into X
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 12), // 14: the quoted request's identifier
        BPF_STMT(BPF_ALU | BPF_AND | BPF_K, mask), // 15
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, wanted, 0, jump(16, kDrop)), // 16
        BPF_STMT(BPF_RET | BPF_K, 0xffffffff), // 17: accept the whole packet
        BPF_STMT(BPF_RET | BPF_K, 0), // 18: drop it
    }};
    const sock_fprog fprog {static_cast<unsigned short>(program.size()), program.data()};
    return setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &fprog, sizeof fprog) == 0;
}
