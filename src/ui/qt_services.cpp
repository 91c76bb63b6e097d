#include "ui/qt_services.h"

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QInputDialog>
#include <QLocale>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QWidget>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace dravion::ui {

void QtEventPump::ProcessEvents(uint32_t deadlineTick) {
  ++depth_;
  const QEventLoop::ProcessEventsFlags events =
      inputHolds_ > 0 ? QEventLoop::ExcludeUserInputEvents : QEventLoop::AllEvents;
  QCoreApplication::processEvents(events);
  for (;;) {
    if (woken_.exchange(false)) break;
    // A deadline in the past (a huge unsigned distance) means "do not wait".
    const uint32_t left = deadlineTick - clock_.TickMs();
    if (left == 0 || left > 0x7FFFFFFFu) break;
    // The timer's event ends the sleep at the deadline; Wake ends it through the dispatcher.
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    deadline.start(static_cast<int>(left));
    if (woken_.load()) continue;
    QCoreApplication::processEvents(events | QEventLoop::WaitForMoreEvents);
  }
  --depth_;
  if (depth_ == 0 && onIdle_) onIdle_();
}

void QtEventPump::Wake() {
  woken_.store(true);
  if (auto* dispatcher = QAbstractEventDispatcher::instance(QCoreApplication::instance()->thread()))
    dispatcher->wakeUp();
}

std::string QtClock::DateTimeText() {
  const QLocale locale = QLocale::system();
  const QDateTime now = QDateTime::currentDateTime();
  // The long time format without the zone name that some platforms append.
  QString timeFormat = locale.timeFormat(QLocale::LongFormat);
  timeFormat.remove(QLatin1Char('t'));
  return S(locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           now.time().toString(timeFormat.trimmed()));
}

QString NormaliseLineBreaks(const QString& text) {
  QString result = text;
  result.replace(QLatin1String("\n\r"), QLatin1String("\n"));
  result.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return result;
}

QString InDocuments(const QString& name) {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::homePath();
  return QDir(folder).filePath(name);
}

namespace {

// A box whose buttons speak the interface language (Qt's own captions are English unless a
// translation is installed, which the static Windows build does not carry).
QMessageBox::StandardButton RunBox(QWidget* parent, const Language& language,
                                   QMessageBox::Icon icon, const QString& title,
                                   const QString& body, QMessageBox::StandardButtons buttons,
                                   QMessageBox::StandardButton defaultButton) {
  QMessageBox box(icon, title, body, buttons, parent);
  box.setDefaultButton(defaultButton);
  const std::pair<QMessageBox::StandardButton, QString> captions[] = {
      {QMessageBox::Yes, Q(language.Text("Да", "Yes"))},
      {QMessageBox::No, Q(language.Text("Нет", "No"))},
      {QMessageBox::Ok, Q(language.Text("ОК", "OK"))},
  };
  for (const auto& [which, caption] : captions) {
    if (QAbstractButton* button = box.button(which)) button->setText(caption);
  }
  box.exec();
  return box.standardButton(box.clickedButton());
}

}  // namespace

void QtDialogs::ShowMessage(BoxKind kind, const std::string& text) {
  OpenScope open(open_);
  const QString body = NormaliseLineBreaks(Q(text));
  switch (kind) {
    case BoxKind::Error:
      RunBox(parent_, language_, QMessageBox::Critical, Q(language_.Text("Ошибка", "Error")), body,
             QMessageBox::Ok, QMessageBox::Ok);
      break;
    case BoxKind::Information:
      RunBox(parent_, language_, QMessageBox::Information,
             Q(language_.Text("Информация", "Information")), body, QMessageBox::Ok,
             QMessageBox::Ok);
      break;
    case BoxKind::Warning:
      RunBox(parent_, language_, QMessageBox::Warning,
             Q(language_.Text("Предупреждение", "Warning")), body, QMessageBox::Ok,
             QMessageBox::Ok);
      break;
  }
}

