#ifndef KORVO_CORE_NET_TRUST_STORE_H_
#define KORVO_CORE_NET_TRUST_STORE_H_

// The one trust store of every verified exchange: the system's roots, the
// shipped bundles and the roots an application adds. core/net only.

#include <string>

struct ssl_ctx_st;

namespace net_internal {

// Puts the trust store (built on first use) and the verification logger into
// a TLS context; false when the store cannot be built.
bool InstallTrustStore(ssl_ctx_st* context);
// At GlobalClose.
void FreeTrustStore();

// Adds every certificate of a PEM text; returns how many were added and
// counts the refused ones in |*failed|.
int AddPemBundle(const std::string& text, void* x509_store, int* failed);

}  // namespace net_internal

#endif  // KORVO_CORE_NET_TRUST_STORE_H_
