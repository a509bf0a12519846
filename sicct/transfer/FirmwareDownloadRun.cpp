#include "FirmwareDownloadRun.h"

#include <cstdio>

#include "SicctSession.h"
#include "Texts.h"

namespace
{
bool FileReadable(const std::string& strPath)
{
    if (strPath.empty())
        return false;
    FILE* pFile = std::fopen(strPath.c_str(), "rb");
    if (pFile == nullptr)
        return false;
    std::fclose(pFile);
    return true;
}

void PostIcon(CWorkerSink& sink, ERunEnd eIcon)
{
    sink.Post(wm::WM_REPORT, wm::STATUS_ICON, static_cast<int64_t>(eIcon));
}
} // namespace

CFirmwareDownloadRun::CFirmwareDownloadRun(CWorkerSink& sink, const CSessionSettings* pSettings,
                                           os::CLibraryLoader& loader, SSessionTiming timing)
    : m_sink(sink), m_pSettings(pSettings), m_loader(loader), m_timing(timing)
{
}

bool CFirmwareDownloadRun::IsCtApiMode(int nConnectionType)
{
    return nConnectionType == 0 || nConnectionType == 1 || nConnectionType == 4;
}

bool CFirmwareDownloadRun::LastPacketEndsDownload(int32_t nVersion)
{
    return nVersion != -1 && nVersion < FIRST_VERSION_WITH_FINISH;
}

EFirmwareCheck CFirmwareDownloadRun::Check(const SFirmwareDownloadParams& params)
{
    if (params.strFirmwarePath.empty())
        return EFirmwareCheck::NoFirmwarePath;
    if (!FileReadable(params.strFirmwarePath))
        return EFirmwareCheck::FirmwareUnreadable;
    if (IsCtApiMode(params.nConnectionType) && !FileReadable(params.strCtApiPath))
        return EFirmwareCheck::CtApiLibraryMissing;
    return EFirmwareCheck::Ok;
}

ERunEnd CFirmwareDownloadRun::Run(const SFirmwareDownloadParams& params, std::atomic<bool>& bCancel)
{
    const EFirmwareCheck eCheck = Check(params);
    if (eCheck != EFirmwareCheck::Ok)
    {
        if (eCheck == EFirmwareCheck::CtApiLibraryMissing)
            PostIcon(m_sink, ERunEnd::Red);
        return ERunEnd::Red;
    }

    bool bIconSet = false;
    ERunEnd eEnd = ERunEnd::Red;
    bool bFailed = IsCtApiMode(params.nConnectionType) ? !RunCtApi(params, bCancel)
                                                       : !RunDirect(params, bCancel, bIconSet);
    if (bIconSet)
        eEnd = ERunEnd::Yellow;  // only the final session close failed

    if (bCancel)
    {
        m_sink.Report(1999);
        if (!bFailed)
        {
            PostIcon(m_sink, ERunEnd::Yellow);
            eEnd = ERunEnd::Yellow;
            bFailed = true;
            bIconSet = true;
        }
    }
    if (!bIconSet)
    {
        eEnd = bFailed ? ERunEnd::Red : ERunEnd::Green;
        PostIcon(m_sink, eEnd);
    }
    m_sink.Post(wm::WM_BUSY, 0);
    m_sink.Post(wm::WM_OPERATION, 1);
    return eEnd;
}

bool CFirmwareDownloadRun::RunDirect(const SFirmwareDownloadParams& params, std::atomic<bool>& bCancel, bool& bIconSet)
{
    CSicctSession session(m_sink, m_pSettings, m_timing);
    session.SetSicctVersion(static_cast<uint8_t>(params.nSicctVersion >> 8),
                            static_cast<uint8_t>(params.nSicctVersion & 0xFF));
    session.SetCredentials(params.strUser, params.strPassword);

    uint8_t nProtocol = params.nProtocol;
    bool bFailed = !session.Connect(params.strAddress, params.nPort, nProtocol);
    if (!bFailed && !bCancel)
    {
        const bool bOpened = session.OpenCtSession(bCancel);
        bFailed = !bOpened;
        bool bLastPacketEndsDownload = false;
        if (bOpened && !bCancel)
        {
            ManufacturerInfo info;
            bFailed = !session.GetManufacturerStatus(info, bCancel);
            if (!bFailed && !bCancel)
            {
                m_sink.Post(wm::WM_REPORT, wm::REPORT_PAYLOAD_TEXT,
                            WorkerPayload{texts::FormatPattern(runtexts::kFirmwareVersion, info.strVersion)});
                bLastPacketEndsDownload = LastPacketEndsDownload(info.nVersion);
                bFailed = !session.InitDownload(bCancel);
            }
        }
        if (!bFailed && !bCancel)
        {
            bFailed = !session.SendFirmwareFile(params.strFirmwarePath, bLastPacketEndsDownload, bCancel);
            if (!bLastPacketEndsDownload && !bFailed && !bCancel)
                bFailed = !session.FinishDownload(bCancel);
        }
        // The session is closed also after a failed open: the terminal may hold a half-open one.
        if (!session.CloseCtSession(bCancel) && !bFailed)
        {
            // Typically the terminal restarts with the new firmware before it answers.
            PostIcon(m_sink, ERunEnd::Yellow);
            bIconSet = true;
        }
    }
    session.Disconnect();
    return !bFailed;
}

bool CFirmwareDownloadRun::RunCtApi(const SFirmwareDownloadParams& params, std::atomic<bool>& bCancel)
{
    CCtApiWorker worker(m_loader, m_sink);
    worker.SetSicctVersion(params.nSicctVersion);
    worker.SetPacketSize(CTAPI_PACKET_SIZE);
    if (m_fnResetWait)
        worker.SetResetWait(m_fnResetWait);
    m_sink.Post(wm::WM_PACKET_SIZE, CTAPI_PACKET_SIZE);
    return worker.DownloadFirmware(params.strCtApiPath, params.nCtApiPort, params.strFirmwarePath, bCancel);
}
