#include "monitor/tls_client_context.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <fstream>
#include <memory>

#include "log/run_log_file.h"
#include "monitor/monitor_config.h"
#include "monitor/mqtt_output.h"
#include "support/scratch_folder.h"

namespace dravion {
namespace {

// Two self-signed authorities made for these tests (valid for a century).
const char kTestAuthority[] =
    "-----BEGIN CERTIFICATE-----\n"
    "MIIBmjCCAT+gAwIBAgIUbqffjMj9jtTNSNgTty/adxU6W10wCgYIKoZIzj0EAwIw\n"
    "ITEfMB0GA1UEAwwWRHJhdmlvbiB0ZXN0IGF1dGhvcml0eTAgFw0yNjEyMDgxODQ0\n"
    "MjBaGA8yMTI2MTExNDE4NDQyMFowITEfMB0GA1UEAwwWRHJhdmlvbiB0ZXN0IGF1\n"
    "dGhvcml0eTBZMBMGByqGSM49AgEGCCqGSM49AwEHA0IABFo63lfqC1k4m4zyNJAo\n"
    "4/T54Pet113BK+7KnxMcRzIoVVSlRN9gps8eV2nbTwKTj79hsTrw+z/f7ivU7WIG\n"
    "jZyjUzBRMB0GA1UdDgQWBBTZrdHx0qOW9zsuk5AwaKQYTYxVyzAfBgNVHSMEGDAW\n"
    "gBTZrdHx0qOW9zsuk5AwaKQYTYxVyzAPBgNVHRMBAf8EBTADAQH/MAoGCCqGSM49\n"
    "BAMCA0kAMEYCIQCNJzmsJxd1ZqtkSXc8IyUvMcWAqbMQaiR/UUatooChKAIhAMDj\n"
    "dk7mXt4h0hYuGTEg29xcLdVDW2D6N9UWnoTxZrQC\n"
    "-----END CERTIFICATE-----\n";
const char kSecondAuthority[] =
    "-----BEGIN CERTIFICATE-----\n"
    "MIIBnDCCAUOgAwIBAgIUYvp0km37y1xaH75l7MPX4PLWgF0wCgYIKoZIzj0EAwIw\n"
    "IzEhMB8GA1UEAwwYRHJhdmlvbiBzZWNvbmQgYXV0aG9yaXR5MCAXDTI2MTIwODE4\n"
    "NDQyMFoYDzIxMjYxMTE0MTg0NDIwWjAjMSEwHwYDVQQDDBhEcmF2aW9uIHNlY29u\n"
    "ZCBhdXRob3JpdHkwWTATBgcqhkjOPQIBBggqhkjOPQMBBwNCAARd1MVw3alMndP4\n"
    "ZIOdxFjlpwzwUOTfYttubikMPooc8q+rHECJ6QhZXCyY1OfK7FDs6bDXa8vcSocU\n"
    "nXLnYvF2o1MwUTAdBgNVHQ4EFgQU1VqvwvPsB66Qjv4bJFnSU3y8BpwwHwYDVR0j\n"
    "BBgwFoAU1VqvwvPsB66Qjv4bJFnSU3y8BpwwDwYDVR0TAQH/BAUwAwEB/zAKBggq\n"
    "hkjOPQQDAgNHADBEAiBeXsxoMBa7ejAe89p7l1DYor4AV8gohBQndNOPYIyNgQIg\n"
    "dJZiL5zVrSZqJnBBBDNFQUz1W3HgbOWf+t952cKAA6U=\n"
    "-----END CERTIFICATE-----\n";

using Context = std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)>;

// The common names of the certificates a store holds.
std::vector<std::string> StoreNames(SSL_CTX* context) {
  std::vector<std::string> names;
  STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(SSL_CTX_get_cert_store(context));
  for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i) {
    X509* certificate = X509_OBJECT_get0_X509(sk_X509_OBJECT_value(objects, i));
    if (certificate == nullptr) continue;
    char name[256] = {};
    X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, name,
                              sizeof name);
    names.push_back(name);
  }
  return names;
}

