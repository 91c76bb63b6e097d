// The Windows root store for OpenSSL, which reads only files: each certificate of the system's
// "ROOT" store, as the system holds it (DER), becomes an X509 of the context's store.
#include <windows.h>
// After windows.h, and before OpenSSL's headers, which take back the names of wincrypt.h that
// clash with theirs (X509_NAME and others).
#include <wincrypt.h>

#include <openssl/err.h>
#include <openssl/x509.h>

#include <climits>
#include <cstring>
#include <vector>

#include "monitor/tls_client_context.h"
#include "services/wide_text_win32.h"

namespace dravion {
namespace {

// Whether the store's properties of the certificate let it vouch for a server. Only the property
// is looked at (an extension of the certificate itself is OpenSSL's to check): none means every
// use; a list must hold server authentication; an empty list with any other last error means no
// use at all (CertGetEnhancedKeyUsage's documentation).
bool TrustedForServers(PCCERT_CONTEXT certificate) {
  DWORD size = 0;
  if (!::CertGetEnhancedKeyUsage(certificate, CERT_FIND_PROP_ONLY_ENHKEY_USAGE_FLAG, nullptr,
                                 &size))
    return ::GetLastError() == static_cast<DWORD>(CRYPT_E_NOT_FOUND);
  if (size < sizeof(CERT_ENHKEY_USAGE)) return false;
  std::vector<BYTE> buffer(size);
  auto* usage = reinterpret_cast<PCERT_ENHKEY_USAGE>(buffer.data());
  if (!::CertGetEnhancedKeyUsage(certificate, CERT_FIND_PROP_ONLY_ENHKEY_USAGE_FLAG, usage, &size))
    return false;
  if (usage->cUsageIdentifier == 0)
    return ::GetLastError() == static_cast<DWORD>(CRYPT_E_NOT_FOUND);
  for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
    const char* identifier = usage->rgpszUsageIdentifier[i];
    if (identifier != nullptr && std::strcmp(identifier, szOID_PKIX_KP_SERVER_AUTH) == 0)
      return true;
  }
  return false;
}

}  // namespace

bool AddSystemRootCertificates(x509_store_st* store, SystemRootsLoaded& loaded,
                               std::string& error) {
  loaded = {};
  // No cryptographic provider (the parameter is a legacy one and is to be NULL).
  HCERTSTORE system = ::CertOpenSystemStoreW(0, L"ROOT");
  if (system == nullptr) {
    error = "the system's store of root certificates cannot be opened: " +
            SystemErrorText(::GetLastError());
    return false;
  }
  // Each call frees the context it is given and returns the next; NULL at the end, with
  // CRYPT_E_NOT_FOUND or ERROR_NO_MORE_FILES as the last error.
  PCCERT_CONTEXT certificate = nullptr;
  while ((certificate = ::CertEnumCertificatesInStore(system, certificate)) != nullptr) {
    if ((certificate->dwCertEncodingType & X509_ASN_ENCODING) == 0 ||
        certificate->pbCertEncoded == nullptr || certificate->cbCertEncoded == 0 ||
        certificate->cbCertEncoded > static_cast<DWORD>(LONG_MAX)) {
      ++loaded.unreadable;
      continue;
    }
    if (!TrustedForServers(certificate)) {
      ++loaded.notForServers;
      continue;
    }
    const unsigned char* der = certificate->pbCertEncoded;
    X509* x509 = d2i_X509(nullptr, &der, static_cast<long>(certificate->cbCertEncoded));
    if (x509 == nullptr) {
      ERR_clear_error();
      ++loaded.unreadable;
      continue;
    }
    // The store takes a reference of its own; one it holds already is no fault.
    if (X509_STORE_add_cert(store, x509) == 1) {
      ++loaded.added;
    } else {
      ERR_clear_error();
      ++loaded.unreadable;
    }
    X509_free(x509);
  }
  const DWORD end = ::GetLastError();
  ::CertCloseStore(system, 0);
  if (end != static_cast<DWORD>(CRYPT_E_NOT_FOUND) && end != ERROR_NO_MORE_FILES) {
    error = "the system's store of root certificates cannot be read: " + SystemErrorText(end);
    return false;
  }
  return true;
}

}  // namespace dravion
