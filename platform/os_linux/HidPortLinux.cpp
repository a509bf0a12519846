#include "HidPortLinux.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "OsCodes.h"

namespace os
{
namespace
{
using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point tpDeadline)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(tpDeadline - Clock::now()).count();
    return ms < 0 ? 0 : static_cast<int>(ms);
}
} // namespace

CHidPortLinux::~CHidPortLinux()
{
    Close();
}

int CHidPortLinux::Fail(int nErrno)
{
    m_nLastError = nErrno;
    switch (nErrno)
    {
    case ENOENT:
    case ENXIO:
        return OS_ERR_NOT_FOUND;
    case EACCES:
    case EPERM:
        return OS_ERR_ACCESS;
    case ENODEV:
    case EIO:
    case EPIPE:
        // The kernel answers a read or write on an unplugged device with these.
        return OS_ERR_CLOSED;
    default:
        return OS_ERR_GENERAL;
    }
}

int CHidPortLinux::Open(const std::string& strPath)
{
    Close();
    const int nFd = ::open(strPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (nFd < 0)
        return Fail(errno);
    m_nFd = nFd;
    m_nLastError = 0;
    return OS_OK;
}

void CHidPortLinux::Close()
{
    if (m_nFd >= 0)
    {
        ::close(m_nFd);
        m_nFd = -1;
    }
}

int CHidPortLinux::GetRawInfo(HidRawInfo& info)
{
    if (m_nFd < 0)
        return OS_ERR_GENERAL;
    hidraw_devinfo devinfo{};
    if (::ioctl(m_nFd, HIDIOCGRAWINFO, &devinfo) < 0)
    {
        Fail(errno);
        return OS_ERR_GENERAL;
    }
    info.nBusType = devinfo.bustype;
    info.nVendorId = static_cast<uint16_t>(devinfo.vendor);
    info.nProductId = static_cast<uint16_t>(devinfo.product);
    return OS_OK;
}

int CHidPortLinux::GetReportDescriptor(std::vector<uint8_t>& vecDescriptor)
{
    if (m_nFd < 0)
        return OS_ERR_GENERAL;
    int nSize = 0;
    if (::ioctl(m_nFd, HIDIOCGRDESCSIZE, &nSize) < 0)
    {
        Fail(errno);
        return OS_ERR_GENERAL;
    }
    if (nSize < 0 || nSize > HID_MAX_DESCRIPTOR_SIZE)
        return OS_ERR_GENERAL;
    hidraw_report_descriptor desc{};
    desc.size = static_cast<__u32>(nSize);
    if (::ioctl(m_nFd, HIDIOCGRDESC, &desc) < 0)
    {
        Fail(errno);
        return OS_ERR_GENERAL;
    }
    vecDescriptor.assign(desc.value, desc.value + nSize);
    return OS_OK;
}

int CHidPortLinux::Read(uint8_t* pBuf, int nSize, int nTimeoutMs, int nStopFd)
{
    if (m_nFd < 0 || pBuf == nullptr || nSize <= 0)
        return OS_ERR_GENERAL;
    const Clock::time_point tpDeadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs < 0 ? 0 : nTimeoutMs);
    for (;;)
    {
        pollfd afd[2] = {{m_nFd, POLLIN, 0}, {nStopFd, POLLIN, 0}};
        const int nReady = ::poll(afd, nStopFd >= 0 ? 2 : 1, RemainingMs(tpDeadline));
        if (nReady < 0)
        {
            if (errno == EINTR)
                continue;
            return Fail(errno);
        }
        if (nReady == 0)
            return OS_ERR_TIMEOUT;
        if (nStopFd >= 0 && (afd[1].revents & POLLIN) != 0)
            return OS_ERR_STOPPED;
        if ((afd[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && (afd[0].revents & POLLIN) == 0)
        {
            m_nLastError = ENODEV;
            return OS_ERR_CLOSED;
        }
        const ssize_t n = ::read(m_nFd, pBuf, static_cast<size_t>(nSize));
        if (n > 0)
            return static_cast<int>(n);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return Fail(errno);
        if (RemainingMs(tpDeadline) == 0)
            return OS_ERR_TIMEOUT;
    }
}

int CHidPortLinux::Write(const uint8_t* pData, int nLength, int nTimeoutMs)
{
    if (m_nFd < 0 || pData == nullptr || nLength <= 0)
        return OS_ERR_GENERAL;
    const Clock::time_point tpDeadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs < 0 ? 0 : nTimeoutMs);
    for (;;)
    {
        const ssize_t n = ::write(m_nFd, pData, static_cast<size_t>(nLength));
        if (n >= 0)
            return static_cast<int>(n);
        if (errno != EAGAIN && errno != EINTR)
            return Fail(errno);
        // The device's output queue is full: wait for room within the bound.
        pollfd pfd{m_nFd, POLLOUT, 0};
        const int nReady = ::poll(&pfd, 1, RemainingMs(tpDeadline));
        if (nReady == 0)
            return OS_ERR_TIMEOUT;
        if (nReady < 0 && errno != EINTR)
            return Fail(errno);
        if ((pfd.revents & (POLLHUP | POLLERR)) != 0)
        {
            m_nLastError = ENODEV;
            return OS_ERR_CLOSED;
        }
    }
}
} // namespace os
