#pragma once
#include <memory>

#include <openssl/ssl.h>

/// TLS client contexts for talking to card terminals. Every link to a terminal (session
/// client, middleware LAN transport, certificate validity) uses the same rules, so they
/// live here once.
namespace tls
{
struct SCtxFree
{
    void operator()(SSL_CTX* p) const noexcept { SSL_CTX_free(p); }
};
using CtxPtr = std::unique_ptr<SSL_CTX, SCtxFree>;

/// A client context for exactly one TLS version (TLS1_VERSION, TLS1_1_VERSION or
/// TLS1_2_VERSION; no negotiation up or down):
/// - no certificate verification: a terminal presents its own device certificate, which
///   nobody here can check, and the administrator chose the terminal by address;
/// - security level 0: TLS 1.0 and 1.1 use SHA-1 handshake signatures, and terminals in the
///   field carry small or old keys on every version;
/// - the brainpool groups offered beside the usual ones, since terminal keys are often on
///   brainpool curves, which OpenSSL leaves out by default.
/// Null when OpenSSL cannot create a context. Safe from any thread.
CtxPtr MakeTerminalClientContext(int nVersion);
} // namespace tls