bool QtDialogs::Ask(QuestionKind kind, const std::string& text) {
  OpenScope open(open_);
  const QString body = NormaliseLineBreaks(Q(text));
  const auto buttons = QMessageBox::Yes | QMessageBox::No;
  if (kind == QuestionKind::Warning)
    return RunBox(parent_, language_, QMessageBox::Warning,
                  Q(language_.Text("Предупреждение", "Warning")), body, buttons,
                  QMessageBox::No) == QMessageBox::Yes;
  if (kind == QuestionKind::Error)
    return RunBox(parent_, language_, QMessageBox::Critical, Q(language_.Text("Ошибка", "Error")),
                  body, buttons, QMessageBox::Yes) == QMessageBox::Yes;
  return RunBox(parent_, language_, QMessageBox::Question,
                Q(language_.Text("Подтверждение", "Confirm")), body, buttons,
                QMessageBox::Yes) == QMessageBox::Yes;
}

bool QtDialogs::AskText(const std::string& title, const std::string& prompt, std::string& value) {
  OpenScope open(open_);
  bool ok = false;
  const QString typed =
      QInputDialog::getText(parent_, NormaliseLineBreaks(Q(title)), NormaliseLineBreaks(Q(prompt)),
                            QLineEdit::Normal, Q(value), &ok);
  if (ok) value = S(typed);
  return ok;
}

QtOptionStore::QtOptionStore() {
#ifdef Q_OS_WIN
  settings_ = std::make_unique<QSettings>(
      QStringLiteral("HKEY_CURRENT_USER\\TARVO\\TQV8\\MANAGER\\OPTIONS"), QSettings::NativeFormat);
#else
  settings_ = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                          QStringLiteral("TARVO"), QStringLiteral("TQV8"));
  settings_->beginGroup(QStringLiteral("MANAGER/OPTIONS"));
#endif
}

std::optional<int64_t> QtOptionStore::ReadInt(const std::string& name) {
  const QVariant value = settings_->value(Q(name));
  if (!value.isValid()) return std::nullopt;
  bool ok = false;
  const qlonglong number = value.toLongLong(&ok);
  if (!ok) return std::nullopt;
  return number;
}

bool QtOptionStore::WriteInt(const std::string& name, int64_t value) {
  // REG_DWORD on Windows: a 32-bit value.
  settings_->setValue(Q(name), static_cast<int>(value));
  settings_->sync();
  return settings_->status() == QSettings::NoError;
}

std::optional<std::string> QtOptionStore::ReadText(const std::string& name) {
  const QVariant value = settings_->value(Q(name));
  if (!value.isValid()) return std::nullopt;
  return S(value.toString());
}

bool QtOptionStore::WriteText(const std::string& name, const std::string& value) {
  settings_->setValue(Q(name), Q(value));  // REG_SZ on Windows
  settings_->sync();
  return settings_->status() == QSettings::NoError;
}

#ifdef Q_OS_UNIX
namespace {
int signalPipe[2] = {-1, -1};

void OnPosixSignal(int number) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(number);
  [[maybe_unused]] ssize_t written = ::write(signalPipe[1], &byte, 1);
  errno = saved;
}
}  // namespace
#endif

SignalCloser::SignalCloser(QWidget* window) : QObject(window), window_(window) {
#ifdef Q_OS_UNIX
  if (signalPipe[0] >= 0) return;  // one closer per process
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) return;
  for (int fd : signalPipe) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, &SignalCloser::OnSignal);
  struct sigaction action {};
  action.sa_handler = OnPosixSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int number : {SIGTERM, SIGINT, SIGHUP})
    ::sigaction(number, &action, nullptr);
  owner_ = true;
#endif
}

SignalCloser::~SignalCloser() {
#ifdef Q_OS_UNIX
  if (!owner_) return;
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int number : {SIGTERM, SIGINT, SIGHUP})
    ::sigaction(number, &action, nullptr);
  ::close(signalPipe[0]);
  ::close(signalPipe[1]);
  signalPipe[0] = signalPipe[1] = -1;
#endif
}

void SignalCloser::OnSignal() {
#ifdef Q_OS_UNIX
  unsigned char byte = 0;
  while (::read(signalPipe[0], &byte, 1) == 1)
    lastSignal_ = byte;
  // Closing the window runs its close event, which may defer the close until a running device
  // exchange has ended.
  if (window_) window_->close();
#endif
}

}  // namespace dravion::ui
