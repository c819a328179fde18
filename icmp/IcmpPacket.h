#pragma once

#include "icmp/IcmpSocketKind.h"

#include <netinet/ip_icmp.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// The identifier and sequence (host byte order) of one echo request, which
// its answers carry back: how a reply, an ICMP error quoting the request, and
// the kernel's copy of the request as it left are matched to it.
struct EchoKey
{
    std::uint16_t identifier = 0;
    std::uint16_t sequence = 0;

    // As one number, the identifier in the high half.
    constexpr std::uint32_t Packed() const { return std::uint32_t {identifier} << 16 | sequence; }
    static constexpr EchoKey Unpacked(std::uint32_t packed)
    {
        return {static_cast<std::uint16_t>(packed >> 16), static_cast<std::uint16_t>(packed)};
    }
    friend constexpr bool operator==(const EchoKey&, const EchoKey&) = default;
};

// The sequence for the n-th request of a run: spread by a multiplicative hash,
// so that neighbouring requests differ in no simple way (an answer with a
// sequence off by one is not another request's answer).
constexpr std::uint16_t SpreadSequence(std::uint32_t n)
{
    return static_cast<std::uint16_t>(n * 0x79b1u);
}

// What tells the answers to one echo request apart from all other ICMP
// traffic: its key and the destination (network byte order) it went to.
struct EchoTag : EchoKey
{
    std::uint32_t destination = 0;
};

enum class PacketVerdict {
    NotOurs, // skip it and go on waiting
    Reply, // the echo reply to the request
    Error, // an ICMP error about the request
};

struct PacketClass
{
    PacketVerdict verdict = PacketVerdict::NotOurs;
    std::uint32_t status = 0; // IcmpStatus: IP_SUCCESS for a reply, the error's meaning otherwise
    std::uint32_t source = 0; // who sent it, network byte order
    std::span<const std::uint8_t> data; // a reply's echoed data, within the received bytes
    std::size_t dataSize = 0; // the echoed data's size; more than data holds when cut short
};

constexpr std::size_t kIcmpHeaderSize = sizeof(icmphdr);
constexpr std::size_t kMaxEchoRequestSize = kIcmpHeaderSize + 255;

// The Internet checksum (RFC 1071) of the bytes; 0 over a message that
// carries a correct checksum.
std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes);

// Writes an echo request carrying the data into out, which must have room for
// kIcmpHeaderSize + data.size() bytes; returns the number of bytes written.
std::size_t BuildEchoRequest(
    std::span<std::uint8_t> out, const EchoTag& tag, std::span<const std::uint8_t> data);

// The status an ICMP error of this type and code stands for, or nothing for
// messages that do not end the wait for a reply (redirects, echo, ...).
std::optional<std::uint32_t> IcmpErrorStatus(std::uint8_t type, std::uint8_t code);

// Judges one packet read from an ICMP socket of the given kind: raw sockets
// deliver the IP header in front, datagram sockets do not and give the sender
// as sourceAddress (network byte order) instead. `arrivedSize` is the size the
// packet had, as a raw socket reports it with MSG_TRUNC, or at least that size
// where the socket does not tell: a packet longer than the bytes read was cut
// short, and is judged by its header, as its checksum cannot be checked. Safe
// on any bytes.
PacketClass ClassifyIcmpPacket(std::span<const std::uint8_t> bytes, std::size_t arrivedSize,
    IcmpSocketKind kind, std::uint32_t sourceAddress, const EchoTag& tag);

// Which request a packet read from a raw ICMP socket (IP header in front)
// would answer: the key of an echo reply, or of the echo request that an ICMP
// error quotes. Nothing for any
// other packet. Only finds whom to ask: ClassifyIcmpPacket still judges the
// packet in full against that request's tag. Safe on any bytes.
std::optional<EchoKey> RawPacketEchoKey(std::span<const std::uint8_t> bytes);

// Which request the copy of a sent packet is, as the kernel hands it back with
// the stamp of its leaving: the key of the echo request in it. The copy starts with the link-layer header of the
// device it left by, fourteen bytes on Ethernet and loopback, none on a tunnel.
// Nothing for anything else. Safe on any bytes.
std::optional<EchoKey> SentPacketEchoKey(std::span<const std::uint8_t> copy);

// Judges one ICMP error that a datagram socket queued for its request: the
// type and code of the error, the bytes it quoted from the ICMP header of the
// request on, the destination of that request and the sender of the error
// (both network byte order). Safe on any bytes.
PacketClass ClassifyQueuedIcmpError(std::uint8_t type, std::uint8_t code,
    std::span<const std::uint8_t> quoted, std::uint32_t requestDestination, std::uint32_t offender,
    const EchoTag& tag);
