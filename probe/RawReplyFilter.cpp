#include "probe/RawReplyFilter.h"

#include <linux/filter.h>
#include <sys/socket.h>

#include <array>

bool AttachRawReplyFilter(int fd, std::uint16_t identifier)
{
    // Offsets count from the IP header. X holds the IP header's length, and
    // for an error the sum of it and the quoted IP header's length. A load
    // past the end of a packet makes the filter drop it.
    constexpr std::uint16_t kAccept = 16;
    constexpr std::uint16_t kDrop = 17;
    constexpr std::uint16_t kQuote = 9;
    const auto jump
        = [](std::uint16_t at, std::uint16_t to) { return static_cast<std::uint8_t>(to - at - 1); };
    std::array<sock_filter, 18> program {{
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0), BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0), // ICMP type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, jump(2, 5)), // echo reply
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4), // its identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, identifier, jump(4, kAccept), jump(4, kDrop)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 3, jump(5, kQuote), 0), // destination unreachable
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 4, jump(6, kQuote), 0), // source quench
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 11, jump(7, kQuote), 0), // time exceeded
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 12, 0, jump(8, kDrop)), // parameter problem
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8), // kQuote: the quoted IP header's first byte
        BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0x0f), BPF_STMT(BPF_ALU | BPF_LSH | BPF_K, 2),
        BPF_STMT(BPF_ALU | BPF_ADD | BPF_X, 0), BPF_STMT(BPF_MISC | BPF_TAX, 0),
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 12), // the quoted request's identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, identifier, 0, jump(15, kDrop)),
        BPF_STMT(BPF_RET | BPF_K, 0xffffffff), // kAccept
        BPF_STMT(BPF_RET | BPF_K, 0), // kDrop
    }};
    const sock_fprog fprog {static_cast<unsigned short>(program.size()), program.data()};
    return setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &fprog, sizeof fprog) == 0;
}
