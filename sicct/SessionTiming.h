#pragma once

/// The time constants of the session worker. The defaults are the tool's behaviour; tests
/// shorten them to keep waits short. All values in milliseconds or counts of slices.
struct SSessionTiming
{
    int nWaitSliceMs = 500;         // a response wait is cut into slices of this length
    int nProgressEverySlices = 15;  // text 2011 after every 15th empty slice (7.5 s)
    int nMaxSlices = 600;           // a wait gives up after 600 slices (300 s)
    int nCancelMinSlices = 20;      // with the cancel flag set, after at least 20 slices (10 s)
    int nPollMs = 1000;             // receive thread: poll period, also the idle unit
    int nIdleLimitPolls = 60;       // more idle polls than this end the connection (146)
    int nCloseDelayMs = 1500;       // pause before the session close command
    int nConnectTimeoutMs = 21000;  // TCP connect
    int nHandshakeTimeoutMs = 30000;// TLS handshake
    int nSendTimeoutMs = 60000;     // writing one message
};
