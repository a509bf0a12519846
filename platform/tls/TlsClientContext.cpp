#include "TlsClientContext.h"

namespace tls
{
CtxPtr MakeTerminalClientContext(int nVersion)
{
    CtxPtr pCtx(SSL_CTX_new(TLS_client_method()));
    if (!pCtx)
        return pCtx;
    SSL_CTX_set_min_proto_version(pCtx.get(), nVersion);
    SSL_CTX_set_max_proto_version(pCtx.get(), nVersion);
    SSL_CTX_set_verify(pCtx.get(), SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_security_level(pCtx.get(), 0);
    SSL_CTX_set_cipher_list(pCtx.get(), "DEFAULT:@SECLEVEL=0");
    SSL_CTX_set1_groups_list(pCtx.get(),
                             "X25519:P-256:P-384:P-521:brainpoolP256r1:brainpoolP384r1:brainpoolP512r1");
    return pCtx;
}
} // namespace tls
