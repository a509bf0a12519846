#pragma once
#include <cstdint>
#include <string>
#include <vector>

/// One IPv4 address of a local network adapter.
struct CAdapterAddress
{
    std::string strAdapter;     // interface name
    bool bEthernet = false;     // hardware type Ethernet (ARPHRD_ETHER)
    bool bHasHardwareAddress = false;
    uint32_t nAddress = 0;      // IPv4, host byte order
    uint32_t nMask = 0;         // netmask, host byte order
};

/// The local network adapters the LAN search sends its requests from. The Linux
/// implementation (CNetAdapterListLinux) reads the calling thread's network namespace;
/// tests pass a fake. Called from the searching thread only.
class CNetAdapterList
{
public:
    virtual ~CNetAdapterList() = default;
    /// Every IPv4 address of every adapter; false when the list cannot be read.
    virtual bool List(std::vector<CAdapterAddress>& vecAddresses) = 0;
};

/// getifaddrs(): IPv4 entries with their masks; an adapter is Ethernet when its link-layer
/// entry has hardware type 1 (ARPHRD_ETHER, as /sys/class/net/IF/type shows it), and it has
/// a hardware address when that entry carries a non-zero address. The link-layer entries
/// come from the current network namespace, so this also works in a namespace entered by
/// setns(), where /sys would still show the old one.
class CNetAdapterListLinux : public CNetAdapterList
{
public:
    bool List(std::vector<CAdapterAddress>& vecAddresses) override;
};
