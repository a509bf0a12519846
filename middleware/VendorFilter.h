#pragma once
#include <string>
#include <vector>

/// The vendor exclusion list of the searches: MAC prefixes ("XX:XX:XX", upper case) of
/// devices that answer SICCT discovery but are no card terminals this tool maintains.
/// A MAC text is excluded when it starts with one of the prefixes (compared upper-cased).
/// The list starts empty: the tool serves terminals of every maker. Safe from any thread.
class CVendorFilter
{
public:
    /// True when the device with this MAC text is to be left out of search results.
    static bool IsExcluded(const std::string& strMac);
    /// Replaces the list (entries are upper-cased); at most eight prefixes are kept.
    static void SetExcludedPrefixes(const std::vector<std::string>& vecPrefixes);
    static std::vector<std::string> GetExcludedPrefixes();
};
