#pragma once
// A CT-API library inside the test binary: the loader hands out a CLibrary whose symbols are
// the three functions below, which play what the current test scripted. The script is
// process-wide (the entry points are plain functions); Reset() it in SetUp.

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Library.h"

struct SFakeCtApiScript
{
    std::mutex mtx;
    // answer of CT_data: returns the code, fills the answer
    std::function<int(const std::vector<uint8_t>& vecCommand, std::vector<uint8_t>& vecAnswer)> fnData;
    int nInitCode = 0;
    int nCloseCode = 0;
    std::vector<std::vector<uint8_t>> vecCommands;
    std::vector<unsigned short> vecInitPorts;
    int nCloseCalls = 0;
    std::atomic<int> nDataCalls{0};
    unsigned short nLastLenr = 0;
    unsigned char nLastDad = 0, nLastSad = 0;
    // blocking CT_data (for the packet time-out): calls with this INS wait until Release()
    int nBlockIns = -1;
    bool bReleased = false;
    std::condition_variable cvRelease;
    std::atomic<int> nBlockedReturned{0};

    void Reset()
    {
        std::lock_guard<std::mutex> lock(mtx);
        fnData = [](const std::vector<uint8_t>&, std::vector<uint8_t>& a) {
            a = {0x90, 0x00};
            return 0;
        };
        nInitCode = 0;
        nCloseCode = 0;
        vecCommands.clear();
        vecInitPorts.clear();
        nCloseCalls = 0;
        nDataCalls = 0;
        nBlockIns = -1;
        bReleased = false;
        nBlockedReturned = 0;
    }
    void Release()
    {
        {
            std::lock_guard<std::mutex> lock(mtx);
            bReleased = true;
        }
        cvRelease.notify_all();
    }
};

inline SFakeCtApiScript& FakeScript()
{
    static SFakeCtApiScript* p = new SFakeCtApiScript; // outlives late calls at exit
    return *p;
}

inline signed char FakeCtInit(unsigned short, unsigned short pn)
{
    auto& s = FakeScript();
    std::lock_guard<std::mutex> lock(s.mtx);
    s.vecInitPorts.push_back(pn);
    return static_cast<signed char>(s.nInitCode);
}

inline signed char FakeCtData(unsigned short, unsigned char* dad, unsigned char* sad, unsigned short lenc,
                              unsigned char* command, unsigned short* lenr, unsigned char* response)
{
    auto& s = FakeScript();
    ++s.nDataCalls;
    std::vector<uint8_t> vecCommand(command, command + lenc);
    std::function<int(const std::vector<uint8_t>&, std::vector<uint8_t>&)> fn;
    {
        std::unique_lock<std::mutex> lock(s.mtx);
        s.vecCommands.push_back(vecCommand);
        s.nLastLenr = *lenr;
        s.nLastDad = *dad;
        s.nLastSad = *sad;
        if (lenc >= 2 && s.nBlockIns == command[1])
        {
            s.cvRelease.wait(lock, [&] { return s.bReleased; });
            ++s.nBlockedReturned;
            return -10;
        }
        fn = s.fnData;
    }
    std::vector<uint8_t> vecAnswer;
    const int nCode = fn(vecCommand, vecAnswer);
    if (vecAnswer.size() > *lenr)
        return -11;
    if (!vecAnswer.empty())
        std::memcpy(response, vecAnswer.data(), vecAnswer.size());
    *lenr = static_cast<unsigned short>(vecAnswer.size());
    std::swap(*dad, *sad);
    return static_cast<signed char>(nCode);
}

inline signed char FakeCtClose(unsigned short)
{
    auto& s = FakeScript();
    std::lock_guard<std::mutex> lock(s.mtx);
    ++s.nCloseCalls;
    return static_cast<signed char>(s.nCloseCode);
}

class CFakeCtApiLibrary final : public os::CLibrary
{
public:
    explicit CFakeCtApiLibrary(std::set<std::string> setMissing) : m_setMissing(std::move(setMissing)) {}
    void* Symbol(const std::string& strName) override
    {
        if (m_setMissing.count(strName))
            return nullptr;
        if (strName == "CT_init")
            return reinterpret_cast<void*>(&FakeCtInit);
        if (strName == "CT_data")
            return reinterpret_cast<void*>(&FakeCtData);
        if (strName == "CT_close")
            return reinterpret_cast<void*>(&FakeCtClose);
        return nullptr;
    }

private:
    std::set<std::string> m_setMissing;
};

class CFakeCtApiLoader final : public os::CLibraryLoader
{
public:
    std::unique_ptr<os::CLibrary> Load(const std::string& strPath, std::string& strError) override
    {
        ++m_nLoads;
        m_strLastPath = strPath;
        if (m_bFail)
        {
            strError = "not found";
            return nullptr;
        }
        return std::make_unique<CFakeCtApiLibrary>(m_setMissing);
    }
    bool m_bFail = false;
    std::set<std::string> m_setMissing;
    int m_nLoads = 0;
    std::string m_strLastPath;
};
