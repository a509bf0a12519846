#include "Configuration.h"

#include <tinyxml2.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "CommonAppData.h"
#include "Logging.h"
#include "MiddlewareCodes.h"
#include "MwTrace.h"

using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;

std::atomic<bool> CConfiguration::s_bHandleLanKeepalive{false};
std::atomic<bool> CConfiguration::s_bSearchLanDevices{false};

namespace
{
constexpr const char* kRoot = "root";
constexpr const char* kTerminals = "Terminals";
constexpr const char* kTerminal = "Terminal";
// A redirection chain deeper than this is treated like a loop: real set-ups use one step.
constexpr size_t kMaxRedirectDepth = 16;

const char* SwitchName(int nSwitch)
{
    switch (nSwitch)
    {
    case CConfiguration::SWITCH_DEBUG_OUTPUT:
        return "EnableDebugOutput";
    case CConfiguration::SWITCH_EVENT_LOG_OUTPUT:
        return "EnableEventLogOutput";
    case CConfiguration::SWITCH_SEARCH_LAN:
        return "SearchLANDevices";
    default:
        return nullptr;
    }
}

std::string ChildText(const XMLElement* pParent, const char* pszName)
{
    if (pParent == nullptr)
        return {};
    const XMLElement* pChild = pParent->FirstChildElement(pszName);
    if (pChild == nullptr || pChild->GetText() == nullptr)
        return {};
    return pChild->GetText();
}

bool ChildIsTrue(const XMLElement* pParent, const char* pszName)
{
    return ChildText(pParent, pszName) == "true";
}

/// Identity of a configuration file for loop detection: its canonical path when it can be
/// resolved, else the text as given.
std::string FileIdentity(const std::string& strPath)
{
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::weakly_canonical(strPath, ec);
    return ec ? strPath : path.string();
}

XMLElement* FindTerminalByLogicalName(XMLDocument& doc, const std::string& strLogicalName)
{
    XMLElement* pRoot = doc.FirstChildElement(kRoot);
    XMLElement* pTerminals = pRoot ? pRoot->FirstChildElement(kTerminals) : nullptr;
    for (XMLElement* pTerm = pTerminals ? pTerminals->FirstChildElement(kTerminal) : nullptr; pTerm != nullptr;
         pTerm = pTerm->NextSiblingElement(kTerminal))
    {
        if (ChildText(pTerm, "LogicalName") == strLogicalName)
            return pTerm;
    }
    return nullptr;
}

XMLElement* FindTerminalByPort(XMLDocument& doc, uint16_t nPort)
{
    const std::string strPort = std::to_string(nPort);
    XMLElement* pRoot = doc.FirstChildElement(kRoot);
    XMLElement* pTerminals = pRoot ? pRoot->FirstChildElement(kTerminals) : nullptr;
    for (XMLElement* pTerm = pTerminals ? pTerminals->FirstChildElement(kTerminal) : nullptr; pTerm != nullptr;
         pTerm = pTerm->NextSiblingElement(kTerminal))
    {
        if (ChildText(pTerm, "Port") == strPort)
            return pTerm;
    }
    return nullptr;
}

void AddChildText(XMLElement* pParent, const char* pszName, const std::string& strText)
{
    pParent->InsertNewChildElement(pszName)->SetText(strText.c_str());
}

void SetChildTextIfPresent(XMLElement* pParent, const char* pszName, const std::string& strText)
{
    if (XMLElement* pChild = pParent->FirstChildElement(pszName))
        pChild->SetText(strText.c_str());
}

bool CarriesAddress(int nType)
{
    // Serial and USB terminals have no network description.
    return nType != mw::CONN_SERIAL && nType != mw::CONN_USB;
}
} // namespace

CConfiguration::CConfiguration()
    : m_strPath(DefaultPath())
{
    MW_TRACEF(mw::kTraceConfig, trace::LEVEL_INFO, 0, "get config file from %s", m_strPath.c_str());
}

CConfiguration::CConfiguration(std::string strPath)
    : m_strPath(std::move(strPath))
{
}

CConfiguration::~CConfiguration() = default;

std::string CConfiguration::DefaultPath()
{
    return CCommonAppData::CtApiFile("ctvnt.xml", 512);
}

void CConfiguration::SetXmlText(const std::string& strXml)
{
    m_strXmlText = strXml;
    m_bUseXmlText = !strXml.empty();
}

void CConfiguration::SetGlobalSwitches(bool bHandleLanKeepalive, bool bSearchLanDevices)
{
    s_bHandleLanKeepalive.store(bHandleLanKeepalive);
    s_bSearchLanDevices.store(bSearchLanDevices);
}