// The broker's `ca` named by a path outside any code page (Cyrillic), read as the configuration
// gives it (UTF-8): the context trusts its two authorities and nothing else, checks the peer, and
// wants the broker's name (a DNS name or an IP address) in its certificate. Text that is not a
// certificate, and a host that is none, give no context and say so.
TEST(TlsClientContext, TrustsOnlyTheAuthoritiesFileAndChecksTheBrokersName) {
  test::ScratchFolder folder("tls-context");
  const std::string ca = folder.Utf8() +
                         "/\xD0\xA3\xD0\xA6 \xD0\xB1\xD1\x80\xD0\xBE\xD0\xBA\xD0\xB5"
                         "\xD1\x80\xD0\xB0.pem";  // "УЦ брокера.pem"
  {
    std::ofstream file(PathFromUtf8(ca), std::ios::binary);
    file << "Authorities of the broker\n" << kTestAuthority << kSecondAuthority;
  }
  MonitorConfig config;
  config.sections["mqtt"] = {{"tls", "yes"}, {"ca", ca}, {"host", "broker.example"}};
  std::string pem, error;
  ASSERT_TRUE(ReadConfigAuthorities(config, "mqtt", pem, error)) << error;

  Context context(NewTlsClientContext("broker.example", pem, error), SSL_CTX_free);
  ASSERT_TRUE(context) << error;
  std::vector<std::string> names = StoreNames(context.get());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names,
            (std::vector<std::string>{"Dravion second authority", "Dravion test authority"}));
  EXPECT_EQ(SSL_CTX_get_verify_mode(context.get()), SSL_VERIFY_PEER);
  EXPECT_EQ(SSL_CTX_get_min_proto_version(context.get()), TLS1_2_VERSION);
  X509_VERIFY_PARAM* check = SSL_CTX_get0_param(context.get());
  ASSERT_NE(X509_VERIFY_PARAM_get0_host(check, 0), nullptr);
  EXPECT_STREQ(X509_VERIFY_PARAM_get0_host(check, 0), "broker.example");
  // A connection made from it inherits the name to check.
  std::unique_ptr<SSL, decltype(&SSL_free)> connection(SSL_new(context.get()), SSL_free);
  ASSERT_TRUE(connection);
  EXPECT_STREQ(X509_VERIFY_PARAM_get0_host(SSL_get0_param(connection.get()), 0), "broker.example");

  // An address is checked as an address, not as a name.
  Context byAddress(NewTlsClientContext("192.0.2.7", pem, error), SSL_CTX_free);
  ASSERT_TRUE(byAddress) << error;
  EXPECT_EQ(X509_VERIFY_PARAM_get0_host(SSL_CTX_get0_param(byAddress.get()), 0), nullptr);
  // get1: the caller's copy, freed by OpenSSL's allocator.
  std::unique_ptr<char, void (*)(char*)> address(
      X509_VERIFY_PARAM_get1_ip_asc(SSL_CTX_get0_param(byAddress.get())),
      [](char* text) { OPENSSL_free(text); });
  ASSERT_NE(address, nullptr);
  EXPECT_STREQ(address.get(), "192.0.2.7");

  std::string damaged = kTestAuthority;
  damaged[100] = '*';
  for (const std::string& bad : {std::string("no certificate here\n"), damaged}) {
    error.clear();
    EXPECT_EQ(Context(NewTlsClientContext("broker.example", bad, error), SSL_CTX_free), nullptr);
    EXPECT_EQ(error, "its certificate authorities cannot be read");
  }
  error.clear();
  EXPECT_EQ(Context(NewTlsClientContext("", pem, error), SSL_CTX_free), nullptr);
  EXPECT_FALSE(error.empty());
}

// The MQTT output with TLS starts in either build, its `ca` under a Cyrillic name; a broker name
// that no certificate can hold is refused at the start, naming the section.
TEST(TlsClientContext, TheMqttOutputStartsWithTlsAndAnAuthoritiesFile) {
  test::ScratchFolder folder("tls-mqtt");
  const std::string ca = folder.Utf8() + "/\xD0\xBA\xD0\xBE\xD1\x80\xD0\xB5\xD0\xBD\xD1\x8C.pem";
  std::ofstream(PathFromUtf8(ca), std::ios::binary) << kTestAuthority;
  MonitorConfig config;
  // Port 1 of loopback: nobody answers, and nothing is published (no reading is given).
  config.sections["mqtt"] = {{"tls", "yes"}, {"ca", ca}, {"host", "127.0.0.1"}, {"port", "1"}};
  std::string error;
  {
    MqttOutput output(config);
    EXPECT_TRUE(output.Start(folder.Utf8() + "/archive.sqlite3", error)) << error;
    output.Stop();
  }
#ifdef _WIN32
  config.sections["mqtt"]["host"] = "";
  MqttOutput unnamed(config);
  EXPECT_FALSE(unnamed.Start(folder.Utf8() + "/archive.sqlite3", error));
  EXPECT_EQ(error, "[mqtt] tls: TLS could not be set up for the host ");
#endif
}

#ifdef _WIN32
// The system's "ROOT" store, which OpenSSL does not read: at least one authority (under Wine
// the host's), each one a certificate OpenSSL reads with its public key, and a root is trusted
// as such by the store (its chain of one verifies). A context without `ca` holds the same.
TEST(TlsClientContext, LoadsTheWindowsRootStore) {
  std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(X509_STORE_new(), X509_STORE_free);
  ASSERT_TRUE(store);
  SystemRootsLoaded loaded;
  std::string error;
  ASSERT_TRUE(AddSystemRootCertificates(store.get(), loaded, error)) << error;
  EXPECT_GE(loaded.added, 1);
  EXPECT_EQ(loaded.unreadable, 0);
  STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(store.get());
  int certificates = 0, verified = 0;
  for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i) {
    X509* root = X509_OBJECT_get0_X509(sk_X509_OBJECT_value(objects, i));
    if (root == nullptr) continue;
    ++certificates;
    EXPECT_NE(X509_get0_pubkey(root), nullptr);
    EXPECT_NE(X509_get_subject_name(root), nullptr);
    std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> check(X509_STORE_CTX_new(),
                                                                          X509_STORE_CTX_free);
    ASSERT_TRUE(X509_STORE_CTX_init(check.get(), store.get(), root, nullptr) == 1);
    if (X509_verify_cert(check.get()) == 1) ++verified;
  }
  // Duplicates in the system's store are added once.
  EXPECT_LE(certificates, loaded.added);
  EXPECT_GE(certificates, 1);
  EXPECT_GE(verified, 1) << certificates << " certificates";

  Context context(NewTlsClientContext("broker.example", {}, error), SSL_CTX_free);
  ASSERT_TRUE(context) << error;
  EXPECT_EQ(StoreNames(context.get()).size(), static_cast<size_t>(certificates));
}
#endif

}  // namespace
}  // namespace dravion
