#pragma once
#include <memory>
#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "TerminalFinder.h"

/// The main window's search, without any window: discovery over all transports, the
/// configured port numbers merged in, and the rule that adds a terminal by address.
/// Stateless functions; run on whichever thread the caller chooses (the finder's rules apply).
namespace search
{
using DeviceList = std::vector<std::unique_ptr<CDeviceInfo>>;

/// LAN search first, then USB; a transport that cannot be created is skipped.
DeviceList DiscoverTerminals(CTerminalFinder& finder);

/// The configured terminals in file order (empty when the configuration cannot be read).
DeviceList ReadConfiguredTerminals(CTerminalFinder& finder);

/// Copies the configured port numbers into the found devices with the same connection
/// string (exact comparison). Empty entries are dropped from both lists first. Every
/// configured entry that matched is removed from vecConfigured; when several match one
/// device, the last in file order wins. Configured entries never become found devices.
void MergeConfiguredPorts(DeviceList& vecFound, DeviceList& vecConfigured);

/// A whole search: discover, read the configuration, merge; the found devices in list order.
DeviceList RunSearch(CTerminalFinder& finder);

/// Index of the first row whose device has exactly this MAC text, or -1. Rows without a
/// device are skipped. This is where an added terminal replaces its old row.
int FindRowByMac(const DeviceList& vecRows, const std::string& strMac);

/// Puts the device into the list: in place of the first row with the same MAC text, else at
/// the end. Returns the row index it now has. A null device changes nothing and gives -1.
int ReplaceOrAddTerminalRow(DeviceList& vecRows, std::unique_ptr<CDeviceInfo> pDevice);
} // namespace search