bool CConfiguration::Load(XMLDocument& doc, int& nError) const
{
    const tinyxml2::XMLError eResult =
        m_bUseXmlText ? doc.Parse(m_strXmlText.c_str(), m_strXmlText.size()) : doc.LoadFile(m_strPath.c_str());
    nError = static_cast<int>(eResult);
    return eResult == tinyxml2::XML_SUCCESS;
}

void CConfiguration::LoadOrCreate(XMLDocument& doc) const
{
    int nError = 0;
    if (Load(doc, nError) && doc.FirstChildElement(kRoot) != nullptr)
        return;
    doc.Clear();
    doc.InsertEndChild(doc.NewDeclaration("xml version=\"1.0\""));
    doc.InsertEndChild(doc.NewElement(kRoot));
}

bool CConfiguration::Save(XMLDocument& doc)
{
    if (m_bUseXmlText)
    {
        tinyxml2::XMLPrinter printer;
        doc.Print(&printer);
        m_strXmlText = printer.CStr();
        m_nLastError = tinyxml2::XML_SUCCESS;
        return true;
    }
    m_nLastError = static_cast<int>(doc.SaveFile(m_strPath.c_str()));
    return m_nLastError == tinyxml2::XML_SUCCESS;
}

bool CConfiguration::ReadTerminal(uint16_t nPort, CDeviceInfo& device, int& nError)
{
    std::set<std::string> setVisited;
    return ReadTerminalImpl(nPort, device, nError, setVisited);
}

bool CConfiguration::ReadTerminalImpl(uint16_t nPort, CDeviceInfo& device, int& nError,
                                      std::set<std::string>& setVisited)
{
    nError = 0;
    const std::string strPort = std::to_string(nPort);
    MW_TRACEF(mw::kTraceConfig, trace::LEVEL_INFO, 0, "load config from %s",
              m_bUseXmlText ? "<memory>" : m_strPath.c_str());
    if (!m_bUseXmlText)
        setVisited.insert(FileIdentity(m_strPath));

    XMLDocument doc;
    if (!Load(doc, nError))
    {
        MW_TRACEF(mw::kTraceConfig, trace::LEVEL_INFO, nError,
                  "--> parseing config file failed: %s, load first found device", doc.ErrorStr());
        return true;
    }
    TC_TRACE(mw::kTraceConfig, trace::LEVEL_INFO, "--> XML File successfully parsed", 0);

    XMLElement* pRoot = doc.FirstChildElement(kRoot);
    for (XMLElement* pRedirect = pRoot ? pRoot->FirstChildElement("Redirect") : nullptr; pRedirect != nullptr;
         pRedirect = pRedirect->NextSiblingElement("Redirect"))
    {
        const std::string strTarget = pRedirect->GetText() ? pRedirect->GetText() : "";
        MW_TRACEF(mw::kTraceConfig, trace::LEVEL_INFO, 0, "--> config redirection to %s", strTarget.c_str());
        // A chain that comes back to a file already read (or grows without end) is cut here.
        if (strTarget.empty() || setVisited.count(FileIdentity(strTarget)) != 0 ||
            setVisited.size() >= kMaxRedirectDepth)
        {
            MW_TRACEF(mw::kTraceConfig, trace::LEVEL_ERROR, 0, "--> redirection loop cut off at %s",
                      strTarget.c_str());
            continue;
        }
        CConfiguration redirected(strTarget);
        int nRedirectError = 0;
        redirected.ReadTerminalImpl(nPort, device, nRedirectError, setVisited);
    }

    bool bFound = false;
    XMLElement* pTerminals = pRoot ? pRoot->FirstChildElement(kTerminals) : nullptr;
    for (XMLElement* pTerm = pTerminals ? pTerminals->FirstChildElement(kTerminal) : nullptr; pTerm != nullptr;
         pTerm = pTerm->NextSiblingElement(kTerminal))
    {
        if (ChildText(pTerm, "Port") != strPort)
            continue;
        device.SetName(ChildText(pTerm, "Name"));
        const XMLElement* pType = pTerm->FirstChildElement("ConnectionType");
        device.SetConnectionType(pType ? CDeviceInfo::ConnectionTypeFromText(ChildText(pTerm, "ConnectionType"))
                                       : mw::CONN_UNKNOWN);
        device.SetAdditionalInfo(ChildText(pTerm, "AdditionalInfo"));
        device.SetLogicalName(ChildText(pTerm, "LogicalName"));
        device.SetCtApiDllName(ChildText(pTerm, "CtApiDllName"));
        if (pTerm->FirstChildElement("UseHIDHandshake") != nullptr)
            device.SetUseHIDHandshake(std::atoi(ChildText(pTerm, "UseHIDHandshake").c_str()) != 0 ? 1 : 0);
        device.SetPort(nPort);
        TC_TRACE(mw::kTraceConfig, trace::LEVEL_INFO, "-> configured found device", 0);
        bFound = true;
    }
    if (!bFound)
        TC_TRACE(mw::kTraceConfig, trace::LEVEL_INFO, "--> no entry -> use first found device", 0);
    return true;
}

