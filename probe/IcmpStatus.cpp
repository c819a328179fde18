#include "probe/IcmpStatus.h"

namespace {
thread_local std::uint32_t lastError = IP_SUCCESS;
thread_local std::uint32_t lastErrorSource = 0;
} // namespace

std::uint32_t IcmpLastError()
{
    return lastError;
}

std::uint32_t IcmpLastErrorSource()
{
    return lastErrorSource;
}

void SetIcmpLastError(std::uint32_t status, std::uint32_t source)
{
    lastError = status;
    lastErrorSource = source;
}
