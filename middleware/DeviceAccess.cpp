#include "DeviceAccess.h"

#include "MwTrace.h"
#include "VersionRecord.h"

const std::vector<std::string>& CDeviceAccess::AcceptedCompanyNames()
{
    // Our own libraries carry "Vantor"; older builds wrote the brand in capitals.
    static const std::vector<std::string> vecNames{"Vantor", "VANTOR"};
    return vecNames;
}

bool CDeviceAccess::CheckLibrary(os::CVersionReader& reader, const std::string& strFile, std::string& strVersion,
                                 bool& bAccepted)
{
    bAccepted = false;
    strVersion.clear();
    os::SVersionRecord record;
    if (reader.ReadFromFile(strFile, record) != 0)
        return false;
    const os::SFixedFileInfo& fixed = record.fixed;
    strVersion = mw::StrFormat("%d.%d.%d.%d", static_cast<int>(fixed.nFileVersionMS >> 16),
                               static_cast<int>(fixed.nFileVersionMS & 0xFF),
                               static_cast<int>(fixed.nFileVersionLS >> 16),
                               static_cast<int>(fixed.nFileVersionLS & 0xFF));
    std::string strCompany;
    if (!record.vecTranslations.empty())
    {
        const os::SVersionTranslation& tr = record.vecTranslations.front();
        record.QueryString(mw::StrFormat("StringFileInfo\\%04X%04X\\CompanyName", tr.nLanguage, tr.nCodePage),
                           strCompany);
    }
    for (const std::string& strName : AcceptedCompanyNames())
    {
        if (strCompany.find(strName) != std::string::npos)
        {
            bAccepted = true;
            break;
        }
    }
    if (!bAccepted)
        MW_TRACEF("", trace::LEVEL_BANNER, 0, "CTVNT no vantor lib name = %s", strCompany.c_str());
    return true;
}
