#pragma once

#include <cstdint>

// Why a probe failed, numbered as the Windows ICMP API and system error codes
// number the same reasons, so that logs and reports read alike on both.
enum IcmpStatus : std::uint32_t {
    IP_SUCCESS = 0,
    ERROR_TOO_MANY_OPEN_FILES = 4,
    ERROR_ACCESS_DENIED = 5, // the kernel refused the send (EPERM: a firewall rule)
    ERROR_UNEXP_NET_ERR = 59, // the echo came back with other data than was sent
    ERROR_MOD_NOT_FOUND = 126, // no ICMP socket kind can be opened in this process
    WSAHOST_NOT_FOUND = 11001, // the host text is neither an address nor a known name
    IP_DEST_NET_UNREACHABLE = 11002,
    IP_DEST_HOST_UNREACHABLE = 11003,
    IP_DEST_PROT_UNREACHABLE = 11004,
    IP_DEST_PORT_UNREACHABLE = 11005,
    IP_NO_RESOURCES = 11006, // the request was dropped below the socket: a send queue is full
    IP_BAD_OPTION = 11007, // a TTL of 0, which the kernel does not send
    IP_PACKET_TOO_BIG = 11009,
    IP_REQ_TIMED_OUT = 11010,
    IP_BAD_ROUTE = 11012,
    IP_TTL_EXPIRED_TRANSIT = 11013,
    IP_TTL_EXPIRED_REASSEM = 11014,
    IP_PARAM_PROBLEM = 11015,
    IP_BAD_DESTINATION = 11018,
    IP_GENERAL_FAILURE = 11050,
};
