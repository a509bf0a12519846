#include "CertListDownloadRun.h"

#include <cstdio>
#include <memory>

#include "SicctSession.h"
#include "Texts.h"

namespace
{
struct SFileClose
{
    void operator()(FILE* p) const { std::fclose(p); }
};
} // namespace

CCertListDownloadRun::CCertListDownloadRun(CWorkerSink& sink, const CSessionSettings* pSettings, SSessionTiming timing)
    : m_sink(sink), m_pSettings(pSettings), m_timing(timing)
{
}

void CCertListDownloadRun::Log(const std::string& strText)
{
    if (!strText.empty())
        m_sink.Post(wm::WM_REPORT, wm::REPORT_PAYLOAD_TEXT, WorkerPayload{strText});
}

ECertFileResult CCertListDownloadRun::LoadFile(const std::string& strPath)
{
    m_vecData.clear();
    m_bLoaded = false;
    std::unique_ptr<FILE, SFileClose> pFile(strPath.empty() ? nullptr : std::fopen(strPath.c_str(), "rb"));
    if (!pFile)
    {
        Log(kTextUnreadable);
        return ECertFileResult::Unreadable;
    }
    // Read in chunks up to the end: the size of a special file is not known beforehand, and a
    // list above one command's limit is still read so that the session can refuse it by name.
    std::vector<uint8_t> vecChunk(64 * 1024);
    size_t nRead = 0;
    while ((nRead = std::fread(vecChunk.data(), 1, vecChunk.size(), pFile.get())) > 0)
    {
        m_vecData.insert(m_vecData.end(), vecChunk.begin(), vecChunk.begin() + static_cast<ptrdiff_t>(nRead));
        if (m_vecData.size() > 16u * 1024 * 1024)
            break;  // far beyond any list a terminal takes; the write refuses it anyway
    }
    if (m_vecData.empty())
    {
        Log(kTextNoCertificates);
        return ECertFileResult::Empty;
    }
    m_bLoaded = true;
    return ECertFileResult::Ok;
}

ERunEnd CCertListDownloadRun::Transfer(const SCertListDownloadParams& params, std::atomic<bool>* pCancel)
{
    std::atomic<bool> bNoCancel{false};
    std::atomic<bool>& bCancel = pCancel != nullptr ? *pCancel : bNoCancel;
    if (!m_bLoaded)
    {
        m_sink.Post(wm::WM_OPERATION, 1);
        return ERunEnd::Red;
    }

    bool bWritten = false;
    {
        CSicctSession session(m_sink, m_pSettings, m_timing);
        session.SetSicctVersion(static_cast<uint8_t>(params.nSicctVersion >> 8),
                                static_cast<uint8_t>(params.nSicctVersion & 0xFF));
        session.SetCredentials(params.strUser, params.strPassword);
        uint8_t nProtocol = params.nProtocol;
        if (session.Connect(params.strAddress, params.nPort, nProtocol))
        {
            if (session.OpenCtSession(bCancel))
            {
                ManufacturerInfo info;
                if (session.GetManufacturerStatus(info, bCancel))
                {
                    Log(texts::FormatPattern(runtexts::kFirmwareVersion, info.strVersion));
                    Log(kTextWriting);
                    bWritten = session.WriteCertificateList(m_vecData.data(), m_vecData.size());
                    if (!bWritten)
                        Log(kTextFailed);
                }
                session.CloseCtSession(bCancel);
            }
        }
        session.Disconnect();
    }
    m_sink.Post(wm::WM_OPERATION, 1);
    return bWritten ? ERunEnd::Green : ERunEnd::Red;
}

ERunEnd CCertListDownloadRun::Run(const SCertListDownloadParams& params, const std::string& strPath,
                                  std::atomic<bool>* pCancel)
{
    if (LoadFile(strPath) != ECertFileResult::Ok)
    {
        m_sink.Post(wm::WM_OPERATION, 1);
        return ERunEnd::Red;
    }
    return Transfer(params, pCancel);
}
