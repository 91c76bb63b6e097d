// The logon task registered, read back, replaced and removed through the system's Task Scheduler.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "cli/monitor_task.h"

namespace dravion::cli {
namespace {

TEST(MonitorTaskWin32, IsRegisteredReadBackReplacedAndRemoved) {
  std::string user, sid, error;
  ASSERT_TRUE(CurrentTaskAccount(user, sid, error)) << error;
  EXPECT_FALSE(user.empty());
  EXPECT_EQ(sid.rfind("S-1-", 0), 0u) << sid;
  // A name of its own, so that a real station's task of this user is left alone.
  const std::string name =
      MonitorTaskName(user) + " test " + std::to_string(::GetCurrentProcessId());
  MonitorTaskDefinition task;
  task.program = ProgramFolder() + kMonitorCompanionName;
  task.arguments = {"--interval", "60", "--config", "C:\\Users\\Иван Петров\\станция & co.ini"};
  task.workingFolder = "C:\\Users\\Иван Петров";
  task.userId = sid;
  task.description = "Dravion station (test)";
  std::string xml;
  ASSERT_TRUE(MonitorTaskXml(task, xml));

  ASSERT_EQ(RegisterLogonTask(name, xml, error), TaskOutcome::Done) << error;
  std::string back;
  EXPECT_EQ(ReadLogonTask(name, back, error), TaskOutcome::Done) << error;
  // Wine's service keeps the settings of a definition but not all of its parts; Windows keeps
  // all of it.
  EXPECT_NE(back.find("<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>"), std::string::npos) << back;
  EXPECT_NE(back.find("<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>"),
            std::string::npos)
      << back;
  EXPECT_NE(back.find("<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>"), std::string::npos)
      << back;
  // Installing again replaces the task.
  EXPECT_EQ(RegisterLogonTask(name, xml, error), TaskOutcome::Done) << error;
  EXPECT_EQ(RemoveLogonTask(name, error), TaskOutcome::Done) << error;
  EXPECT_EQ(RemoveLogonTask(name, error), TaskOutcome::NotThere) << error;
  EXPECT_EQ(ReadLogonTask(name, back, error), TaskOutcome::NotThere) << error;
  // A definition the service cannot take is refused with its reason.
  error.clear();
  EXPECT_EQ(RegisterLogonTask(name, "<Task>", error), TaskOutcome::Failed);
  EXPECT_NE(error.find("(0x"), std::string::npos) << error;
  RemoveLogonTask(name, error);
}

}  // namespace
}  // namespace dravion::cli
#endif
