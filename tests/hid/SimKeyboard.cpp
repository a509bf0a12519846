#include "SimKeyboard.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "HidDescriptors.h"
#include "OsCodes.h"

namespace
{
constexpr size_t kMaxQueued = 4096;  // far above what a test sends; bounds a runaway test
constexpr int kSliceMs = 5;

bool StopRequested(int nStopFd)
{
    if (nStopFd < 0)
        return false;
    pollfd pfd{nStopFd, POLLIN, 0};
    return ::poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLIN) != 0;
}
} // namespace

CSimKeyboard::CSimKeyboard(SimKeyboardConfig config)
    : m_config(config)
    , m_fnHandler(&CSimKeyboard::DefaultTerminal)
{
}

std::vector<uint8_t> CSimKeyboard::ReportDescriptor() const
{
    return hidtest::VendorDescriptor(m_config.nUsagePage, m_config.bNumberedReports);
}

os::HidRawInfo CSimKeyboard::RawInfo() const
{
    os::HidRawInfo info;
    info.nBusType = 3;  // USB
    info.nVendorId = m_config.nVendorId;
    info.nProductId = m_config.nProductId;
    return info;
}

std::vector<uint8_t> CSimKeyboard::DefaultTerminal(const std::vector<uint8_t>& vecCommand)
{
    const bool bSession = vecCommand.size() >= 12 && vecCommand[10] == 0x80 && vecCommand[11] == 0x28;
    const std::vector<uint8_t> vecData = bSession ? std::vector<uint8_t>{0x01, 0x02, 0x03, 0x90, 0x00}
                                                  : std::vector<uint8_t>{0x90, 0x00};
    std::vector<uint8_t> vecAnswer(10 + vecData.size(), 0);
    vecAnswer[0] = 0x83;
    for (size_t i = 1; i < 5 && i < vecCommand.size(); ++i)
        vecAnswer[i] = vecCommand[i];  // address and sequence number as sent
    vecAnswer[9] = static_cast<uint8_t>(vecData.size());
    std::copy(vecData.begin(), vecData.end(), vecAnswer.begin() + 10);
    return vecAnswer;
}

std::vector<uint8_t> CSimKeyboard::DiscoveryAnswer() const
{
    const size_t nName = std::min<size_t>(m_config.strName.size(), 32);
    std::vector<uint8_t> vec(4 + 8 + 2 + nName, 0);
    vec[0] = 0x80;
    vec[1] = 0x02;
    vec[2] = static_cast<uint8_t>(m_config.nSicctVersion >> 8);
    vec[3] = static_cast<uint8_t>(m_config.nSicctVersion);
    vec[4] = 0x83;
    vec[5] = 0x06;
    std::copy(m_config.aMac, m_config.aMac + 6, vec.begin() + 6);
    vec[12] = 0x84;
    vec[13] = static_cast<uint8_t>(nName);
    std::copy(m_config.strName.begin(), m_config.strName.begin() + static_cast<long>(nName), vec.begin() + 14);
    return vec;
}

bool CSimKeyboard::AddPart(Assembly& assembly, uint16_t nOffset, uint16_t nLength, const uint8_t* pPayload,
                           int nCapacity, std::vector<uint8_t>& vecComplete)
{
    if (nOffset == 0)
    {
        assembly.vecData.assign(nLength, 0);
        assembly.bOpen = true;
    }
    if (!assembly.bOpen || static_cast<size_t>(nOffset) + nLength != assembly.vecData.size())
    {
        assembly.bOpen = false;
        return false;
    }
    const int nPart = std::min<int>(nLength, nCapacity);
    std::memcpy(assembly.vecData.data() + nOffset, pPayload, static_cast<size_t>(nPart));
    if (nLength > nCapacity)
        return false;
    assembly.bOpen = false;
    vecComplete = assembly.vecData;
    return true;
}

int CSimKeyboard::OnOutputReport(const uint8_t* pData, int nLength)
{
    std::lock_guard<std::mutex> lock(m_mtx);
    if (!m_bPlugged)
        return os::OS_ERR_CLOSED;
    m_vecOutput.emplace_back(pData, pData + nLength);
    // Unnumbered devices get a 0x00 report ID byte in front of the layout.
    const int nBase = m_config.bNumberedReports ? 0 : 1;
    if (nLength < nBase + 6)
        return nLength;
    const uint8_t* p = pData + nBase;
    const uint8_t nUnit = p[0];
    const uint8_t nType = p[1];
    const uint16_t nOffset = static_cast<uint16_t>(p[2] | (p[3] << 8));
    const uint16_t nRemaining = static_cast<uint16_t>(p[4] | (p[5] << 8));
    const int nCapacity = nLength - nBase - 6;
    std::vector<uint8_t> vecComplete;
    switch (nType)
    {
    case 0x20:
        if (m_config.bAnswerConnect)
            QueueMessageLocked(nUnit, 0x20, {});
        break;
    case 0x22:
        if (AddPart(m_envelope, nOffset, nRemaining, p + 6, nCapacity, vecComplete))
        {
            m_vecEnvelopes.push_back(vecComplete);
            if (m_config.bAnswerEnvelopes && m_fnHandler)
            {
                const std::vector<uint8_t> vecAnswer = m_fnHandler(vecComplete);
                if (!vecAnswer.empty())
                    QueueMessageLocked(1, 0x22, vecAnswer);
            }
        }
        break;
    case 0x24:
        if (AddPart(m_discovery, nOffset, nRemaining, p + 6, nCapacity, vecComplete))
        {
            m_vecDiscovery.push_back(vecComplete);
            const bool bWrapped = !vecComplete.empty() && vecComplete[0] == 0xA0;
            if ((m_config.discovery == SimKeyboardConfig::DISCOVERY_BODY && !bWrapped) ||
                (m_config.discovery == SimKeyboardConfig::DISCOVERY_WRAPPED_ONLY && bWrapped))
                QueueMessageLocked(nUnit, 0x24, DiscoveryAnswer());
        }
        break;
    default:
        break;  // 0x21 and 0x81 are only recorded
    }
    return nLength;
}

