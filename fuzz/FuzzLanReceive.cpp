// Fuzz target: the LAN transport's receive side as a terminal would drive it. The input is
// what a terminal sends on the TCP connection: the listener thread cuts it into envelopes
// (several per read, or one over several reads), classifies them, answers keepalives and
// hands responses over. A loopback listening socket stands in for the terminal; the bytes
// are written in pieces whose sizes come from the first input byte, then the connection is
// closed and the transport must notice the end by itself.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "LanDevice.h"
#include "SicctDevice.h"

namespace
{
struct SListener
{
    int nFd = -1;
    uint16_t nPort = 0;
};

const SListener& Listener()
{
    static const SListener s_listener = [] {
        SListener l;
        l.nFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t nLen = sizeof addr;
        if (l.nFd < 0 || ::bind(l.nFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(l.nFd, 8) != 0 || ::getsockname(l.nFd, reinterpret_cast<sockaddr*>(&addr), &nLen) != 0)
            std::abort();
        l.nPort = ntohs(addr.sin_port);
        return l;
    }();
    return s_listener;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 1 || nSize > 0x30000)
        return 0;
    const SListener& listener = Listener();
    const size_t nPiece = 1 + pData[0] * 37u;  // 1 .. 9436 bytes per write
    const uint8_t* pStream = pData + 1;
    const size_t nStream = nSize - 1;

    static CSicctDevice s_owner;  // classifies the messages; has no transport of its own
    CLanDevice lan;
    lan.SetOwner(&s_owner);
    lan.SetIdleLimitMs(2000);
    if (lan.Connect("127.0.0.1:" + std::to_string(listener.nPort) + ":0") != 0)
        std::abort();
    const int nPeer = ::accept4(listener.nFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (nPeer < 0)
        std::abort();
    for (size_t nDone = 0; nDone < nStream;)
    {
        const size_t nNow = std::min(nPiece, nStream - nDone);
        const ssize_t n = ::send(nPeer, pStream + nDone, nNow, MSG_NOSIGNAL);
        if (n <= 0)
            break;  // the transport dropped the connection (a length out of range)
        nDone += static_cast<size_t>(n);
    }
    ::shutdown(nPeer, SHUT_WR);
    // The listener must see the end of the stream and stop on its own, well within a second.
    const auto tpEnd = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (lan.HasLiveListener() && std::chrono::steady_clock::now() < tpEnd)
    {
        uint8_t aDrain[512];
        pollfd pfd{nPeer, POLLIN, 0};
        if (::poll(&pfd, 1, 1) > 0)
            (void)::recv(nPeer, aDrain, sizeof aDrain, MSG_DONTWAIT);  // keepalive answers
    }
    if (lan.HasLiveListener())
        std::abort();  // a listener that never ends is a finding too
    lan.DisConnect();
    ::close(nPeer);
    return 0;
}
