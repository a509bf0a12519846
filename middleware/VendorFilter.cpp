#include "VendorFilter.h"

#include <cctype>
#include <mutex>

namespace
{
std::mutex g_mtxFilter;
std::vector<std::string> g_vecPrefixes;
constexpr size_t kMaxPrefixes = 8;

std::string Upper(std::string str)
{
    for (char& c : str)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return str;
}
} // namespace

bool CVendorFilter::IsExcluded(const std::string& strMac)
{
    const std::string strUpper = Upper(strMac);
    std::lock_guard<std::mutex> lock(g_mtxFilter);
    for (const std::string& strPrefix : g_vecPrefixes)
    {
        if (!strPrefix.empty() && strUpper.compare(0, strPrefix.size(), strPrefix) == 0)
            return true;
    }
    return false;
}

void CVendorFilter::SetExcludedPrefixes(const std::vector<std::string>& vecPrefixes)
{
    std::lock_guard<std::mutex> lock(g_mtxFilter);
    g_vecPrefixes.clear();
    for (const std::string& str : vecPrefixes)
    {
        if (g_vecPrefixes.size() == kMaxPrefixes)
            break;
        g_vecPrefixes.push_back(Upper(str));
    }
}

std::vector<std::string> CVendorFilter::GetExcludedPrefixes()
{
    std::lock_guard<std::mutex> lock(g_mtxFilter);
    return g_vecPrefixes;
}
