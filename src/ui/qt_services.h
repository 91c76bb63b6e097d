#pragma once

#include <QObject>
#include <QSettings>
#include <QString>
#include <atomic>
#include <memory>

#include "services/clock.h"
#include "services/dialogs.h"
#include "services/event_pump.h"
#include "services/language.h"
#include "services/option_store.h"

class QWidget;

namespace dravion::ui {

// UTF-8 texts of the core to and from Qt strings.
inline QString Q(const std::string& text) {
  return QString::fromUtf8(text.data(), text.size());
}
inline std::string S(const QString& text) {
  return text.toStdString();
}

// The core's event pump over the Qt event loop of the user-interface thread. A wait processes
// what is pending, then sleeps in the event loop until an event arrives, Wake is called, or the
// deadline passes. Waits may nest (a timer handler that runs inside a wait may wait itself).
class QtEventPump : public EventPump {
 public:
  explicit QtEventPump(Clock& clock) : clock_(clock) {}
  void ProcessEvents(uint32_t deadlineTick) override;
  void Wake() override;
  // Held user input stays in the window system's queue (QEventLoop::ExcludeUserInputEvents).
  void HoldUserInput(bool hold) override { inputHolds_ += hold ? 1 : -1; }
  // How many waits are running now on the user-interface thread (0 outside any wait).
  int Depth() const { return depth_; }
  // Called each time the outermost wait has returned.
  void SetIdleCallback(std::function<void()> callback) { onIdle_ = std::move(callback); }

 private:
  Clock& clock_;
  std::atomic<bool> woken_{false};
  int depth_ = 0;
  int inputHolds_ = 0;
  std::function<void()> onIdle_;
};

// The local tick of SystemClock; dates in the user's short date and long time formats.
class QtClock : public SystemClock {
 public:
  std::string DateTimeText() override;
};

// Message boxes and prompts. "\n\r", "\r\n" and lone "\r" become line breaks for display.
class QtDialogs : public Dialogs {
 public:
  QtDialogs(const Language& language, QWidget* parent) : language_(language), parent_(parent) {}
  void ShowMessage(BoxKind kind, const std::string& text) override;
  bool Ask(QuestionKind kind, const std::string& text) override;
  bool AskText(const std::string& title, const std::string& prompt, std::string& value) override;
  void SetParent(QWidget* parent) { parent_ = parent; }
  // How many boxes or prompts are open now (they run their own event loops).
  int OpenCount() const { return open_; }

 private:
  struct OpenScope {
    explicit OpenScope(int& count) : count_(count) { ++count_; }
    ~OpenScope() { --count_; }
    int& count_;
  };
  const Language& language_;
  QWidget* parent_;
  int open_ = 0;
};

QString NormaliseLineBreaks(const QString& text);

// Where a save dialog starts: `name` in the user's Documents folder (the home folder when the
// system names none).
QString InDocuments(const QString& name);

// The options key: HKEY_CURRENT_USER\TARVO\TQV8\MANAGER\OPTIONS on Windows, the platform's
// native settings file of organisation TARVO / application TQV8 (group MANAGER/OPTIONS) elsewhere.
class QtOptionStore : public OptionStore {
 public:
  QtOptionStore();
  std::optional<int64_t> ReadInt(const std::string& name) override;
  bool WriteInt(const std::string& name, int64_t value) override;
  std::optional<std::string> ReadText(const std::string& name) override;
  bool WriteText(const std::string& name, const std::string& value) override;
  QString Location() const { return settings_->fileName(); }

 private:
  std::unique_ptr<QSettings> settings_;
};

// Turns SIGTERM, SIGINT and SIGHUP into a normal close of the given window (through its close
// event, so the exit steps run). A self-pipe carries the signal into the event loop.
class SignalCloser : public QObject {
  Q_OBJECT
 public:
  explicit SignalCloser(QWidget* window);
  ~SignalCloser() override;
  // The last signal that arrived (0 before any).
  int LastSignal() const { return lastSignal_; }

 private:
  void OnSignal();
  QWidget* window_;
  int lastSignal_ = 0;
  bool owner_ = false;
};

}  // namespace dravion::ui
