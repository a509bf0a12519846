#pragma once
// Drives terminalctl in-process: streams are buffers, the finder and settings are doubles
// or the real middleware finder pointed at a test responder, and the session waits shortened.
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ClockLinux.h"
#include "DeviceInfo.h"
#include "FakeSettingsStore.h"
#include "LibraryLoaderLinux.h"
#include "PasswordSource.h"
#include "TerminalCtl.h"
#include "TerminalFinder.h"

/// A finder with prepared answers; counts the queries.
class CFakeFinder final : public CTerminalFinder
{
public:
    std::vector<CDeviceInfo> vecLan, vecUsb, vecConfigured;
    std::map<uint32_t, CDeviceInfo> mapQuery;
    int nQueries = 0;

    int FindLanTerminals(std::vector<std::unique_ptr<CDeviceInfo>>& vec) override
    {
        for (const auto& d : vecLan)
            vec.push_back(std::make_unique<CDeviceInfo>(d));
        return FIND_OK;
    }
    int FindUsbTerminals(std::vector<std::unique_ptr<CDeviceInfo>>& vec) override
    {
        for (const auto& d : vecUsb)
            vec.push_back(std::make_unique<CDeviceInfo>(d));
        return FIND_OK;
    }
    int ReadConfiguredTerminals(std::vector<std::unique_ptr<CDeviceInfo>>& vec) override
    {
        for (const auto& d : vecConfigured)
            vec.push_back(std::make_unique<CDeviceInfo>(d));
        return FIND_OK;
    }
    std::unique_ptr<CDeviceInfo> QueryTerminalByAddress(uint32_t nIpv4) override
    {
        ++nQueries;
        auto it = mapQuery.find(nIpv4);
        return it == mapQuery.end() ? nullptr : std::make_unique<CDeviceInfo>(it->second);
    }
};

inline CDeviceInfo LanDevice(const std::string& strName, const std::string& strIp, const std::string& strMac,
                             uint16_t nPort, int nProtocol, uint16_t nVersion = 0x0114)
{
    CDeviceInfo d;
    d.SetConnectionType(3);
    d.SetName(strName);
    d.SetIpAddress(strIp);
    d.SetMacAddress(strMac);
    d.SetNetworkPort(nPort);
    d.SetSicctVersion(nVersion);
    d.SetLogicalName(strIp + ":" + std::to_string(nPort) + ":" + std::to_string(nProtocol));
    return d;
}

/// One terminalctl invocation with captured streams.
class CCliHarness
{
public:
    std::ostringstream out, err;
    std::istringstream in;
    CFakeSettingsStore store;
    os::CLibraryLoaderLinux loader;
    os::CClockLinux clock;
    std::atomic<bool> bCancel{false};
    CTerminalFinder* pFinder = nullptr;
    int nPasswordPrompts = 0;
    std::string strPromptAnswer = "12345678";
    bool bProgressBar = false;
    SSessionTiming timing = FastTiming();

    /// Waits cut short so that cancelled and silent runs end within seconds.
    static SSessionTiming FastTiming()
    {
        SSessionTiming t;
        t.nWaitSliceMs = 50;
        t.nCancelMinSlices = 4;
        t.nMaxSlices = 100;
        t.nPollMs = 100;
        t.nCloseDelayMs = 10;
        t.nConnectTimeoutMs = 3000;
        t.nHandshakeTimeoutMs = 5000;
        return t;
    }

    int Run(std::vector<std::string> vecArgs, const std::string& strStdin = {})
    {
        out.str({});
        err.str({});
        in.clear();
        in.str(strStdin);
        SCliEnvironment env;
        env.pOut = &out;
        env.pErr = &err;
        env.pIn = &in;
        env.pStore = &store;
        env.pLoader = &loader;
        env.pClock = &clock;
        env.pFinder = pFinder;
        env.pCancel = &bCancel;
        env.bProgressBar = bProgressBar;
        env.timing = timing;
        env.fnAskPassword = [this](const std::string&, CSecretText& secret) {
            ++nPasswordPrompts;
            for (char c : strPromptAnswer)
                secret.Append(c);
            return static_cast<int>(cli::PASSWORD_OK);
        };
        vecArgs.insert(vecArgs.begin(), "terminalctl");
        std::vector<const char*> vecArgv;
        for (const auto& s : vecArgs)
            vecArgv.push_back(s.c_str());
        CTerminalCtl ctl(env);
        return ctl.Run(static_cast<int>(vecArgv.size()), vecArgv.data());
    }
};
