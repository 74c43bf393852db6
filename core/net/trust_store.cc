#include "core/net/trust_store.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <QFile>
#include <algorithm>
#include <mutex>
#include <string_view>

#include "core/infra/logger.h"
#include "core/net/engine_state.h"
#include "core/net/url_processor_impl.h"
#include "core/platform/platform.h"

static void InitAssetsResource() { Q_INIT_RESOURCE(net_assets); }

namespace {

struct TrustState {
  std::mutex mutex;
  X509_STORE* store = nullptr;
  std::string pending_roots;  // added before the store was built
};

TrustState& Trust() {
  static TrustState* state = new TrustState();
  return *state;
}

int VerifyCallback(int preverify_ok, X509_STORE_CTX* context) {
  if (preverify_ok) return preverify_ok;
  const int error = X509_STORE_CTX_get_error(context);
  LoggerWrapper log(LoggerWrapper::Fail);
  log << "SSL cert verify failed: " << X509_verify_cert_error_string(error)
      << " Cert depth: " << X509_STORE_CTX_get_error_depth(context);
  if (X509* cert = X509_STORE_CTX_get_current_cert(context)) {
    char subject[512];
    X509_NAME_oneline(X509_get_subject_name(cert), subject, sizeof(subject));
    log << " " << subject;
  } else {
    log << " Failed to get cert failed verify.";
  }
  return preverify_ok;
}

bool AddResourceBundle(const char* path, X509_STORE* store) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    KLOG(Fail) << "Failed to open ca certs file.";
    return false;
  }
  const std::string text = file.readAll().toStdString();
  int failed = 0;
  const int added = net_internal::AddPemBundle(text, store, &failed);
  if (failed > 0) {
    KLOG(Fail) << "Failed adding certs (" << failed << " out of " << added + failed << ")";
  }
  return failed == 0 || added > 0;
}

// Builds the trust store on first use; the caller holds the mutex.
X509_STORE* TrustStoreLocked() {
  TrustState& trust = Trust();
  if (trust.store != nullptr) return trust.store;
  trust.store = X509_STORE_new();
  if (trust.store == nullptr) return nullptr;
  InitAssetsResource();
  std::string system;
  if (!Platform::Default()->GetSystemCaBundle(&system)) {
    KLOG(Info) << "Error opening Root cert store.";
  } else {
    int failed = 0;
    net_internal::AddPemBundle(system, trust.store, &failed);
    if (failed > 0) {
      KLOG(Info) << "Adding system Root certificate failed, perhaps it has already been added. "
                    "Certs count of problems: "
                 << failed;
    }
  }
  if (!AddResourceBundle(":/assets/cacert.pem", trust.store)) {
    KLOG(Fatal) << "Failed to add bundled cacerts.";
  }
  if (!AddResourceBundle(":/assets/cacert_additional.pem", trust.store)) {
    KLOG(Fatal) << "Failed to add bundled additional cacerts.";
  }
  if (!trust.pending_roots.empty()) {
    int failed = 0;
    net_internal::AddPemBundle(trust.pending_roots, trust.store, &failed);
    trust.pending_roots.clear();
  }
  return trust.store;
}

}  // namespace

namespace net_internal {

int AddPemBundle(const std::string& text, void* x509_store, int* failed) {
  static const std::string kBegin = "-----BEGIN CERTIFICATE-----";
  static const std::string kEnd = "-----END CERTIFICATE-----";
  auto* store = static_cast<X509_STORE*>(x509_store);
  int added = 0;
  *failed = 0;
  size_t at = 0;
  while ((at = text.find(kBegin, at)) != std::string::npos) {
    const size_t end = text.find(kEnd, at);
    if (end == std::string::npos) break;
    const std::string block = text.substr(at, end + kEnd.size() - at) + "\n";
    if (URLProcessorImpl::AddX509CertToStore(block.data(), static_cast<int>(block.size()), store,
                                             false)) {
      ++added;
    } else {
      ++*failed;
      KLOG(Fail) << "Cert not added: " << block.substr(kBegin.size() + 1, 64) << "...";
    }
    at = end + kEnd.size();
  }
  return added;
}

bool InstallTrustStore(ssl_ctx_st* context) {
  SSL_CTX_set_verify(context, SSL_CTX_get_verify_mode(context), &VerifyCallback);
  TrustState& trust = Trust();
  std::lock_guard<std::mutex> lock(trust.mutex);
  X509_STORE* store = TrustStoreLocked();
  if (store == nullptr) {
    KLOG(Fatal) << "Failed to build the trust store.";
    return false;
  }
  // The context takes a reference of its own.
  X509_STORE_up_ref(store);
  SSL_CTX_set_cert_store(context, store);
  return true;
}

void FreeTrustStore() {
  TrustState& trust = Trust();
  std::lock_guard<std::mutex> lock(trust.mutex);
  X509_STORE_free(trust.store);
  trust.store = nullptr;
}

}  // namespace net_internal

void URLProcessorImpl::SetSslVerifyActive(bool active) {
  net_internal::Engine().verify_disabled.store(!active);
}

bool URLProcessorImpl::GetSslVerifyActive() {
  return !net_internal::Engine().verify_disabled.load();
}

int URLProcessorImpl::AddTrustedRootCertificates(const std::string& pem) {
  TrustState& trust = Trust();
  std::lock_guard<std::mutex> lock(trust.mutex);
  int failed = 0;
  if (trust.store == nullptr) {
    // Counted now, added when the store is built.
    X509_STORE* probe = X509_STORE_new();
    if (probe == nullptr) return 0;
    const int added = net_internal::AddPemBundle(pem, probe, &failed);
    X509_STORE_free(probe);
    trust.pending_roots += pem;
    trust.pending_roots += '\n';
    return added;
  }
  return net_internal::AddPemBundle(pem, trust.store, &failed);
}

bool URLProcessorImpl::AddX509CertToStore(const char* data, int length, x509_store_st* store,
                                          bool der) {
  BIO* bio = BIO_new_mem_buf(data, length);
  if (bio == nullptr) {
    KLOG(Fatal) << "Failed allocate BIO buffer.";
    return false;
  }
  X509* cert = der ? d2i_X509_bio(bio, nullptr) : PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  if (cert == nullptr) {
    KLOG(Fatal) << "Failed reading BIO and cert is null. From: "
                << std::string_view(data, std::min(length, 200));
    ERR_clear_error();
    return false;
  }
  const bool added = X509_STORE_add_cert(store, cert) == 1;
  if (!added) ERR_clear_error();
  X509_free(cert);
  return added;
}
