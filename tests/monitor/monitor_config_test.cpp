#include <gtest/gtest.h>

#include <fstream>

#include "monitor/monitor_config.h"
#include "support/scratch_folder.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h.
#include <sddl.h>

#include <vector>
#else
#include <sys/stat.h>
#endif

namespace dravion {
namespace {

struct ConfigFiles {
  test::ScratchFolder folder{"monitor-config"};
  int written = 0;

  // A file with `text`, readable by its owner alone.
  std::string Write(const std::string& text) {
    const std::string path = folder.Utf8() + "/monitor-" + std::to_string(++written) + ".ini";
#ifdef _WIN32
    std::string error;
    EXPECT_TRUE(WritePrivateFile(path, text, error)) << error;
#else
    std::ofstream(std::filesystem::u8path(path), std::ios::binary) << text;
    ::chmod(path.c_str(), 0600);
#endif
    return path;
  }
  // Loads `text`: the error, empty when it loaded.
  std::string Error(const std::string& text, MonitorConfig& config) {
    std::string error;
    bool missing = false;
    return LoadMonitorConfig(Write(text), config, error, missing) ? std::string() : error;
  }
};

TEST(MonitorConfig, KnownSectionsAndKeysLoadAndEveryMistakeIsSaidWithoutTheSecret) {
  ConfigFiles files;
  MonitorConfig config;
  // A section line alone turns its output on with its defaults.
  EXPECT_EQ(
      files.Error("; a station\n[prometheus]\n\n[radmon]\nuser = me\npassword = hunter2\n", config),
      "");
  EXPECT_TRUE(config.Has("prometheus"));
  EXPECT_EQ(config.Get("prometheus", "listen", "127.0.0.1:9750"), "127.0.0.1:9750");
  EXPECT_EQ(config.Get("radmon", "user"), "me");
  EXPECT_EQ(config.Get("radmon", "password"), "hunter2");
  EXPECT_FALSE(config.Has("mqtt"));
  EXPECT_TRUE(IsSecretKey("password") && IsSecretKey("api_key") && !IsSecretKey("user"));

  const struct {
    const char* text;
    const char* said;
  } mistakes[] = {
      {"[radmon]\npassword = hunter2\npassword = hunter2\n", "\"password\" is given twice"},
      {"[radmon]\npasswort = hunter2\n", "unknown key \"passwort\" in [radmon]"},
      {"[weather]\napi_key = hunter2\n", "unknown section [weather]"},
  };
  for (const auto& mistake : mistakes) {
    const std::string error = files.Error(mistake.text, config);
    EXPECT_NE(error.find(mistake.said), std::string::npos) << error;
    EXPECT_EQ(error.find("hunter2"), std::string::npos) << error;
    EXPECT_TRUE(config.sections.empty()) << mistake.text;
  }
  // A line too long, a key before any section, a line that is neither.
  EXPECT_NE(files.Error("[radmon]\npassword = " + std::string(200, 'x') + "\n", config)
                .find("line 2: longer than 198 characters"),
            std::string::npos);
  EXPECT_NE(files.Error("password = hunter2\n[radmon]\n", config)
                .find("line 1: \"password\" stands before any [section]"),
            std::string::npos);
  EXPECT_NE(files.Error("[radmon]\nhunter2\n", config).find("line 2: not a [section]"),
            std::string::npos);
}

TEST(MonitorConfig, TheTemplateIsTheUsersAloneAndNothingElseIsRead) {
  ConfigFiles files;
  const std::string path = files.folder.Utf8() + "/new/monitor.ini";
  std::string error;
  ASSERT_TRUE(WritePrivateFile(path, MonitorConfigTemplate(), error)) << error;
  MonitorConfig config;
  bool missing = true;
  ASSERT_TRUE(LoadMonitorConfig(path, config, error, missing)) << error;
  EXPECT_TRUE(config.sections.empty());  // every output commented out
  // Never over a file that is there.
  EXPECT_FALSE(WritePrivateFile(path, "[prometheus]\n", error));
  ASSERT_TRUE(LoadMonitorConfig(path, config, error, missing));
  EXPECT_TRUE(config.sections.empty());

  EXPECT_FALSE(LoadMonitorConfig(files.folder.Utf8() + "/none.ini", config, error, missing));
  EXPECT_TRUE(missing);
#ifndef _WIN32
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // Readable by others: refused, saying how to mend it, before anything is read.
  const std::string shared = files.Write("[radmon]\npassword = hunter2\n");
  ::chmod(shared.c_str(), 0640);
  EXPECT_FALSE(LoadMonitorConfig(shared, config, error, missing));
  EXPECT_FALSE(missing);
  EXPECT_NE(error.find("chmod 600"), std::string::npos) << error;
  EXPECT_TRUE(config.sections.empty());
#endif
}

TEST(MonitorConfig, TheFirstWrongLineIsNamedSectionsComeOnceAndIndentedLinesReadAsWritten) {
  ConfigFiles files;
  MonitorConfig config;
  // Two mistakes: the first line's is named, not the unknown section further down.
  std::string error =
      files.Error("[radmon]\nuser = me\npasswort = hunter2\n\n[weather]\nkey = hunter2\n", config);
  EXPECT_NE(error.find("line 3: unknown key \"passwort\""), std::string::npos) << error;
  // A section given twice is refused, naming both lines.
  error = files.Error("[radmon]\nuser = me\n\n[radmon]\npassword = hunter2\n", config);
  EXPECT_NE(error.find("line 4: [radmon] is given twice (line 1 began it)"), std::string::npos)
      << error;
  EXPECT_EQ(error.find("hunter2"), std::string::npos) << error;
  // Indented lines, a comment after a value, Windows line ends, a byte-order mark.
  EXPECT_EQ(files.Error("\xEF\xBB\xBF  [radmon]\r\n    user = me ; the login\r\n"
                        "\tpassword = p;w\r\n  # done\r\n",
                        config),
            "");
  EXPECT_EQ(config.Get("radmon", "user"), "me");
  EXPECT_EQ(config.Get("radmon", "password"), "p;w");
  EXPECT_EQ(config.LineOf("radmon", "password"), 3);
  // A file saved as UTF-16 (Windows' "Unicode") reads as the same text.
  const std::string utf8 = "[mqtt]\ntopic = станция/<serial>\n";
  std::string utf16 = "\xFF\xFE";
  for (const char32_t c : std::u32string(U"[mqtt]\ntopic = станция/<serial>\n")) {
    utf16 += static_cast<char>(c & 0xFF);
    utf16 += static_cast<char>(c >> 8);
  }
  EXPECT_EQ(files.Error(utf16, config), "");
  EXPECT_EQ(config.Get("mqtt", "topic"), "станция/<serial>");
  // Text that is not UTF-8 is refused with its line.
  error = files.Error("[mqtt]\ntopic = dravion\xFF/<serial>\n", config);
  EXPECT_NE(error.find("line 2: not UTF-8 text"), std::string::npos) << error;
}

TEST(MonitorConfig, EveryValueIsCheckedAtOnceNamingItsLineAndKeyButNeverTheValue) {
  ConfigFiles files;
  MonitorConfig config;
  const struct {
    std::string text;
    const char* said;
  } mistakes[] = {
      {"[radmon]\nuser = me\npassword = hunter2\nurl = radmon.example/hunter2\n",
       "line 4: [radmon] url is not a URL"},
      {"[gmcmap]\naccount = 1\ndevice = 2\nurl = ftp://hunter2.example/\n",
       "line 4: [gmcmap] url must begin with https:// or http://"},
      {"[radmon]\nuser = me\npassword = hunter2\nurl = https://hunter2.example:99999/\n",
       "line 4: [radmon] url"},
      {"[radmon]\nuser = me\npassword = hunter2\nurl = https://r.example/p?hunter2=1\n",
       "line 4: [radmon] url must not hold a query"},
      {"[radmon]\nuser = me\n", "line 1: [radmon] needs password"},
      {"[safecast]\napi_key = hunter2\nlatitude = 51,5\nlongitude = 0\n",
       "line 3: [safecast] latitude is degrees"},
      {"[safecast]\napi_key = hunter2\nlatitude = 51.5\nlongitude = 0\ndevice_id = 007\n",
       "line 5: [safecast] device_id is a whole number"},
      {"[mqtt]\nport = 70000\n", "line 2: [mqtt] port is a number from 1 to 65535"},
      {"[mqtt]\nhost = bro ker\n", "line 2: [mqtt] host is not a host name"},
      {"[mqtt]\ntls = on\n", "line 2: [mqtt] tls is yes or no"},
      {"[mqtt]\ntopic = home/+/hunter2\n", "line 2: [mqtt] topic must not hold + or #"},
      {"[mqtt]\ndiscovery = ha/#\n", "line 2: [mqtt] discovery must not hold + or #"},
      {"[prometheus]\nlisten = 127.0.0.1\n", "line 2: [prometheus] listen needs a port"},
      {"[prometheus]\nlisten = ::1:9750\n", "line 2: [prometheus] listen is not host:port"},
      {"[station]\nkeep_days = -1\n", "line 2: [station] keep_days is a number of days"},
      // Two mistakes in two sections: the earlier line is named.
      {"[safecast]\napi_key = hunter2\nlatitude = 91\nlongitude = 0\n[mqtt]\nport = 0\n",
       "line 3: [safecast] latitude"},
      {"[mqtt]\nport = 0\n[safecast]\napi_key = hunter2\nlatitude = 91\nlongitude = 0\n",
       "line 2: [mqtt] port"},
  };
  for (const auto& mistake : mistakes) {
    const std::string error = files.Error(mistake.text, config);
    EXPECT_NE(error.find(mistake.said), std::string::npos) << mistake.text << " -> " << error;
    EXPECT_EQ(error.find("hunter2"), std::string::npos) << error;
  }
  // What a station may well be given.
  EXPECT_EQ(files.Error("[radmon]\nuser = me\npassword = p\nurl = http://127.0.0.1:8080/r.php\n"
                        "[safecast]\napi_key = k\nlatitude = -33.86\nlongitude = 151.2\n"
                        "device_id = 1007\n[mqtt]\nhost = ::1\nport = 8883\ntls = yes\n"
                        "topic = станция/<serial>\ndiscovery =\n"
                        "[prometheus]\nlisten = [::1]:9750\n[station]\nkeep_days = 365\n",
                        config),
            "");
  EXPECT_EQ(StationLimitsOf(config).keepDays, 365);
  EXPECT_EQ(StationLimitsOf(config).queueMax, kDefaultQueueMax);
  EXPECT_FALSE(config.station.empty());
  EXPECT_EQ(MqttTopicProblem("dravion/214-36587"), "");
  EXPECT_NE(MqttTopicProblem(std::string("dravion/2\xC3", 10)), "");
}

#ifdef _WIN32
TEST(MonitorConfig, OnWindowsAFileThatOthersMayReadIsRefusedAsOnLinux) {
  ConfigFiles files;
  const std::string path = files.folder.Utf8() + "/everyone.ini";
  // The user's own entry and one that lets everyone read it.
  HANDLE token = nullptr;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
  std::vector<uint64_t> buffer(64);
  DWORD length = 0;
  ASSERT_TRUE(::GetTokenInformation(token, TokenUser, buffer.data(),
                                    static_cast<DWORD>(buffer.size() * 8), &length));
  ::CloseHandle(token);
  wchar_t* sid = nullptr;
  ASSERT_TRUE(
      ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid));
  const std::wstring sddl = std::wstring(L"D:P(A;;FA;;;") + sid + L")(A;;FR;;;WD)";
  ::LocalFree(sid);
  SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      sddl.c_str(), SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr));
  const HANDLE file = ::CreateFileW(std::filesystem::u8path(path).c_str(), GENERIC_WRITE, 0,
                                    &security, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ::LocalFree(security.lpSecurityDescriptor);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  const char text[] = "[radmon]\nuser = me\npassword = hunter2\n";
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(file, text, sizeof text - 1, &written, nullptr));
  ::CloseHandle(file);
  MonitorConfig config;
  std::string error;
  bool missing = false;
  EXPECT_FALSE(LoadMonitorConfig(path, config, error, missing));
  EXPECT_NE(error.find("can be read or changed by other users"), std::string::npos) << error;
  EXPECT_NE(error.find("icacls"), std::string::npos) << error;
  EXPECT_TRUE(config.sections.empty());
  // The template as written: the user alone, nothing inherited.
  const std::string own = files.folder.Utf8() + "/own.ini";
  ASSERT_TRUE(WritePrivateFile(own, MonitorConfigTemplate(), error)) << error;
  EXPECT_TRUE(LoadMonitorConfig(own, config, error, missing)) << error;
}
#endif

}  // namespace
}  // namespace dravion
