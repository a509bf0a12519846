// The three CT-API entry points of libctapi-sim.so. Each opened card-terminal number is a
// CCtApiSimLink (a plain TCP connection to the simulated terminal); commands travel to it in
// SICCT envelopes. See README.md in this folder for the configuration.
//
// Addressing: dad 1 (the card terminal) goes to envelope address 0x0000, dad 0 (first card)
// to 0x0001, dad n >= 2 to n - 1. On return dad and sad are swapped, as CT-API requires.
//
// Deviation from a real CT-API library, on purpose: CT_init on a number that is still open
// replaces that link instead of failing, because a test may have abandoned a call (and with
// it the link) that the next run in the same process would otherwise trip over.

#include "CtApiSimLink.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#define TC_CTAPI_EXPORT extern "C" __attribute__((visibility("default")))

namespace
{
using ctapisim::CCtApiSimLink;
using ctapisim::SFaultRule;

struct SLinkTable
{
    std::mutex mtx;
    std::map<unsigned short, std::shared_ptr<CCtApiSimLink>> mapLinks;
};

// Calls running inside the library now. A call abandoned by its caller may still run while
// the library is unloaded or the process runs its exit handlers; the table then stays.
std::atomic<int> g_nCallsInside{0};
SLinkTable* g_pTable = nullptr;

struct SCallGuard
{
    SCallGuard() { g_nCallsInside.fetch_add(1); }
    ~SCallGuard() { g_nCallsInside.fetch_sub(1); }
    SCallGuard(const SCallGuard&) = delete;
    SCallGuard& operator=(const SCallGuard&) = delete;
};

SLinkTable& Table()
{
    static SLinkTable* pTable = g_pTable = new SLinkTable;
    return *pTable;
}

// On dlclose (and at exit): the table and every link still open go with the library, unless a
// call is still inside; each load of the library starts a table of its own.
__attribute__((destructor)) void ReleaseTable()
{
    if (g_nCallsInside.load() == 0)
    {
        delete g_pTable;
        g_pTable = nullptr;
    }
}

std::shared_ptr<CCtApiSimLink> FindLink(unsigned short ctn)
{
    SLinkTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mtx);
    const auto it = t.mapLinks.find(ctn);
    return it == t.mapLinks.end() ? nullptr : it->second;
}

uint16_t EnvelopeAddress(unsigned char nDad)
{
    if (nDad == 1)
        return 0x0000;
    if (nDad == 0)
        return 0x0001;
    return static_cast<uint16_t>(nDad - 1);
}

signed char Code(int n)
{
    return static_cast<signed char>(n);
}
} // namespace

TC_CTAPI_EXPORT signed char CT_init(unsigned short ctn, unsigned short pn)
{
    SCallGuard guard;
    (void)pn; // one simulated terminal per configuration; the port number selects nothing
    try
    {
        ctapisim::SSimConfig config;
        std::string strError;
        if (!ctapisim::LoadConfigFromEnvironment(config, strError))
            return Code(ctapisim::CTAPI_ERR_INVALID);
        auto pLink = std::make_shared<CCtApiSimLink>(std::move(config));
        if (const SFaultRule* pRule = pLink->MatchFault(SFaultRule::CALL_INIT, nullptr, 0))
            return Code(pRule->nCode);
        const int nRc = pLink->Connect();
        if (nRc != ctapisim::CTAPI_OK)
            return Code(nRc);
        std::shared_ptr<CCtApiSimLink> pOld;
        {
            SLinkTable& t = Table();
            std::lock_guard<std::mutex> lock(t.mtx);
            pOld = std::exchange(t.mapLinks[ctn], pLink);
        }
        if (pOld)
            pOld->Disconnect();
        return Code(ctapisim::CTAPI_OK);
    }
    catch (...)
    {
        return Code(ctapisim::CTAPI_ERR_HTSI);
    }
}

TC_CTAPI_EXPORT signed char CT_data(unsigned short ctn, unsigned char* dad, unsigned char* sad, unsigned short lenc,
                                    unsigned char* command, unsigned short* lenr, unsigned char* response)
{
    SCallGuard guard;
    try
    {
        if (!dad || !sad || !command || !lenr || !response || lenc < 4)
            return Code(ctapisim::CTAPI_ERR_INVALID);
        std::shared_ptr<CCtApiSimLink> pLink = FindLink(ctn);
        if (!pLink)
            return Code(ctapisim::CTAPI_ERR_INVALID);
        if (const SFaultRule* pRule = pLink->MatchFault(SFaultRule::CALL_DATA, command, lenc))
        {
            if (!pRule->bStall)
                return Code(pRule->nCode);
            // holds no lock while sleeping; the link stays alive through pLink
            std::this_thread::sleep_for(std::chrono::milliseconds(pRule->nStallMs));
        }
        std::vector<uint8_t> vecResponse;
        const int nRc = pLink->Exchange(EnvelopeAddress(*dad), command, lenc, vecResponse);
        if (nRc != ctapisim::CTAPI_OK)
            return Code(nRc);
        if (vecResponse.size() > *lenr)
            return Code(ctapisim::CTAPI_ERR_MEMORY);
        if (!vecResponse.empty())
            std::memcpy(response, vecResponse.data(), vecResponse.size());
        *lenr = static_cast<unsigned short>(vecResponse.size());
        std::swap(*dad, *sad);
        return Code(ctapisim::CTAPI_OK);
    }
    catch (...)
    {
        return Code(ctapisim::CTAPI_ERR_HTSI);
    }
}

TC_CTAPI_EXPORT signed char CT_close(unsigned short ctn)
{
    SCallGuard guard;
    try
    {
        std::shared_ptr<CCtApiSimLink> pLink;
        {
            SLinkTable& t = Table();
            std::lock_guard<std::mutex> lock(t.mtx);
            const auto it = t.mapLinks.find(ctn);
            if (it == t.mapLinks.end())
                return Code(ctapisim::CTAPI_ERR_INVALID);
            pLink = std::move(it->second);
            t.mapLinks.erase(it);
        }
        pLink->Disconnect();
        if (const SFaultRule* pRule = pLink->MatchFault(SFaultRule::CALL_CLOSE, nullptr, 0))
            return Code(pRule->nCode);
        return Code(ctapisim::CTAPI_OK);
    }
    catch (...)
    {
        return Code(ctapisim::CTAPI_ERR_HTSI);
    }
}
