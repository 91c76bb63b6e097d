#include "ftp/curl_ftp_transfer.h"

#include <algorithm>

#include <curl/curl.h>

#include <cstdio>
#include <fstream>
#include <mutex>

#include "log/run_log_file.h"

namespace dravion {

namespace {

constexpr long kReplyTimeoutS = 15;  // a server that stops answering a command
constexpr long kStallTimeoutS = 20;  // a transfer that stops moving
constexpr long kCommandTimeoutMs = 60000;

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// A folder or file name goes into one command line: no line breaks, no path separators.
bool SafeName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    if (c == '\r' || c == '\n' || c == '/' || c == '\0') return false;
  }
  return true;
}

bool LostConnection(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_LOGIN_DENIED:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_USE_SSL_FAILED:
    case CURLE_PEER_FAILED_VERIFICATION:
      return true;
    default:
      return false;
  }
}

struct Upload {
  std::ifstream* file;
  const std::function<void(uint64_t)>* progress;
};

size_t ReadFromFile(char* buffer, size_t size, size_t count, void* user) {
  auto* upload = static_cast<Upload*>(user);
  if (!upload->file || !*upload->file) return 0;
  upload->file->read(buffer, static_cast<std::streamsize>(size * count));
  return static_cast<size_t>(upload->file->gcount());
}

int ReportProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent) {
  auto* upload = static_cast<Upload*>(user);
  if (*upload->progress && sent > 0) (*upload->progress)(static_cast<uint64_t>(sent));
  return 0;
}

}  // namespace

struct CurlFtpTransfer::Handle {
  CURL* curl = nullptr;
  curl_slist* commands = nullptr;
  char error[CURL_ERROR_SIZE] = {};
  ~Handle() {
    if (curl) curl_easy_cleanup(curl);  // sends QUIT on a kept-alive connection
    if (commands) curl_slist_free_all(commands);
  }
};

CurlFtpTransfer::CurlFtpTransfer(FtpAccount account) : account_(std::move(account)) {
  GlobalInit();
}

CurlFtpTransfer::~CurlFtpTransfer() {
  Quit();
}

std::string CurlFtpTransfer::Url(const std::vector<std::string>& folders,
                                 const std::string& file) const {
  std::string host = account_.host;
  if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
  std::string url = "ftp://" + host + ":" + std::to_string(account_.port) + "/";
  auto escaped = [&](const std::string& part) {
    char* text = curl_easy_escape(handle_->curl, part.c_str(), static_cast<int>(part.size()));
    std::string result = text ? text : "";
    curl_free(text);
    return result;
  };
  for (const auto& folder : folders)
    url += escaped(folder) + "/";
  if (!file.empty()) url += escaped(file);
  return url;
}

void CurlFtpTransfer::Prepare(const std::string& url) {
  CURL* curl = handle_->curl;
  // A reset keeps the live connection; every command starts from the same settings.
  curl_easy_reset(curl);
  if (handle_->commands) {
    curl_slist_free_all(handle_->commands);
    handle_->commands = nullptr;
  }
  handle_->error[0] = '\0';
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, handle_->error);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  if (!account_.user.empty()) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, account_.user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, account_.password.c_str());
  }
  if (account_.explicitTls) {
    curl_easy_setopt(curl, CURLOPT_USE_SSL, (long)CURLUSESSL_ALL);
    // Windows' TLS checks revocation too; where no revocation list or responder can be reached
    // (an offline or filtered network) the certificate still counts, as browsers do, while a
    // certificate known to be revoked is refused. Other TLS back ends ignore the flag.
    curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS, (long)CURLSSLOPT_REVOKE_BEST_EFFORT);
  }
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, Bounded((long)account_.connectTimeoutMs));
  curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, kReplyTimeoutS);
  curl_easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, (long)CURLFTPMETHOD_MULTICWD);
  curl_easy_setopt(curl, CURLOPT_FTP_CREATE_MISSING_DIRS, (long)CURLFTP_CREATE_DIR_NONE);
  curl_easy_setopt(curl, CURLOPT_TRANSFERTEXT, 0L);
  // Passive mode (no FTPPORT), EPSV first with PASV as the fallback.
  curl_easy_setopt(curl, CURLOPT_FTP_USE_EPSV, 1L);
}

