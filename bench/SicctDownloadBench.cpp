// Firmware download throughput of CSicctSession: 4 MiB in packets of 4096 bytes to the
// terminal simulator on loopback (TLS 1.2), against a bare loop that sends the same
// envelopes over its own blocking TLS socket and reads each answer before the next packet.
// Prints both times and the ratio bare / session (higher is better; 1.0 = no overhead).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/ssl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <vector>

#include "BenchSupport.h"
#include "SicctSession.h"
#include "SicctWire.h"
#include "TerminalSim.h"
#include "WorkerSink.h"

namespace
{
constexpr size_t FILE_SIZE = 4 * 1024 * 1024;
constexpr int PACKET = 4096;
constexpr int DEFAULT_RUNS = 15;

class CNullSink final : public CWorkerSink
{
public:
    void Deliver(SWorkerMessage) override {}
};

/// The bare loop: blocking socket, blocking TLS, one envelope out, one answer in.
class CBareClient
{
public:
    bool Connect(uint16_t nPort)
    {
        m_nFd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int nOne = 1;
        ::setsockopt(m_nFd, IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof(nOne));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(nPort);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_nFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0)
            return false;
        m_pCtx = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_min_proto_version(m_pCtx, TLS1_2_VERSION);
        SSL_CTX_set_max_proto_version(m_pCtx, TLS1_2_VERSION);
        SSL_CTX_set_verify(m_pCtx, SSL_VERIFY_NONE, nullptr);
        m_pSsl = SSL_new(m_pCtx);
        SSL_set_fd(m_pSsl, m_nFd);
        return SSL_connect(m_pSsl) == 1;
    }
    ~CBareClient()
    {
        if (m_pSsl)
        {
            SSL_shutdown(m_pSsl);
            SSL_free(m_pSsl);
        }
        if (m_pCtx)
            SSL_CTX_free(m_pCtx);
        if (m_nFd >= 0)
            ::close(m_nFd);
    }
    /// Sends one APDU and returns the answer's status word (0 on failure).
    int Exchange(const std::vector<uint8_t>& vecApdu)
    {
        const auto vecMsg = sicct::BuildEnvelope(sicct::C_COMMAND, 0, m_nSeq++, vecApdu.data(), vecApdu.size());
        if (SSL_write(m_pSsl, vecMsg.data(), static_cast<int>(vecMsg.size())) <= 0)
            return 0;
        for (;;)
        {
            uint8_t aHeader[10];
            if (!ReadAll(aHeader, 10))
                return 0;
            sicct::SEnvelopeHeader header;
            sicct::ParseEnvelopeHeader(aHeader, 10, header);
            std::vector<uint8_t> vecBody(header.nBodyLength);
            if (!ReadAll(vecBody.data(), vecBody.size()))
                return 0;
            if (header.nType == sicct::R_COMMAND && vecBody.size() >= 2)
                return (vecBody[vecBody.size() - 2] << 8) | vecBody.back();
        }
    }

private:
    bool ReadAll(uint8_t* p, size_t n)
    {
        while (n > 0)
        {
            const int r = SSL_read(m_pSsl, p, static_cast<int>(n));
            if (r <= 0)
                return false;
            p += r;
            n -= static_cast<size_t>(r);
        }
        return true;
    }
    int m_nFd = -1;
    SSL_CTX* m_pCtx = nullptr;
    SSL* m_pSsl = nullptr;
    uint16_t m_nSeq = 0;
};

bool BareDownload(uint16_t nPort, const std::vector<uint8_t>& vecFile)
{
    CBareClient client;
    if (!client.Connect(nPort))
        return false;
    std::vector<uint8_t> vecApdu;
    sicct::BuildSessionOpen("admin", "12345678", 0x69, vecApdu);
    if (client.Exchange(vecApdu) != 0x9000)
        return false;
    sicct::BuildTableCommand(sicct::CMD_DOWNLOAD_INIT, {}, vecApdu);
    if (client.Exchange(vecApdu) != 0x9000)
        return false;
    for (size_t nOffset = 0; nOffset < vecFile.size(); nOffset += PACKET)
    {
        const size_t n = std::min<size_t>(PACKET, vecFile.size() - nOffset);
        sicct::BuildFirmwarePacket(vecFile.data() + nOffset, n, false, vecApdu);
        if (client.Exchange(vecApdu) != 0x9000)
            return false;
    }
    return true;
}

bool SessionDownload(uint16_t nPort, const std::string& strPath)
{
    CNullSink sink;
    SSessionTiming timing;
    timing.nCloseDelayMs = 0;
    CSicctSession session(sink, nullptr, timing);
    session.SetCredentials("admin", "12345678");
    std::atomic<bool> bCancel{false};
    uint8_t nProtocol = 0x30;
    bool bOk = session.Connect("127.0.0.1", nPort, nProtocol) && session.OpenCtSession(bCancel) &&
               session.InitDownload(bCancel) && session.SendFirmwareFile(strPath, false, bCancel);
    session.Disconnect();
    return bOk;
}
} // namespace

int main(int argc, char** argv)
{
    // Optional argument: the number of alternating runs (the best of each side counts).
    const int RUNS = argc > 1 ? std::max(1, std::atoi(argv[1])) : DEFAULT_RUNS;
    bench::CScratchDir dir;
    if (!dir.Valid())
        return 1;
    std::vector<uint8_t> vecFile(FILE_SIZE);
    std::mt19937 gen(1);
    for (auto& b : vecFile)
        b = static_cast<uint8_t>(gen());
    const std::string strPath = dir.File("firmware.bin");
    std::ofstream(strPath, std::ios::binary).write(reinterpret_cast<const char*>(vecFile.data()),
                                                   static_cast<std::streamsize>(vecFile.size()));

    sim::TerminalConfig config;
    config.nProtocolCode = 0x30;
    config.nMaxPacketSize = PACKET;
    sim::CTerminalSim terminal(config);
    std::string strError;
    if (terminal.Start(&strError) != sim::SIM_OK)
    {
        std::fprintf(stderr, "simulator: %s\n", strError.c_str());
        return 1;
    }
    const uint16_t nPort = terminal.GetPort();

    // The two alternate, so that a change of load on the machine hits both alike; the best
    // run of each counts.
    bool bOk = true;
    double dBare = 1e300;
    double dSession = 1e300;
    const bool bVerbose = std::getenv("BENCH_VERBOSE") != nullptr;
    for (int i = 0; i < RUNS; ++i)
    {
        const double dB = bench::BestSeconds(1, [&] { bOk = BareDownload(nPort, vecFile) && bOk; });
        const double dS = bench::BestSeconds(1, [&] { bOk = SessionDownload(nPort, strPath) && bOk; });
        if (bVerbose)
            std::printf("run %d: bare %.4f s, session %.4f s\n", i + 1, dB, dS);
        dBare = std::min(dBare, dB);
        dSession = std::min(dSession, dS);
    }
    if (!bOk || terminal.GetDownloadImage() != vecFile)
    {
        std::fprintf(stderr, "download failed or image differs\n");
        return 1;
    }
    std::printf("firmware download 4 MiB / 4096: bare loop %.3f s (%.1f MiB/s), CSicctSession %.3f s (%.1f MiB/s)\n",
                dBare, 4.0 / dBare, dSession, 4.0 / dSession);
    return bench::ReportRatio("sicct_download", dBare / dSession, 0.9) ? 0 : 2;
}
