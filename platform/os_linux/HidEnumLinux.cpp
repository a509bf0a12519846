#include "HidEnumLinux.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "OsCodes.h"

namespace os
{
namespace
{
namespace fs = std::filesystem;

// sysfs attribute files are small; anything longer is not what we look for.
constexpr std::streamsize kMaxAttributeSize = 4096;
// More nodes than this point at a broken tree, not at a real system.
constexpr size_t kMaxEntries = 1024;

/// The value of KEY=value in a uevent file, empty when missing.
std::string UeventValue(const fs::path& pathFile, const std::string& strKey)
{
    std::ifstream file(pathFile);
    if (!file)
        return {};
    std::string strContent(static_cast<size_t>(kMaxAttributeSize), '\0');
    file.read(strContent.data(), kMaxAttributeSize);
    strContent.resize(static_cast<size_t>(file.gcount()));
    const std::string strPrefix = strKey + "=";
    size_t nPos = 0;
    while (nPos < strContent.size())
    {
        size_t nEnd = strContent.find('\n', nPos);
        if (nEnd == std::string::npos)
            nEnd = strContent.size();
        if (strContent.compare(nPos, strPrefix.size(), strPrefix) == 0)
            return strContent.substr(nPos + strPrefix.size(), nEnd - nPos - strPrefix.size());
        nPos = nEnd + 1;
    }
    return {};
}

/// Number behind "hidraw", or -1 for other names.
long NodeNumber(const std::string& strName)
{
    static const std::string kPrefix = "hidraw";
    if (strName.compare(0, kPrefix.size(), kPrefix) != 0 || strName.size() == kPrefix.size() ||
        strName.size() > kPrefix.size() + 9)
        return -1;
    long nNumber = 0;
    for (size_t i = kPrefix.size(); i < strName.size(); ++i)
    {
        if (strName[i] < '0' || strName[i] > '9')
            return -1;
        nNumber = nNumber * 10 + (strName[i] - '0');
    }
    return nNumber;
}

bool ParseHex(const std::string& strText, unsigned long nMax, unsigned long& nValue)
{
    if (strText.empty() || strText.size() > 8)
        return false;
    nValue = 0;
    for (char c : strText)
    {
        int nDigit = 0;
        if (c >= '0' && c <= '9')
            nDigit = c - '0';
        else if (c >= 'a' && c <= 'f')
            nDigit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            nDigit = c - 'A' + 10;
        else
            return false;
        nValue = nValue * 16 + static_cast<unsigned long>(nDigit);
    }
    return nValue <= nMax;
}
} // namespace

CHidEnumLinux::CHidEnumLinux(std::string strRoot)
    : m_strRoot(std::move(strRoot))
{
}

bool CHidEnumLinux::ParseHidId(const std::string& strValue, HidDeviceEntry& entry)
{
    const size_t nFirst = strValue.find(':');
    const size_t nSecond = nFirst == std::string::npos ? std::string::npos : strValue.find(':', nFirst + 1);
    if (nSecond == std::string::npos)
        return false;
    unsigned long nBus = 0, nVendor = 0, nProduct = 0;
    if (!ParseHex(strValue.substr(0, nFirst), 0xFFFFFFFFUL, nBus) ||
        !ParseHex(strValue.substr(nFirst + 1, nSecond - nFirst - 1), 0xFFFFUL, nVendor) ||
        !ParseHex(strValue.substr(nSecond + 1), 0xFFFFUL, nProduct))
        return false;
    entry.nBusType = static_cast<uint32_t>(nBus);
    entry.nVendorId = static_cast<uint16_t>(nVendor);
    entry.nProductId = static_cast<uint16_t>(nProduct);
    return true;
}

int CHidEnumLinux::Enumerate(std::vector<HidDeviceEntry>& vecDevices) const
{
    const fs::path pathRoot(m_strRoot);
    const fs::path pathClass = pathRoot / "sys/class/hidraw";
    std::error_code ec;
    if (!fs::is_directory(pathClass, ec))
        return OS_ERR_NOT_FOUND;

    std::vector<std::pair<long, HidDeviceEntry>> vecFound;
    for (fs::directory_iterator it(pathClass, ec), end; !ec && it != end && vecFound.size() < kMaxEntries;
         it.increment(ec))
    {
        const std::string strEntry = it->path().filename().string();
        const long nNumber = NodeNumber(strEntry);
        if (nNumber < 0)
            continue;
        HidDeviceEntry entry;
        entry.strSysName = strEntry;
        std::string strDevName = UeventValue(it->path() / "uevent", "DEVNAME");
        // A DEVNAME that climbs out of /dev is not a hidraw node.
        if (strDevName.empty() || strDevName.find("..") != std::string::npos || strDevName.front() == '/')
            strDevName = strEntry;
        entry.strDevicePath = (pathRoot / "dev" / strDevName).string();
        const fs::path pathParent = it->path() / "device/uevent";
        // Without a readable HID_ID the IDs stay 0 and validation rejects the node later.
        (void)ParseHidId(UeventValue(pathParent, "HID_ID"), entry);
        entry.strName = UeventValue(pathParent, "HID_NAME");
        vecFound.emplace_back(nNumber, std::move(entry));
    }
    std::sort(vecFound.begin(), vecFound.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& found : vecFound)
        vecDevices.push_back(std::move(found.second));
    return OS_OK;
}
} // namespace os