std::string CConfiguration::GetMacMappingFilePath()
{
    std::set<std::string> setVisited;
    return MacMappingPathImpl(setVisited);
}

std::string CConfiguration::MacMappingPathImpl(std::set<std::string>& setVisited)
{
    if (!m_bUseXmlText)
        setVisited.insert(FileIdentity(m_strPath));
    XMLDocument doc;
    int nError = 0;
    if (!Load(doc, nError))
        return {};
    TC_TRACE(mw::kTraceConfig, trace::LEVEL_INFO, "--> XML File successfully parsed", 0);
    XMLElement* pRoot = doc.FirstChildElement(kRoot);
    for (XMLElement* pRedirect = pRoot ? pRoot->FirstChildElement("Redirect") : nullptr; pRedirect != nullptr;
         pRedirect = pRedirect->NextSiblingElement("Redirect"))
    {
        const std::string strTarget = pRedirect->GetText() ? pRedirect->GetText() : "";
        MW_TRACEF(mw::kTraceConfig, trace::LEVEL_INFO, 0, "--> config redirection to %s", strTarget.c_str());
        std::string strPath;
        if (!strTarget.empty() && setVisited.count(FileIdentity(strTarget)) == 0 &&
            setVisited.size() < kMaxRedirectDepth)
        {
            CConfiguration redirected(strTarget);
            strPath = redirected.MacMappingPathImpl(setVisited);
        }
        if (!strPath.empty())
            return strPath;
        TC_TRACE(mw::kTraceConfig, trace::LEVEL_INFO, "--> redirection failed", 0);
    }
    return ChildText(pRoot, "MacMappingFilePath");
}

std::string CConfiguration::GetDebugFileText()
{
    XMLDocument doc;
    int nError = 0;
    if (!Load(doc, nError))
        return {};
    return ChildText(doc.FirstChildElement(kRoot), "DebugToFileOutput");
}

bool CConfiguration::ReadSwitch(int nSwitch)
{
    s_bHandleLanKeepalive.store(false);
    s_bSearchLanDevices.store(false);
    XMLDocument doc;
    int nError = 0;
    if (!Load(doc, nError))
        return false;
    const XMLElement* pRoot = doc.FirstChildElement(kRoot);
    s_bHandleLanKeepalive.store(ChildIsTrue(pRoot, "HandleLANKeepalive"));
    s_bSearchLanDevices.store(ChildIsTrue(pRoot, "SearchLANDevices"));
    if (nSwitch != SWITCH_DEBUG_OUTPUT && nSwitch != SWITCH_EVENT_LOG_OUTPUT)
        return false;
    return ChildIsTrue(pRoot, SwitchName(nSwitch));
}

bool CConfiguration::WriteSwitch(int nSwitch, bool bValue)
{
    const char* pszName = SwitchName(nSwitch);
    if (pszName == nullptr)
        return false;
    XMLDocument doc;
    LoadOrCreate(doc);
    XMLElement* pRoot = doc.FirstChildElement(kRoot);
    XMLElement* pSwitch = pRoot->FirstChildElement(pszName);
    if (pSwitch == nullptr)
    {
        pSwitch = pRoot->InsertNewChildElement(pszName);
        pSwitch->SetText("false");
    }
    pSwitch->SetText(bValue ? "true" : "false");
    return Save(doc);
}

bool CConfiguration::WriteDebugFileText(const std::string& strText)
{
    XMLDocument doc;
    LoadOrCreate(doc);
    XMLElement* pRoot = doc.FirstChildElement(kRoot);
    XMLElement* pElement = pRoot->FirstChildElement("DebugToFileOutput");
    if (pElement == nullptr)
        pElement = pRoot->InsertNewChildElement("DebugToFileOutput");
    pElement->SetText(strText.c_str());
    return Save(doc);
}

bool CConfiguration::TerminalExists(const CDeviceInfo& device)
{
    XMLDocument doc;
    int nError = 0;
    return Load(doc, nError) && FindTerminalByLogicalName(doc, device.GetLogicalName()) != nullptr;
}

bool CConfiguration::PortExists(uint16_t nPort)
{
    XMLDocument doc;
    int nError = 0;
    return Load(doc, nError) && FindTerminalByPort(doc, nPort) != nullptr;
}

