// The Linux HID layer without a kernel HID device: enumeration against a fake sysfs tree,
// the port's waits on a FIFO, and the udev monitor's stop.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "HidEnumLinux.h"
#include "HidPortLinux.h"
#include "OsCodes.h"
#include "UdevMonitorLinux.h"

namespace fs = std::filesystem;

namespace
{
class CTempTree
{
public:
    CTempTree()
    {
        char szTemplate[] = "/tmp/tc-hid-XXXXXX";
        m_path = ::mkdtemp(szTemplate);
    }
    ~CTempTree()
    {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    const fs::path& Path() const { return m_path; }
    void Write(const std::string& strRelative, const std::string& strContent) const
    {
        const fs::path path = m_path / strRelative;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << strContent;
    }
    /// One hidraw class entry as the kernel lays it out.
    void AddHidraw(int nNumber, const std::string& strHidId, const std::string& strName) const
    {
        const std::string strNode = "hidraw" + std::to_string(nNumber);
        Write("sys/class/hidraw/" + strNode + "/uevent", "MAJOR=242\nMINOR=" + std::to_string(nNumber) +
                                                             "\nDEVNAME=" + strNode + "\n");
        Write("sys/class/hidraw/" + strNode + "/device/uevent",
              "DRIVER=hid-generic\nHID_ID=" + strHidId + "\nHID_NAME=" + strName + "\nHID_PHYS=usb-0000:00:14.0-1/input1\n");
    }

private:
    fs::path m_path;
};

class CEventFd
{
public:
    CEventFd() : m_nFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~CEventFd() { ::close(m_nFd); }
    void Set() const
    {
        const uint64_t nOne = 1;
        ASSERT_EQ(::write(m_nFd, &nOne, sizeof nOne), static_cast<ssize_t>(sizeof nOne));
    }
    int Fd() const { return m_nFd; }

private:
    int m_nFd;
};

long ElapsedMs(std::chrono::steady_clock::time_point tpStart)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - tpStart).count());
}
} // namespace

TEST(HidEnumLinux, ListsNodesInNumberOrderWithIdsFromTheParent)
{
    CTempTree tree;
    tree.AddHidraw(10, "0003:00002F71:00000081", "Sim Keyboard Terminal");
    tree.AddHidraw(2, "0003:0000046D:0000C52B", "Other Mouse");
    tree.AddHidraw(3, "garbage", "Broken");
    tree.Write("sys/class/hidraw/README/uevent", "DEVNAME=hidrawX\n");  // not a node entry

    std::vector<os::HidDeviceEntry> vec;
    ASSERT_EQ(os::CHidEnumLinux(tree.Path().string()).Enumerate(vec), os::OS_OK);
    ASSERT_EQ(vec.size(), 3u);
    EXPECT_EQ(vec[0].strSysName, "hidraw2");
    EXPECT_EQ(vec[1].strSysName, "hidraw3");
    EXPECT_EQ(vec[2].strSysName, "hidraw10");
    EXPECT_EQ(vec[2].strDevicePath, (tree.Path() / "dev/hidraw10").string());
    EXPECT_EQ(vec[2].nBusType, 3u);
    EXPECT_EQ(vec[2].nVendorId, 0x2F71);
    EXPECT_EQ(vec[2].nProductId, 0x0081);
    EXPECT_EQ(vec[2].strName, "Sim Keyboard Terminal");
    EXPECT_EQ(vec[0].nVendorId, 0x046D);
    // An unreadable HID_ID leaves the IDs 0: the device is then judged by opening it.
    EXPECT_EQ(vec[1].nVendorId, 0);
    EXPECT_EQ(vec[1].nProductId, 0);
}

TEST(HidEnumLinux, MissingClassFolderAndHostileNames)
{
    CTempTree tree;
    std::vector<os::HidDeviceEntry> vec;
    EXPECT_EQ(os::CHidEnumLinux(tree.Path().string()).Enumerate(vec), os::OS_ERR_NOT_FOUND);

    // A DEVNAME that climbs out of /dev falls back to the entry's own name.
    tree.Write("sys/class/hidraw/hidraw0/uevent", "DEVNAME=../etc/passwd\n");
    ASSERT_EQ(os::CHidEnumLinux(tree.Path().string()).Enumerate(vec), os::OS_OK);
    ASSERT_EQ(vec.size(), 1u);
    EXPECT_EQ(vec[0].strDevicePath, (tree.Path() / "dev/hidraw0").string());

    os::HidDeviceEntry entry;
    EXPECT_TRUE(os::CHidEnumLinux::ParseHidId("0003:00002F71:0000008F", entry));
    EXPECT_EQ(entry.nProductId, 0x008F);
    EXPECT_FALSE(os::CHidEnumLinux::ParseHidId("0003:00012F71:0000008F", entry));  // vendor beyond 16 bits
    EXPECT_FALSE(os::CHidEnumLinux::ParseHidId("0003:2F71", entry));
    EXPECT_FALSE(os::CHidEnumLinux::ParseHidId("0003:xyz:0081", entry));
}