void CSimKeyboard::QueueMessageLocked(uint8_t nUnit, uint8_t nType, const std::vector<uint8_t>& vecData)
{
    const int nCapacity = InputCapacity();
    size_t nSent = 0;
    do
    {
        const size_t nPart = std::min(static_cast<size_t>(nCapacity), vecData.size() - nSent);
        const size_t nLeft = vecData.size() - nSent;
        std::vector<uint8_t> vecLayout(6 + nPart, 0);
        vecLayout[0] = nUnit;
        vecLayout[1] = nType;
        vecLayout[2] = static_cast<uint8_t>(nSent);
        vecLayout[3] = static_cast<uint8_t>(nSent >> 8);
        vecLayout[4] = static_cast<uint8_t>(nLeft);
        vecLayout[5] = static_cast<uint8_t>(nLeft >> 8);
        if (nPart > 0)
            std::memcpy(vecLayout.data() + 6, vecData.data() + nSent, nPart);
        QueueLayoutLocked(vecLayout);
        nSent += nPart;
    } while (nSent < vecData.size());
}

void CSimKeyboard::QueueLayoutLocked(const std::vector<uint8_t>& vecLayout)
{
    // The kernel hands out unnumbered reports without an ID byte: 63 bytes here; numbered
    // ones with the ID (our unit byte) first: 64 bytes.
    const size_t nSize = static_cast<size_t>(m_config.bNumberedReports ? kReportLength : kReportLength - 1);
    std::vector<uint8_t> vecReport(nSize, 0);
    std::memcpy(vecReport.data(), vecLayout.data(), std::min(nSize, vecLayout.size()));
    if (m_queInput.size() < kMaxQueued)
        m_queInput.push_back(std::move(vecReport));
    m_cv.notify_all();
}

int CSimKeyboard::ReadInput(uint8_t* pBuf, int nSize, int nTimeoutMs, int nStopFd)
{
    const auto tpDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    std::unique_lock<std::mutex> lock(m_mtx);
    for (;;)
    {
        if (!m_bPlugged)
            return os::OS_ERR_CLOSED;
        if (!m_queInput.empty())
        {
            std::vector<uint8_t> vecReport = std::move(m_queInput.front());
            m_queInput.pop_front();
            const int n = std::min(nSize, static_cast<int>(vecReport.size()));
            std::memcpy(pBuf, vecReport.data(), static_cast<size_t>(n));
            return n;
        }
        if (StopRequested(nStopFd))
            return os::OS_ERR_STOPPED;
        if (std::chrono::steady_clock::now() >= tpDeadline)
            return os::OS_ERR_TIMEOUT;
        m_cv.wait_for(lock, std::chrono::milliseconds(kSliceMs));
    }
}

void CSimKeyboard::Unplug()
{
    std::lock_guard<std::mutex> lock(m_mtx);
    m_bPlugged = false;
    m_cv.notify_all();
}

bool CSimKeyboard::IsPlugged() const
{
    std::lock_guard<std::mutex> lock(m_mtx);
    return m_bPlugged;
}

void CSimKeyboard::SetEnvelopeHandler(EnvelopeHandler fnHandler)
{
    std::lock_guard<std::mutex> lock(m_mtx);
    m_fnHandler = std::move(fnHandler);
}

void CSimKeyboard::SendEnvelope(const std::vector<uint8_t>& vecEnvelope)
{
    std::lock_guard<std::mutex> lock(m_mtx);
    QueueMessageLocked(1, 0x22, vecEnvelope);
}

void CSimKeyboard::SendRawReport(const std::vector<uint8_t>& vecLayout)
{
    std::lock_guard<std::mutex> lock(m_mtx);
    QueueLayoutLocked(vecLayout);
}

std::vector<std::vector<uint8_t>> CSimKeyboard::OutputReports() const
{
    std::lock_guard<std::mutex> lock(m_mtx);
    return m_vecOutput;
}

std::vector<uint8_t> CSimKeyboard::OutputTypes() const
{
    std::lock_guard<std::mutex> lock(m_mtx);
    std::vector<uint8_t> vec;
    const size_t nBase = m_config.bNumberedReports ? 0 : 1;
    for (const auto& vecReport : m_vecOutput)
        vec.push_back(vecReport.size() > nBase + 1 ? vecReport[nBase + 1] : 0);
    return vec;
}

std::vector<std::vector<uint8_t>> CSimKeyboard::Envelopes() const
{
    std::lock_guard<std::mutex> lock(m_mtx);
    return m_vecEnvelopes;
}

std::vector<std::vector<uint8_t>> CSimKeyboard::DiscoveryRequests() const
{
    std::lock_guard<std::mutex> lock(m_mtx);
    return m_vecDiscovery;
}
