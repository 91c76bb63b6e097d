#include <gtest/gtest.h>

#include <fstream>

#include "monitor/monitor_config.h"
#include "support/scratch_folder.h"

#ifndef _WIN32
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
    std::ofstream(std::filesystem::u8path(path), std::ios::binary) << text;
#ifndef _WIN32
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
#ifndef _WIN32
  // inih's own limits: a line it would cut, a key before any section, a line that is neither.
  EXPECT_NE(files.Error("[radmon]\npassword = " + std::string(200, 'x') + "\n", config)
                .find("line 2: longer than 198 characters"),
            std::string::npos);
  EXPECT_NE(files.Error("password = hunter2\n[radmon]\n", config)
                .find("line 1: \"password\" stands before any [section]"),
            std::string::npos);
  EXPECT_NE(files.Error("[radmon]\nhunter2\n", config).find("line 2: not a [section]"),
            std::string::npos);
#endif
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

}  // namespace
}  // namespace dravion