TEST(HidPortLinux, OpenFailuresAndRequestsOnANonHidNode)
{
    os::CHidPortLinux port;
    EXPECT_EQ(port.Open("/nonexistent/hidraw99"), os::OS_ERR_NOT_FOUND);
    EXPECT_FALSE(port.IsOpen());
    os::HidRawInfo info;
    EXPECT_EQ(port.GetRawInfo(info), os::OS_ERR_GENERAL);
    uint8_t buf[8];
    EXPECT_EQ(port.Read(buf, sizeof buf, 0, -1), os::OS_ERR_GENERAL);

    ASSERT_EQ(port.Open("/dev/null"), os::OS_OK);
    EXPECT_EQ(port.GetRawInfo(info), os::OS_ERR_GENERAL);  // not a HID node: the ioctl fails cleanly
    std::vector<uint8_t> vecDescriptor;
    EXPECT_EQ(port.GetReportDescriptor(vecDescriptor), os::OS_ERR_GENERAL);
    EXPECT_NE(port.LastErrorCode(), 0);
}

TEST(HidPortLinux, ReadWaitsAreBoundedAndEndOnTheStopEvent)
{
    CTempTree tree;
    const std::string strFifo = (tree.Path() / "node").string();
    ASSERT_EQ(::mkfifo(strFifo.c_str(), 0600), 0);
    os::CHidPortLinux port;
    ASSERT_EQ(port.Open(strFifo), os::OS_OK);
    uint8_t buf[64];

    auto tpStart = std::chrono::steady_clock::now();
    EXPECT_EQ(port.Read(buf, sizeof buf, 50, -1), os::OS_ERR_TIMEOUT);
    EXPECT_GE(ElapsedMs(tpStart), 45);

    CEventFd stop;
    stop.Set();
    tpStart = std::chrono::steady_clock::now();
    EXPECT_EQ(port.Read(buf, sizeof buf, 5000, stop.Fd()), os::OS_ERR_STOPPED);
    EXPECT_LT(ElapsedMs(tpStart), 1000);

    const uint8_t aReport[] = {0x01, 0x22, 0x00, 0x00, 0x03, 0x00, 0xAA, 0xBB, 0xCC};
    ASSERT_EQ(port.Write(aReport, sizeof aReport, 100), static_cast<int>(sizeof aReport));
    CEventFd idle;
    ASSERT_EQ(port.Read(buf, sizeof buf, 1000, idle.Fd()), static_cast<int>(sizeof aReport));
    EXPECT_EQ(buf[1], 0x22);
    EXPECT_EQ(buf[8], 0xCC);
}

TEST(UdevMonitorLinux, WaitEndsOnStopAndTimeOut)
{
    os::CUdevMonitorLinux monitor;
    os::DeviceEvent ev;
    EXPECT_EQ(monitor.Wait(ev, 0, -1), os::OS_ERR_GENERAL);  // not started
    if (monitor.Start() != os::OS_OK)
        GTEST_SKIP() << "udev netlink monitor not available in this environment";
    CEventFd stop;
    auto tpStart = std::chrono::steady_clock::now();
    const int nWait = monitor.Wait(ev, 50, stop.Fd());
    // A real hot-plug event may come in meanwhile; nothing else may.
    EXPECT_TRUE(nWait == os::OS_ERR_TIMEOUT || nWait == os::OS_OK);
    stop.Set();
    tpStart = std::chrono::steady_clock::now();
    EXPECT_EQ(monitor.Wait(ev, 5000, stop.Fd()), os::OS_ERR_STOPPED);
    EXPECT_LT(ElapsedMs(tpStart), 1000);
}

namespace
{
/// The value of KEY=="value" in a udev rule line, empty when missing.
std::string RuleMatch(const std::string& strRule, const std::string& strKey)
{
    const std::string strNeedle = strKey + "==\"";
    const size_t nPos = strRule.find(strNeedle);
    if (nPos == std::string::npos)
        return {};
    const size_t nStart = nPos + strNeedle.size();
    return strRule.substr(nStart, strRule.find('"', nStart) - nStart);
}

/// udev's match: shell glob alternatives separated by '|'.
bool UdevMatches(const std::string& strPattern, const std::string& strValue)
{
    size_t nStart = 0;
    for (;;)
    {
        const size_t nBar = strPattern.find('|', nStart);
        const std::string strAlt = strPattern.substr(nStart, nBar == std::string::npos ? std::string::npos : nBar - nStart);
        if (::fnmatch(strAlt.c_str(), strValue.c_str(), 0) == 0)
            return true;
        if (nBar == std::string::npos)
            return false;
        nStart = nBar + 1;
    }
}
} // namespace

TEST(UdevRule, GrantsSeatAccessToTheTerminalNodesOnly)
{
    std::ifstream file(TC_UDEV_RULES);
    ASSERT_TRUE(file) << TC_UDEV_RULES;
    std::string strLine, strRule;
    while (std::getline(file, strLine))
    {
        if (!strLine.empty() && strLine[0] != '#')
            strRule = strLine;
    }
    EXPECT_EQ(RuleMatch(strRule, "SUBSYSTEM"), "hidraw");
    EXPECT_TRUE(UdevMatches(RuleMatch(strRule, "ACTION"), "add"));
    EXPECT_NE(strRule.find("TAG+=\"uaccess\""), std::string::npos);
    // sysfs shows the IDs as lower-case hexadecimal without prefix.
    EXPECT_TRUE(UdevMatches(RuleMatch(strRule, "ATTRS{idVendor}"), "2f71"));
    EXPECT_FALSE(UdevMatches(RuleMatch(strRule, "ATTRS{idVendor}"), "046d"));
    const std::string strProduct = RuleMatch(strRule, "ATTRS{idProduct}");
    for (const char* pszId : {"0080", "0081", "0089", "008a", "008f"})
        EXPECT_TRUE(UdevMatches(strProduct, pszId)) << pszId;
    for (const char* pszId : {"0090", "0079", "0180", "008"})
        EXPECT_FALSE(UdevMatches(strProduct, pszId)) << pszId;
}
