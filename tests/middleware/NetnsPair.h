#pragma once
// Two network namespaces joined by a veth pair, made and removed by a test, and child
// processes that run code inside one of them. Nothing here touches the machine's own
// interfaces: every address lives on the veth pair, and the namespaces are deleted by the
// destructor (also after a failed test).
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

class CNetnsPair
{
public:
    /// Creates "<prefix>A<pid><n>" and "<prefix>B<pid><n>" with a veth pair, addresses
    /// strNet.1/24 (A) and strNet.2/24 (B), broadcast strNet.255. IsReady() says whether it worked.
    explicit CNetnsPair(const std::string& strPrefix = "tcmw")
    {
        static int s_nCount = 0;
        const std::string strId = std::to_string(::getpid()) + std::to_string(s_nCount++);
        m_strA = strPrefix + "A" + strId;
        m_strB = strPrefix + "B" + strId;
        // Interface names are limited to 15 characters.
        m_strIfA = ("va" + strId).substr(0, 15);
        m_strIfB = ("vb" + strId).substr(0, 15);
        m_strNet = "10.213." + std::to_string(::getpid() % 250) + ".";
        if (::geteuid() != 0)
        {
            m_strError = "needs root to create network namespaces";
            return;
        }
        const std::string strScript =
            "ip netns add " + m_strA + " && ip netns add " + m_strB + " && ip link add " + m_strIfA + " netns " +
            m_strA + " type veth peer name " + m_strIfB + " netns " + m_strB + " && ip -n " + m_strA +
            " addr add " + m_strNet + "1/24 brd + dev " + m_strIfA + " && ip -n " + m_strB + " addr add " + m_strNet +
            "2/24 brd + dev " + m_strIfB + " && ip -n " + m_strA + " link set lo up && ip -n " + m_strB +
            " link set lo up && ip -n " + m_strA + " link set " + m_strIfA + " up && ip -n " + m_strB + " link set " +
            m_strIfB + " up";
        m_bCreated = true;
        if (std::system((strScript + " 2>/dev/null").c_str()) != 0)
            m_strError = "could not create the network namespaces (ip netns add failed)";
        else
            m_bReady = true;
    }
    ~CNetnsPair()
    {
        if (m_bCreated)
        {
            // Deleting a namespace removes its veth end, and with it the pair.
            [[maybe_unused]] int n = std::system(("ip netns del " + m_strA + " 2>/dev/null; ip netns del " + m_strB +
                                                  " 2>/dev/null")
                                                     .c_str());
        }
    }
    CNetnsPair(const CNetnsPair&) = delete;
    CNetnsPair& operator=(const CNetnsPair&) = delete;

    bool IsReady() const { return m_bReady; }
    const std::string& Error() const { return m_strError; }
    const std::string& NameA() const { return m_strA; }
    const std::string& NameB() const { return m_strB; }
    std::string AddressA() const { return m_strNet + "1"; }
    std::string AddressB() const { return m_strNet + "2"; }
    std::string Broadcast() const { return m_strNet + "255"; }

private:
    std::string m_strA, m_strB, m_strIfA, m_strIfB, m_strNet, m_strError;
    bool m_bCreated = false;
    bool m_bReady = false;
};

/// A child process inside a named network namespace. The body gets a descriptor that
/// becomes readable (EOF) when the parent asks it to stop, and one to write its report to.
class CNetnsChild
{
public:
    using Body = std::function<void(int nStopFd, int nOutFd)>;

    ~CNetnsChild() { Finish(1000); }

    /// Forks; the child enters the namespace and runs the body, then exits.
    bool Start(const std::string& strNamespace, const Body& fnBody)
    {
        int aOut[2], aStop[2];
        if (::pipe2(aOut, O_CLOEXEC) != 0 || ::pipe2(aStop, O_CLOEXEC) != 0)
            return false;
        m_nPid = ::fork();
        if (m_nPid < 0)
            return false;
        if (m_nPid == 0)
        {
            ::close(aOut[0]);
            ::close(aStop[1]);
            const int nNs = ::open(("/var/run/netns/" + strNamespace).c_str(), O_RDONLY | O_CLOEXEC);
            if (nNs < 0 || ::setns(nNs, CLONE_NEWNET) != 0)
            {
                const char szError[] = "ERROR setns\n";
                [[maybe_unused]] ssize_t n = ::write(aOut[1], szError, sizeof szError - 1);
                ::_exit(2);
            }
            ::close(nNs);
            fnBody(aStop[0], aOut[1]);
            ::_exit(0);
        }
        ::close(aOut[1]);
        ::close(aStop[0]);
        m_nOutFd = aOut[0];
        m_nStopFd = aStop[1];
        return true;
    }
    /// Reads the child's report until it writes a line equal to strLine (or ends), at most
    /// nTimeoutMs. True when the line came.
    bool WaitForLine(const std::string& strLine, int nTimeoutMs)
    {
        const auto tpEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
        while (m_strOutput.find(strLine + "\n") == std::string::npos)
        {
            if (!ReadSome(tpEnd))
                return false;
        }
        return true;
    }
    /// Asks the child to stop, collects its report; kills it (by pid) after nTimeoutMs.
    std::string Finish(int nTimeoutMs)
    {
        if (m_nPid <= 0)
            return m_strOutput;
        if (m_nStopFd >= 0)
        {
            ::close(m_nStopFd);
            m_nStopFd = -1;
        }
        const auto tpEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
        while (ReadSome(tpEnd))
        {
        }
        int nStatus = 0;
        if (::waitpid(m_nPid, &nStatus, WNOHANG) == 0)
        {
            ::kill(m_nPid, SIGKILL);
            ::waitpid(m_nPid, &nStatus, 0);
            m_strOutput += "KILLED\n";
        }
        m_nPid = -1;
        if (m_nOutFd >= 0)
            ::close(m_nOutFd);
        m_nOutFd = -1;
        return m_strOutput;
    }

    /// In the child: writes one line.
    static void WriteLine(int nFd, const std::string& strLine)
    {
        const std::string str = strLine + "\n";
        [[maybe_unused]] ssize_t n = ::write(nFd, str.data(), str.size());
    }
    /// In the child: waits until the parent asks to stop, at most nTimeoutMs.
    static void WaitForStop(int nStopFd, int nTimeoutMs)
    {
        pollfd pfd{nStopFd, POLLIN, 0};
        ::poll(&pfd, 1, nTimeoutMs);
    }

private:
    /// False at EOF or time-out.
    bool ReadSome(std::chrono::steady_clock::time_point tpEnd)
    {
        if (m_nOutFd < 0)
            return false;
        const auto nLeft =
            std::chrono::duration_cast<std::chrono::milliseconds>(tpEnd - std::chrono::steady_clock::now()).count();
        if (nLeft <= 0)
            return false;
        pollfd pfd{m_nOutFd, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(nLeft)) <= 0)
            return false;
        char aBuffer[4096];
        const ssize_t n = ::read(m_nOutFd, aBuffer, sizeof aBuffer);
        if (n <= 0)
            return false;
        m_strOutput.append(aBuffer, static_cast<size_t>(n));
        return true;
    }

    pid_t m_nPid = -1;
    int m_nOutFd = -1;
    int m_nStopFd = -1;
    std::string m_strOutput;
};