FtpResult CurlFtpTransfer::Finish(int result) {
  const auto code = static_cast<CURLcode>(result);
  if (code == CURLE_OK) {
    lastError_.clear();
    return kFtpDone;
  }
  lastError_ = handle_->error[0] ? handle_->error : curl_easy_strerror(code);
  if (LostConnection(code)) {
    connected_ = false;
    return kFtpFailed;
  }
  switch (code) {
    case CURLE_REMOTE_ACCESS_DENIED:  // CWD refused
    case CURLE_QUOTE_ERROR:           // MKD refused
    case CURLE_UPLOAD_FAILED:         // APPE refused
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_REMOTE_DISK_FULL:
      return kFtpRefused;
    default:
      return kFtpFailed;
  }
}

bool CurlFtpTransfer::Connect() {
  if (connected_) return true;
  if (!account_.Configured()) return false;
  handle_ = std::make_unique<Handle>();
  handle_->curl = curl_easy_init();
  if (!handle_->curl) {
    handle_.reset();
    return false;
  }
  folders_.clear();
  Prepare(Url({}, ""));
  curl_easy_setopt(handle_->curl, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(handle_->curl, CURLOPT_TIMEOUT_MS, Bounded(kCommandTimeoutMs));
  connected_ = true;
  if (Finish(curl_easy_perform(handle_->curl)) != kFtpDone) {
    connected_ = false;
    handle_.reset();
  }
  return connected_;
}

FtpResult CurlFtpTransfer::SetBinaryType() {
  // Applied by every transfer (TRANSFERTEXT 0: TYPE I before the data moves).
  return connected_ ? kFtpDone : kFtpFailed;
}

FtpResult CurlFtpTransfer::ChangeFolder(const std::string& name) {
  if (!connected_ || !handle_) return kFtpFailed;
  if (!SafeName(name)) return kFtpRefused;
  std::vector<std::string> target = folders_;
  target.push_back(name);
  Prepare(Url(target, ""));
  curl_easy_setopt(handle_->curl, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(handle_->curl, CURLOPT_TIMEOUT_MS, Bounded(kCommandTimeoutMs));
  const FtpResult result = Finish(curl_easy_perform(handle_->curl));
  if (result == kFtpDone) folders_ = std::move(target);
  return result;
}

FtpResult CurlFtpTransfer::MakeFolder(const std::string& name) {
  if (!connected_ || !handle_) return kFtpFailed;
  if (!SafeName(name)) return kFtpRefused;
  Prepare(Url(folders_, ""));
  handle_->commands = curl_slist_append(nullptr, ("MKD " + name).c_str());
  curl_easy_setopt(handle_->curl, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(handle_->curl, CURLOPT_POSTQUOTE, handle_->commands);
  curl_easy_setopt(handle_->curl, CURLOPT_TIMEOUT_MS, Bounded(kCommandTimeoutMs));
  return Finish(curl_easy_perform(handle_->curl));
}

FtpResult CurlFtpTransfer::Append(const std::string& localPath, const std::string& remoteName,
                                  const std::function<void(uint64_t sent)>& progress) {
  if (!connected_ || !handle_) return kFtpFailed;
  if (!SafeName(remoteName)) return kFtpRefused;
  // A missing local file makes an empty transfer, as the report has always done.
  std::ifstream file(PathFromUtf8(localPath), std::ios::binary);
  curl_off_t size = 0;
  if (file) {
    file.seekg(0, std::ios::end);
    size = static_cast<curl_off_t>(file.tellg());
    file.seekg(0, std::ios::beg);
  }
  Upload upload{file ? &file : nullptr, &progress};

  Prepare(Url(folders_, remoteName));
  CURL* curl = handle_->curl;
  curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(curl, CURLOPT_APPEND, 1L);
  curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, size);
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadFromFile);
  curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, ReportProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &upload);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kStallTimeoutS);
  if (limited_) curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, Bounded(kCommandTimeoutMs));
  return Finish(curl_easy_perform(curl));
}

void CurlFtpTransfer::LimitTime(uint32_t ms) {
  limited_ = ms > 0;
  deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

long CurlFtpTransfer::Bounded(long ms) const {
  if (!limited_) return ms;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline_ - std::chrono::steady_clock::now())
                        .count();
  return std::max(1L, std::min(ms, static_cast<long>(left)));
}

void CurlFtpTransfer::Quit() {
  handle_.reset();
  folders_.clear();
  connected_ = false;
}

std::unique_ptr<FtpTransfer> MakeReportTransfer(OptionStore* options) {
  FtpAccount account = LoadFtpAccount(options);
  if (!account.Configured()) return nullptr;
  return std::make_unique<CurlFtpTransfer>(std::move(account));
}

}  // namespace dravion
