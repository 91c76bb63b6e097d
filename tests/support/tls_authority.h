#pragma once

#include <string>
#include <vector>

namespace dravion::test {

// A certificate authority made at run time for TLS servers on loopback (OpenSSL): its
// certificate and the servers' certificates and keys as PEM files in `folder`. Nothing of it
// is trusted by the system, so a client trusts it only when given its certificate's file.
class TlsAuthority {
 public:
  struct Server {
    std::string certificate;  // PEM file paths
    std::string key;
  };

  // A new authority named `name`, its certificate in folder/<name>-ca.pem.
  TlsAuthority(const std::string& folder, const std::string& name);
  ~TlsAuthority();
  TlsAuthority(const TlsAuthority&) = delete;
  TlsAuthority& operator=(const TlsAuthority&) = delete;

  // False when OpenSSL could not make or write it (`Error()` says why).
  bool Valid() const { return error_.empty(); }
  const std::string& Error() const { return error_; }
  const std::string& CertificateFile() const { return certificateFile_; }

  // A server certificate signed by this authority for the names of `names` (subjectAltName:
  // "127.0.0.1" as an IP address, any other as a DNS name), in folder/<file>.pem and
  // folder/<file>-key.pem.
  Server Issue(const std::string& file, const std::vector<std::string>& names);

 private:
  std::string folder_;
  std::string certificateFile_;
  std::string error_;
  void* key_ = nullptr;          // EVP_PKEY
  void* certificate_ = nullptr;  // X509
  long serial_ = 1;
};

}  // namespace dravion::test
