#pragma once
#include <cstdint>
#include <string>

#include "DeviceInfo.h"
#include "TerminalIdRecord.h"

/// What the four maintenance actions hand to their dialogs, derived from a list row's
/// terminal description. Shared by the main window and the command-line tool so both pass
/// the same port and protocol code. Pure functions, any thread.
namespace search
{
/// Arguments of the firmware and the certificate list download dialogs, in their order.
struct SDownloadArgs
{
    std::string strIp;
    uint16_t nPort = 0;         // given twice to the dialog
    uint16_t nPort2 = 0;
    int nReserved = 0;          // always 0
    int nProtocolCode = 0;
    int nConnectionType = 0;
    uint16_t nSicctVersion = 0;
};

/// Arguments of the diagnosis dialog, in its order (the two texts are always empty).
struct SDiagnosisArgs
{
    TerminalIdRecord record;
    uint16_t nPort = 0;
    std::string strText1;
    std::string strText2;
    int nConnectionType = 0;
    int nReserved = 0;
};

/// The port a dialog talks to when no setting overrides it: the configured port for a
/// connection of type 0, else the port announced by service discovery.
uint16_t DevicePort(const CDeviceInfo& device);

/// Firmware and certificate list download: the protocol code from the connection string;
/// the port from the setting "Port" (nSettingPort, 0 when missing) or, when 0, DevicePort.
SDownloadArgs MakeDownloadArgs(const CDeviceInfo& device, uint32_t nSettingPort);

/// Diagnosis: the identification record built from the device (port and protocol code from
/// its connection string) and DevicePort; the setting "Port" is not consulted.
SDiagnosisArgs MakeDiagnosisArgs(const CDeviceInfo& device);
} // namespace search
