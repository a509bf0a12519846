#include "MaintenanceArgs.h"

#include "TerminalRules.h"

namespace search
{
uint16_t DevicePort(const CDeviceInfo& device)
{
    return device.GetConnectionType() == CONN_HID_UNSECURE ? device.GetPort() : device.GetNetworkPort();
}

SDownloadArgs MakeDownloadArgs(const CDeviceInfo& device, uint32_t nSettingPort)
{
    SDownloadArgs args;
    args.strIp = device.GetIpAddress();
    args.nProtocolCode = ProtocolCodeFromLogicalName(device.GetLogicalName());
    // The setting is a registry number; only its low 16 bits can be a port.
    uint16_t nPort = static_cast<uint16_t>(nSettingPort & 0xFFFF);
    if (nPort == 0)
        nPort = DevicePort(device);
    args.nPort = nPort;
    args.nPort2 = nPort;
    args.nConnectionType = device.GetConnectionType();
    args.nSicctVersion = device.GetSicctVersion();
    return args;
}

SDiagnosisArgs MakeDiagnosisArgs(const CDeviceInfo& device)
{
    SDiagnosisArgs args;
    uint16_t nRecordPort = 0;
    uint8_t nProtocol = 0;
    SplitLogicalName(device.GetLogicalName(), nRecordPort, nProtocol);
    args.record = TerminalIdRecord::Build(device.GetSicctVersion(), device.GetName(), device.GetIpAddress(),
                                          device.GetMacAddress(), nRecordPort, nProtocol);
    args.nPort = DevicePort(device);
    args.nConnectionType = device.GetConnectionType();
    return args;
}
} // namespace search
