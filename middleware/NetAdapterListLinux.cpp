#include "NetAdapterList.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if_arp.h>
#include <netinet/in.h>

#include <map>

bool CNetAdapterListLinux::List(std::vector<CAdapterAddress>& vecAddresses)
{
    vecAddresses.clear();
    ifaddrs* pList = nullptr;
    if (::getifaddrs(&pList) != 0)
        return false;
    struct CLink
    {
        bool bEthernet = false;
        bool bHasHardwareAddress = false;
    };
    std::map<std::string, CLink> mapLinks;
    for (const ifaddrs* p = pList; p != nullptr; p = p->ifa_next)
    {
        if (p->ifa_addr == nullptr || p->ifa_addr->sa_family != AF_PACKET || p->ifa_name == nullptr)
            continue;
        const auto* pLink = reinterpret_cast<const sockaddr_ll*>(p->ifa_addr);
        CLink link;
        link.bEthernet = pLink->sll_hatype == ARPHRD_ETHER;
        for (int i = 0; i < pLink->sll_halen && i < 8; ++i)
            link.bHasHardwareAddress = link.bHasHardwareAddress || pLink->sll_addr[i] != 0;
        mapLinks[p->ifa_name] = link;
    }
    for (const ifaddrs* p = pList; p != nullptr; p = p->ifa_next)
    {
        if (p->ifa_addr == nullptr || p->ifa_addr->sa_family != AF_INET || p->ifa_name == nullptr)
            continue;
        CAdapterAddress entry;
        entry.strAdapter = p->ifa_name;
        entry.nAddress = ntohl(reinterpret_cast<const sockaddr_in*>(p->ifa_addr)->sin_addr.s_addr);
        if (p->ifa_netmask != nullptr)
            entry.nMask = ntohl(reinterpret_cast<const sockaddr_in*>(p->ifa_netmask)->sin_addr.s_addr);
        // An address label such as "eth0:1" belongs to the link "eth0".
        const auto it = mapLinks.find(entry.strAdapter.substr(0, entry.strAdapter.find(':')));
        if (it != mapLinks.end())
        {
            entry.bEthernet = it->second.bEthernet;
            entry.bHasHardwareAddress = it->second.bHasHardwareAddress;
        }
        vecAddresses.push_back(entry);
    }
    ::freeifaddrs(pList);
    return true;
}
