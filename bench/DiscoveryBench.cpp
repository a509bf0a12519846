// Service discovery under load: 1000 synthetic terminals in one network namespace answer one
// search from another within about 100 ms. Measures the answers lost (target 0) and the wall
// time of GetDevices (target <= 3.2 s: the 3000 ms quiet window after the last answer plus
// the burst). Runs only as root, inside namespaces it creates and deletes.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>

#include "CommonAppData.h"
#include "DeviceInfo.h"
#include "DiscoveryResponder.h"
#include "LanDevice.h"
#include "NetnsPair.h"
#include "TempDir.h"

namespace
{
constexpr int kTerminals = 1000;

long ValueAfter(const std::string& strOut, const std::string& strKey)
{
    const size_t nPos = strOut.find(strKey + " ");
    return nPos == std::string::npos ? -1 : std::atol(strOut.c_str() + nPos + strKey.size() + 1);
}
} // namespace

int main(int argc, char** argv)
{
    const int nRuns = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    CNetnsPair pair("tcbd");
    if (!pair.IsReady())
    {
        std::printf("bench_discovery: skipped (%s)\n", pair.Error().c_str());
        return 0;
    }
    bool bAllOk = true;
    for (int nRun = 1; nRun <= nRuns; ++nRun)
    {
        CNetnsChild responder;
        responder.Start(pair.NameA(), [](int nStopFd, int nOutFd) {
            sim::CDiscoveryResponder r;
            r.AllowNonLoopback(true);
            r.AddSynthetic(kTerminals);
            if (r.Start("0.0.0.0", 4742) != sim::SIM_OK)
            {
                CNetnsChild::WriteLine(nOutFd, "ERROR responder");
                return;
            }
            CNetnsChild::WriteLine(nOutFd, "READY");
            CNetnsChild::WaitForStop(nStopFd, 30000);
            r.Stop();
            CNetnsChild::WriteLine(nOutFd, "SENT " + std::to_string(r.DatagramsSent()));
        });
        if (!responder.WaitForLine("READY", 5000))
        {
            std::printf("bench_discovery: responder did not start: %s\n", responder.Finish(100).c_str());
            return 1;
        }
        CNetnsChild search;
        search.Start(pair.NameB(), [](int, int nOutFd) {
            CTempDir dir;
            CCommonAppData::SetFolderOverride(dir.Path());
            CLanDevice lan;
            std::vector<CDeviceInfo*> vecDevices;
            const auto tpStart = std::chrono::steady_clock::now();
            lan.GetDevices(vecDevices);
            const auto nMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                                   tpStart)
                                 .count();
            CNetnsChild::WriteLine(nOutFd, "FOUND " + std::to_string(vecDevices.size()));
            CNetnsChild::WriteLine(nOutFd, "MS " + std::to_string(nMs));
            for (CDeviceInfo* p : vecDevices)
                delete p;
        });
        const std::string strSearch = search.Finish(20000);
        const std::string strResponder = responder.Finish(5000);
        const long nFound = ValueAfter(strSearch, "FOUND");
        const long nMs = ValueAfter(strSearch, "MS");
        const long nSent = ValueAfter(strResponder, "SENT");
        const long nLost = nFound < 0 ? kTerminals : kTerminals - nFound;
        const bool bLostOk = nLost == 0;
        const bool bTimeOk = nMs >= 0 && nMs <= 3200;
        bAllOk = bAllOk && bLostOk && bTimeOk;
        std::printf("bench_discovery run %d: %d terminals, %ld answers sent, %ld found, lost %ld (target 0) %s; "
                    "GetDevices %.3f s (target <= 3.200 s) %s\n",
                    nRun, kTerminals, nSent, nFound, nLost, bLostOk ? "OK" : "ABOVE TARGET", nMs / 1000.0,
                    bTimeOk ? "OK" : "ABOVE TARGET");
    }
    return bAllOk ? 0 : 1;
}
