#include "monitor/http_request.h"

#include <curl/curl.h>

#include <mutex>

namespace dravion {
namespace {

struct Transfer {
  std::string* body;
  const std::atomic<bool>* abort;
  bool tooLong = false;
};

// An answer over the cap ends the transfer at once: taking fewer bytes than given makes libcurl
// stop with a write error.
size_t Collect(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  if (bytes > kHttpAnswerMaxBytes - transfer->body->size()) {
    transfer->tooLong = true;
    return 0;
  }
  transfer->body->append(data, bytes);
  return bytes;
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<Transfer*>(user)->abort->load() ? 1 : 0;
}

}  // namespace

std::string UrlEncoded(const std::string& text) {
  static const char* hex = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
        (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~') {
      encoded += c;
    } else {
      encoded += '%';
      encoded += hex[byte >> 4];
      encoded += hex[byte & 15];
    }
  }
  return encoded;
}

HttpAnswer RunHttpExchange(const HttpExchange& exchange, const std::atomic<bool>& abort) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  HttpAnswer answer;
  CURL* curl = curl_easy_init();
  if (curl == nullptr) {
    answer.error = "the HTTP library could not start";
    return answer;
  }
  Transfer transfer{&answer.body, &abort};
  char error[CURL_ERROR_SIZE] = {};
  curl_slist* headers = nullptr;
  curl_easy_setopt(curl, CURLOPT_URL, exchange.url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  // An abort during a name look-up does not wait for the resolver's thread (a name server that
  // never answers would hold it for half a minute): the thread is left to end by itself.
  curl_easy_setopt(curl, CURLOPT_QUICK_EXIT, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 10L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "dravion-cli monitor");
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  // libcurl's defaults, stated: the certificate must be trusted and name the URL's host.
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!exchange.authoritiesPem.empty()) {
    // Given in memory: the program reads the file itself (a UTF-8 path on Windows, where libcurl
    // would take it in the system's code page), and OpenSSL keeps the system's folder of
    // authorities beside it.
    curl_blob authorities{const_cast<char*>(exchange.authoritiesPem.data()),
                          exchange.authoritiesPem.size(), CURL_BLOB_COPY};
    if (curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &authorities) != CURLE_OK) {
      answer.error = "the HTTP library cannot take certificate authorities of its own";
      curl_easy_cleanup(curl);
      return answer;
    }
  }
  if (exchange.method == "POST") {
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, exchange.body.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(exchange.body.size()));
    headers = curl_slist_append(headers, ("Content-Type: " + exchange.contentType).c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  }
  const CURLcode code = curl_easy_perform(curl);
  if (code == CURLE_OK) {
    answer.reached = true;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
  } else {
    // curl's own words name the host at most, never the query.
    const std::string detail = error[0] != '\0' ? error : curl_easy_strerror(code);
    if (code == CURLE_ABORTED_BY_CALLBACK) {
      answer.error = "stopped";
    } else if (code == CURLE_WRITE_ERROR && transfer.tooLong) {
      answer.error =
          "the answer was longer than " + std::to_string(kHttpAnswerMaxBytes / 1024) + " KiB";
    } else if (code == CURLE_PEER_FAILED_VERIFICATION) {
      answer.error = "the server's certificate is not trusted: " + detail;
    } else if (code == CURLE_SSL_CACERT_BADFILE) {
      answer.error = "the certificate authorities could not be used: " + detail;
    } else {
      answer.error = detail;
    }
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return answer;
}

}  // namespace dravion
