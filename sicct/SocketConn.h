#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

/// One TCP connection to a terminal, plain or TLS (1.0, 1.1 or 1.2, pinned to exactly that
/// version, no certificate check). The socket is non-blocking: every operation is bounded
/// in time, and the receive thread's wait can be woken by Wake() from another thread.
/// Reading (receive thread) and writing (worker thread) may run at the same time; the TLS
/// object is only touched under an internal lock, never across a wait.
/// Owned by CSicctSession; closes everything in its destructor.
class CSocketConn
{
public:
    /// Result of WaitReadable.
    enum EWait
    {
        WAIT_READABLE,
        WAIT_TIMEOUT,
        WAIT_WOKEN,      // Wake() was called (receive thread's wait)
        WAIT_SIGNALLED,  // Signal() was called (waiting worker's wait)
        WAIT_ERROR,
    };
    /// Special results of Read (positive values are byte counts).
    static constexpr int READ_CLOSED = 0;       // orderly end from the peer
    static constexpr int READ_AGAIN = -1;       // nothing complete to read yet
    static constexpr int READ_ERROR = -2;       // see LastError()
    /// Outcome of StartTls.
    enum ETls
    {
        TLS_OK,
        TLS_NO_CONTEXT,   // the context could not be made; the connection stays plain
        TLS_BIND_FAILED,
        TLS_SHUTDOWN,     // the handshake ended with result 0 (peer closed)
        TLS_FAILED,       // the handshake failed
    };
    /// Socket error codes reported to the user, in the numbering users know from the
    /// terminals' documentation.
    static constexpr int ERR_NOT_SOCKET = 10038;
    static constexpr int ERR_CONN_ABORTED = 10053;
    static constexpr int ERR_CONN_RESET = 10054;

    CSocketConn();
    ~CSocketConn();
    CSocketConn(const CSocketConn&) = delete;
    CSocketConn& operator=(const CSocketConn&) = delete;

    /// Creates the socket and the wake-up event. false on failure.
    bool Create();
    /// TCP connect to an IPv4 dotted address within nTimeoutMs. false on failure.
    bool ConnectTcp(const std::string& strAddress, uint16_t nPort, int nTimeoutMs);
    /// TLS client handshake with the version of protocol code nProtocol (0x10/0x11, 0x20,
    /// 0x30), within nTimeoutMs.
    ETls StartTls(int nProtocol, int nTimeoutMs);
    bool HasTls() const { return m_pTls != nullptr; }

    /// Waits up to nTimeoutMs for data (TLS data already buffered counts), or for Wake()
    /// (bForSignal false: the receive thread) or Signal() (bForSignal true: a waiting worker).
    EWait WaitReadable(int nTimeoutMs, bool bForSignal = false);
    /// Waits up to nTimeoutMs for Wake() only (the socket is read by someone else meanwhile);
    /// true when woken.
    bool WaitWake(int nTimeoutMs);
    /// Reads at most nSize bytes: count, READ_CLOSED, READ_AGAIN or READ_ERROR.
    int Read(uint8_t* pBuf, size_t nSize);
    /// Writes all nLength bytes within nTimeoutMs: nLength, or 0 when nothing or not all
    /// could be written (LastError() tells why).
    size_t Write(const uint8_t* pData, size_t nLength, int nTimeoutMs);
    /// Error code of the last failed Read/Write (ERR_* or another positive code).
    int LastError() const { return m_nLastError; }

    /// Wakes a WaitReadable in another thread (and every later one). Thread-safe.
    void Wake();
    /// Marks "an answer is ready" for a worker waiting with bForSignal; stays set until
    /// ClearSignal(). Thread-safe.
    void Signal();
    void ClearSignal();
    /// Sends the TLS close alert (without waiting for the answer) and frees the TLS objects.
    void ShutdownTls();
    /// Closes the socket. Safe to call twice.
    void Close();

private:
    struct STls;
    int m_nSocket = -1;
    int m_nWakeFd = -1;
    int m_nSignalFd = -1;
    int m_nLastError = 0;
    std::unique_ptr<STls> m_pTls;    // set by StartTls (also after a failed handshake)
    std::mutex m_mutexTls;           // guards every SSL_* call on the session
};
