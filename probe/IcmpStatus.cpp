#include "probe/IcmpStatus.h"

namespace {
thread_local std::uint32_t lastError = IP_SUCCESS;
}

std::uint32_t IcmpLastError()
{
    return lastError;
}

void SetIcmpLastError(std::uint32_t status)
{
    lastError = status;
}
