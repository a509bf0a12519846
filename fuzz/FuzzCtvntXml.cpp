// Fuzz target: reading the middleware configuration file "ctvnt.xml" (held as text, so
// that nothing is written to disk). Only the read operations run: what the search, the
// trace set-up and the LAN transport take from the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Configuration.h"
#include "DeviceInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize > 0x20000)
        return 0;
    CConfiguration config("/nonexistent/ctvnt.xml");
    const std::string strXml(reinterpret_cast<const char*>(pData), nSize);
    if (strXml.empty())
        return 0;  // empty text means "use the file"
    config.SetXmlText(strXml);

    std::vector<uint16_t> vecPorts;
    (void)config.GetPortList(vecPorts);
    vecPorts.push_back(0);
    vecPorts.push_back(1);
    for (size_t i = 0; i < vecPorts.size() && i < 8; ++i)
    {
        CDeviceInfo device;
        int nError = 0;
        (void)config.ReadTerminal(vecPorts[i], device, nError);
        (void)config.GetConnectionType(vecPorts[i]);
        (void)config.PortExists(vecPorts[i]);
        (void)config.TerminalExists(device);
    }
    (void)config.GetMacMappingFilePath();
    (void)config.GetDebugFileText();
    CConfiguration::CTraceSettings settings;
    (void)config.ReadTraceSettings(settings);
    (void)config.ReadSwitch(CConfiguration::SWITCH_DEBUG_OUTPUT);
    (void)config.ReadSwitch(CConfiguration::SWITCH_EVENT_LOG_OUTPUT);
    return 0;
}
