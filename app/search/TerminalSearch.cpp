#include "TerminalSearch.h"

#include <algorithm>

namespace search
{
namespace
{
void DropEmpty(DeviceList& vec)
{
    vec.erase(std::remove(vec.begin(), vec.end(), nullptr), vec.end());
}
} // namespace

DeviceList DiscoverTerminals(CTerminalFinder& finder)
{
    DeviceList vecFound;
    // LAN terminals come first in the list, then the USB devices. A failing transport only
    // loses its own part of the result.
    (void)finder.FindLanTerminals(vecFound);
    (void)finder.FindUsbTerminals(vecFound);
    return vecFound;
}

DeviceList ReadConfiguredTerminals(CTerminalFinder& finder)
{
    DeviceList vecConfigured;
    if (finder.ReadConfiguredTerminals(vecConfigured) != CTerminalFinder::FIND_OK)
        vecConfigured.clear();
    return vecConfigured;
}

void MergeConfiguredPorts(DeviceList& vecFound, DeviceList& vecConfigured)
{
    DropEmpty(vecFound);
    DropEmpty(vecConfigured);
    for (auto& pFound : vecFound)
    {
        const std::string strName = pFound->GetLogicalName();
        // Walk in file order and overwrite at each match: the last match wins. Matched
        // entries are used up so that no other found device takes them again.
        for (auto it = vecConfigured.begin(); it != vecConfigured.end();)
        {
            if ((*it)->GetLogicalName() == strName)
            {
                pFound->SetPort((*it)->GetPort());
                it = vecConfigured.erase(it);
            }
            else
            {
                ++it;
            }
        }
    }
}

DeviceList RunSearch(CTerminalFinder& finder)
{
    DeviceList vecFound = DiscoverTerminals(finder);
    DeviceList vecConfigured = ReadConfiguredTerminals(finder);
    MergeConfiguredPorts(vecFound, vecConfigured);
    return vecFound;
}

int FindRowByMac(const DeviceList& vecRows, const std::string& strMac)
{
    for (size_t i = 0; i < vecRows.size(); ++i)
    {
        if (vecRows[i] && vecRows[i]->GetMacAddress() == strMac)
            return static_cast<int>(i);
    }
    return -1;
}

int ReplaceOrAddTerminalRow(DeviceList& vecRows, std::unique_ptr<CDeviceInfo> pDevice)
{
    if (!pDevice)
        return -1;
    const int nRow = FindRowByMac(vecRows, pDevice->GetMacAddress());
    if (nRow >= 0)
    {
        vecRows[static_cast<size_t>(nRow)] = std::move(pDevice);  // the old record goes here
        return nRow;
    }
    vecRows.push_back(std::move(pDevice));
    return static_cast<int>(vecRows.size()) - 1;
}
} // namespace search
