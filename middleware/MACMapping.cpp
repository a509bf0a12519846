#include "MACMapping.h"

#include <tinyxml2.h>

#include <cctype>

#include "CommonAppData.h"
#include "Configuration.h"
#include "MiddlewareCodes.h"
#include "MwTrace.h"
#include "VendorFilter.h"

namespace
{
constexpr size_t kMaxMacText = 17;
constexpr size_t kMaxIpText = 15;

std::string Lower(std::string str)
{
    for (char& c : str)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return str;
}

std::string Attribute(const tinyxml2::XMLElement* pElement, const char* pszName)
{
    const char* psz = pElement->Attribute(pszName);
    return psz ? psz : "";
}
} // namespace

CMACMapping::CMACMapping(std::string strPath)
    : m_strPath(std::move(strPath))
    , m_pDoc(std::make_unique<tinyxml2::XMLDocument>())
{
    if (m_strPath.empty())
        m_strPath = DefaultPath();
}

CMACMapping::~CMACMapping() = default;

std::string CMACMapping::DefaultPath()
{
    CConfiguration config;
    std::string strPath = config.GetMacMappingFilePath();
    if (strPath.empty())
        strPath = CCommonAppData::CtApiFile("ClientTerminalMapping.xml", 400);
    return strPath;
}

bool CMACMapping::Load()
{
    MW_TRACEF(mw::kTraceMacMapping, trace::LEVEL_INFO, 0, "Read xml from %s", m_strPath.c_str());
    MW_TRACEF(mw::kTraceMacMapping, trace::LEVEL_INFO, 0, "Open: %s", m_strPath.c_str());
    m_pDoc->Clear();
    if (m_pDoc->LoadFile(m_strPath.c_str()) != tinyxml2::XML_SUCCESS)
    {
        MW_TRACEF(mw::kTraceMacMapping, trace::LEVEL_INFO, 0, "Error: %s", m_pDoc->ErrorStr());
        m_bLoaded = false;
        return false;
    }
    m_bLoaded = true;
    return true;
}

bool CMACMapping::LoadText(const std::string& strXml)
{
    m_pDoc->Clear();
    m_bLoaded = m_pDoc->Parse(strXml.data(), strXml.size()) == tinyxml2::XML_SUCCESS;
    if (!m_bLoaded)
        MW_TRACEF(mw::kTraceMacMapping, trace::LEVEL_INFO, 0, "Error: %s", m_pDoc->ErrorStr());
    return m_bLoaded;
}

bool CMACMapping::AppendTerminalAddresses(std::string& strTargets)
{
    if (!m_bLoaded && !Load())
        return false;
    const tinyxml2::XMLElement* pMap = m_pDoc->RootElement();
    // The TerminalMap elements may be the document element's children or siblings of it.
    if (pMap != nullptr && std::string(pMap->Name()) != "TerminalMap")
        pMap = pMap->FirstChildElement("TerminalMap");
    for (; pMap != nullptr; pMap = pMap->NextSiblingElement("TerminalMap"))
    {
        const std::string strIp = Attribute(pMap, "TerminalIP");
        if (!strIp.empty())
            strTargets += Lower(strIp) + ";";
    }
    return true;
}

bool CMACMapping::Lookup(const char* pszKeyAttribute, const std::string& strKey, bool bMacFirst, bool bIpAllowed,
                         std::string& strResult)
{
    if (!m_bLoaded && !Load())
        return false;
    const std::string strWanted = Lower(strKey);
    const tinyxml2::XMLElement* pMap = m_pDoc->RootElement();
    if (pMap != nullptr && std::string(pMap->Name()) != "TerminalMap")
        pMap = pMap->FirstChildElement("TerminalMap");
    for (; pMap != nullptr; pMap = pMap->NextSiblingElement("TerminalMap"))
    {
        if (Lower(Attribute(pMap, pszKeyAttribute)) != strWanted)
            continue;
        if (bMacFirst)
        {
            const std::string strMac = Attribute(pMap, "TerminalMAC");
            if (!strMac.empty() && strMac.size() <= kMaxMacText && !CVendorFilter::IsExcluded(strMac))
            {
                strResult = strMac;
                return true;
            }
        }
        if (bIpAllowed)
        {
            const std::string strIp = Attribute(pMap, "TerminalIP");
            if (!strIp.empty() && strIp.size() <= kMaxIpText)
            {
                strResult = strIp;
                return true;
            }
        }
        return false;
    }
    return false;
}

bool CMACMapping::TerminalForClientMac(const std::string& strClientMac, std::string& strResult)
{
    return Lookup("ThinClientMAC", strClientMac, true, true, strResult);
}

bool CMACMapping::TerminalForClientName(const std::string& strClientName, std::string& strResult)
{
    return Lookup("ThinClientName", strClientName, true, true, strResult);
}

bool CMACMapping::TerminalIpForTerminalMac(const std::string& strTerminalMac, std::string& strResult)
{
    return Lookup("TerminalMAC", strTerminalMac, false, true, strResult);
}

bool CMACMapping::TerminalMacForClientIp(const std::string& strClientIp, std::string& strResult)
{
    return Lookup("ThinClientIP", strClientIp, true, false, strResult);
}