bool CConfiguration::GetPortList(std::vector<uint16_t>& vecPorts)
{
    vecPorts.clear();
    XMLDocument doc;
    int nError = 0;
    if (!Load(doc, nError))
        return false;
    XMLElement* pRoot = doc.FirstChildElement(kRoot);
    XMLElement* pTerminals = pRoot ? pRoot->FirstChildElement(kTerminals) : nullptr;
    for (XMLElement* pTerm = pTerminals ? pTerminals->FirstChildElement(kTerminal) : nullptr; pTerm != nullptr;
         pTerm = pTerm->NextSiblingElement(kTerminal))
    {
        vecPorts.push_back(static_cast<uint16_t>(std::atoi(ChildText(pTerm, "Port").c_str())));
    }
    return true;
}

int CConfiguration::GetConnectionType(uint16_t nPort)
{
    XMLDocument doc;
    int nError = 0;
    if (!Load(doc, nError))
    {
        std::printf("could not open Configuration file %s\n", m_strPath.c_str());
        return mw::CONN_UNKNOWN;
    }
    const XMLElement* pTerm = FindTerminalByPort(doc, nPort);
    if (pTerm == nullptr || pTerm->FirstChildElement("ConnectionType") == nullptr)
        return mw::CONN_UNKNOWN;
    return CDeviceInfo::ConnectionTypeFromText(ChildText(pTerm, "ConnectionType"));
}

bool CConfiguration::AddTerminal(const CDeviceInfo& device)
{
    if (device.GetPort() == 0)
        return false;
    XMLDocument doc;
    LoadOrCreate(doc);
    if (FindTerminalByLogicalName(doc, device.GetLogicalName()) != nullptr)
        return false;
    XMLElement* pRoot = doc.FirstChildElement(kRoot);
    XMLElement* pTerminals = pRoot->FirstChildElement(kTerminals);
    if (pTerminals == nullptr)
        pTerminals = pRoot->InsertNewChildElement(kTerminals);
    XMLElement* pTerm = pTerminals->InsertNewChildElement(kTerminal);
    AddChildText(pTerm, "Name", device.GetName());
    AddChildText(pTerm, "LogicalName", device.GetLogicalName());
    if (CarriesAddress(device.GetConnectionType()))
        AddChildText(pTerm, "AdditionalInfo", device.GetAdditionalInfo());
    AddChildText(pTerm, "CtApiDllName", device.GetCtApiDllName());
    AddChildText(pTerm, "Port", std::to_string(device.GetPort()));
    AddChildText(pTerm, "ConnectionType", CDeviceInfo::ConnectionTypeText(device.GetConnectionType(), false));
    return Save(doc);
}

bool CConfiguration::UpdateTerminal(const CDeviceInfo& device)
{
    XMLDocument doc;
    int nError = 0;
    if (!Load(doc, nError))
        return false;
    XMLElement* pTerm = FindTerminalByLogicalName(doc, device.GetLogicalName());
    if (pTerm == nullptr)
        return false;
    if (CarriesAddress(device.GetConnectionType()))
        SetChildTextIfPresent(pTerm, "AdditionalInfo", device.GetAdditionalInfo());
    SetChildTextIfPresent(pTerm, "ConnectionType", CDeviceInfo::ConnectionTypeText(device.GetConnectionType(), false));
    SetChildTextIfPresent(pTerm, "Name", device.GetName());
    SetChildTextIfPresent(pTerm, "Port", std::to_string(device.GetPort()));
    SetChildTextIfPresent(pTerm, "LogicalName", device.GetLogicalName());
    SetChildTextIfPresent(pTerm, "CtApiDllName", device.GetCtApiDllName());
    return Save(doc);
}

bool CConfiguration::RemoveTerminal(const CDeviceInfo& device)
{
    XMLDocument doc;
    int nError = 0;
    if (!Load(doc, nError))
        return false;
    XMLElement* pTerm = FindTerminalByLogicalName(doc, device.GetLogicalName());
    if (pTerm == nullptr)
        return false;
    pTerm->Parent()->DeleteChild(pTerm);
    return Save(doc);
}

bool CConfiguration::ReadTraceSettings(CTraceSettings& settings)
{
    XMLDocument doc;
    int nError = 0;
    if (!Load(doc, nError))
        return false;
    const XMLElement* pRoot = doc.FirstChildElement(kRoot);
    settings.strDebugFile = ChildText(pRoot, "DebugToFileOutput");
    settings.bDebugOutput = ChildIsTrue(pRoot, "EnableDebugOutput");
    settings.bEventLogOutput = ChildIsTrue(pRoot, "EnableEventLogOutput");
    return true;
}

bool CConfiguration::ApplyTraceSettings(CLogging& logging)
{
    ReadSwitch(SWITCH_DEBUG_OUTPUT);  // refreshes HandleLANKeepalive / SearchLANDevices
    CTraceSettings settings;
    if (!ReadTraceSettings(settings))
        return false;
    logging.SetOutput(settings.strDebugFile, settings.bDebugOutput, settings.bEventLogOutput);
    return true;
}
