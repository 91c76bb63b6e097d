#include "ui/pages/history_page.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "archive/archive_continuation.h"
#include "archive/archive_pane.h"
#include "archive/archive_session.h"
#include "device/device_context.h"
#include "protocol/identification.h"
#include "services/dialogs.h"
#include "services/language.h"
#include "services/wording.h"
#include "ui/history_chart.h"
#include "ui/pages/archive_period_panel.h"
#include "ui/pages/page_layout.h"
#include "ui/qt_services.h"

namespace dravion::ui {

namespace {

// "CSV Files(*.csv)|*.CSV": the description, then the pattern.
QString QtFilter(const std::string& filter) {
  const QString text = Q(filter);
  const int bar = text.indexOf(QLatin1Char('|'));
  if (bar < 0) return text;
  const QString description = text.left(bar);
  const QString pattern = text.mid(bar + 1);
  return description.contains(QLatin1Char('('))
             ? description
             : description + QStringLiteral(" (") + pattern + QLatin1Char(')');
}

}  // namespace

HistoryPage::HistoryPage(const Language& language, QWidget* parent)
    : QWidget(parent), language_(language) {
  setObjectName(QStringLiteral("TabSheet_DevHistory"));
  Build();
  RunSaveDialog = [](QFileDialog* dialog) { return dialog->exec() == QDialog::Accepted; };
}

HistoryPage::~HistoryPage() = default;

QString HistoryPage::LangText(const char* russian, const char* english) const {
  return QString::fromUtf8(language_.Current() == Lang::Russian ? russian : english);
}

void HistoryPage::Build() {
  auto* row = PageRow(this);
  auto* column = AddColumn(row, this);

  read_ = Named(new QPushButton(this), "BitBtn_HIS_Read");
  read_->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));
  read_->setProperty("tag", 0);
  // Only what the archive lacks of the connected device.
  readNew_ = Named(new QPushButton(this), "BitBtn_HIS_Read_New");
  readNew_->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
  readNew_->setEnabled(false);
  progress_ = Named(new QProgressBar(this), "ProgressBar_HIS_Read");
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setProperty("step", 5);
  progress_->setTextVisible(false);
  progress_->setFixedHeight(14);
  save_ = Named(new QPushButton(this), "BitBtn_HIS_Save_CSV");
  save_->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
  delete_ = Named(new QPushButton(this), "BitBtn_HIS_Delete");
  delete_->setIcon(style()->standardIcon(QStyle::SP_TrashIcon));
  message_ = Named(new QLabel(this), "Label_HIS_Version_Msg");
  message_->setStyleSheet(QStringLiteral("color: #d00000; font-weight: bold;"));
  message_->setAlignment(Qt::AlignCenter);
  message_->setWordWrap(true);
  column->addWidget(read_);
  column->addWidget(progress_);
  column->addSpacing(10);
  column->addWidget(save_);
  column->addSpacing(10);
  column->addWidget(delete_);
  column->addStretch(1);
  column->addWidget(message_);
  BuildArchiveControls(column);
  column->insertWidget(column->indexOf(read_) + 1, readNew_);

  auto* work = new QVBoxLayout;
  work->setContentsMargins(0, 4, 0, 0);
  work->setSpacing(4);
  chart_ = Named(new HistoryChart(this), "Chart1");
  // What the download brings (or how far it is), and the way to the newest records when the
  // view has none.
  auto* summaryRow = new QHBoxLayout;
  summaryRow->setSpacing(6);
  summary_ = Named(new QLabel(this), "Label_HIS_Summary");
  summary_->setWordWrap(true);
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  newest_ = Named(new QPushButton(this), "BitBtn_HIS_Newest");
  newest_->setIcon(style()->standardIcon(QStyle::SP_MediaSeekForward));
  newest_->setVisible(false);
  summaryRow->addWidget(summary_, 1);
  summaryRow->addWidget(newest_);
  chart_->setMinimumHeight(120);
  chart_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(chart_, &QWidget::customContextMenuRequested, this, &HistoryPage::ShowChartMenu);
  buttons_ = Named(new QWidget(this), "Panel_HIS_Buttons");
  auto* buttonRow = new QHBoxLayout(buttons_);
  buttonRow->setContentsMargins(0, 0, 0, 0);
  buttonRow->setSpacing(6);
  const std::pair<const char*, QStyle::StandardPixmap> navigation[] = {
      {"BitBtn_HIS_Back", QStyle::SP_ArrowLeft},
      {"BitBtn_HIS_Up", QStyle::SP_ArrowUp},
      {"BitBtn_HIS_Vpered", QStyle::SP_ArrowRight},
      {"BitBtn_HIS_To_Last", QStyle::SP_MediaSkipForward},
  };
  for (const auto& [name, icon] : navigation) {
    auto* button = Named(new QPushButton(buttons_), name);
    button->setIcon(style()->standardIcon(icon));
    button->setMinimumWidth(84);
    buttonRow->addWidget(button);
  }
  buttonRow->addSpacing(12);
  showMaximum_ = Named(new QCheckBox(buttons_), "CheckBox_HIS_Show_MaxVal");
  buttonRow->addWidget(showMaximum_);
  buttonRow->addStretch(1);
  buttons_->setEnabled(false);
  work->addWidget(chart_, 1);
  period_ = new ArchivePeriodPanel(language_, this);
  period_->setVisible(false);
  work->addWidget(period_);
  work->addLayout(summaryRow);
  work->addWidget(buttons_);
  row->addLayout(work, 1);

  chartMenu_ = Named(new QMenu(this), "PopupMenu_Chart");
  ApplyLanguage();
}

void HistoryPage::Attach(DeviceContext& context) {
  Detach();
  context_ = &context;
  controller_ = std::make_unique<HistoryController>(context, *this);
  pane_ = std::make_unique<ArchivePane>(context, *this, *controller_);
  controller_->DownloadCompleted = [this] { OnDownloadCompleted(); };
  HistoryController* c = controller_.get();
  ArchivePane* p = pane_.get();
  attachment_ = new QObject(this);
  QObject* const a = attachment_;
  auto button = [this](const char* name) { return findChild<QPushButton*>(QLatin1String(name)); };
  // Reading shows the download; the chart's buttons and Save CSV serve the source shown.
  connect(read_, &QPushButton::clicked, a, [this, c] {
    if (ArchiveShown()) OnSourceChosen(0);
    c->OnReadClicked();
  });
  connect(readNew_, &QPushButton::clicked, a, [this] { OnReadNewClicked(); });
  c->ArchivedEndOfDevice = [this, p]() -> std::optional<ArchivedEnd> {
    HistoryArchive* archive = p->Archive();
    if (archive == nullptr || context_ == nullptr) return std::nullopt;
    return archive->EndOf(ArchiveSerialOf(context_->device), ArchiveUidOf(context_->device));
  };
  connect(delete_, &QPushButton::clicked, a, [c] { c->OnDeleteClicked(); });
  auto either = [this](auto onDownload, auto onArchive) {
    return [this, onDownload, onArchive] { ArchiveShown() ? onArchive() : onDownload(); };
  };
  connect(save_, &QPushButton::clicked, a,
          either([c] { c->OnSaveCsvClicked(); }, [p] { p->OnSaveCsvClicked(); }));
  connect(button("BitBtn_HIS_Back"), &QPushButton::clicked, a,
          either([c] { c->OnBackClicked(); }, [p] { p->OnBackClicked(); }));
  connect(button("BitBtn_HIS_Vpered"), &QPushButton::clicked, a,
          either([c] { c->OnForwardClicked(); }, [p] { p->OnForwardClicked(); }));
  connect(button("BitBtn_HIS_Up"), &QPushButton::clicked, a,
          either([c] { c->OnUpClicked(); }, [p] { p->OnUpClicked(); }));
  connect(button("BitBtn_HIS_To_Last"), &QPushButton::clicked, a,
          either([c] { c->OnLatestClicked(); }, [p] { p->OnLatestClicked(); }));
  connect(newest_, &QPushButton::clicked, a,
          either([c] { c->OnNewestClicked(); }, [p] { p->OnLatestClicked(); }));
  connect(showMaximum_, &QCheckBox::toggled, a,
          either([c] { c->OnShowMaximumClicked(); }, [p] { p->OnShowMaximumClicked(); }));
  // OnBarDoubleClicked serves the bars of Maximum and Rate.
  connect(chart_, &HistoryChart::BarDoubleClicked, a, [this, c, p](int series, int bar) {
    if (series != 1 && series != 2) return;
    ArchiveShown() ? p->OnBarDoubleClicked(bar) : c->OnBarDoubleClicked(bar);
  });
  connect(source_, &QComboBox::activated, a, [this](int index) { OnSourceChosen(index); });
  period_->Attach(context, *p, *c, *chart_);
  chart_->SetSelectable(false);
}

void HistoryPage::Detach() {
  delete attachment_;  // its connections go with it
  attachment_ = nullptr;
  period_->Detach();
  period_->setVisible(false);
  pane_.reset();
  controller_.reset();
  context_ = nullptr;
}

void HistoryPage::ShowReadingCaption(bool reading) {
  read_->setProperty("tag", reading ? 1 : 0);
  read_->setText(reading ? LangText("Отмена", "Cancel") : LangText("Прочитать", "Read"));
  // While a download runs the button is a Cancel button, and looks like one.
  read_->setIcon(
      style()->standardIcon(reading ? QStyle::SP_DialogCancelButton : QStyle::SP_ArrowDown));
}

void HistoryPage::UpdateReadNew() {
  bool offered = false;
  if (controller_ && pane_ && context_ != nullptr && context_->device.Valid) {
    if (HistoryArchive* archive = pane_->Archive())
      offered = archive->EndOf(ArchiveSerialOf(context_->device), ArchiveUidOf(context_->device))
                    .has_value();
  }
  readNew_->setEnabled(offered);
}

void HistoryPage::OnReadNewClicked() {
  if (!controller_ || controller_->HistoryReading) return;
  if (ArchiveShown()) OnSourceChosen(0);
  readingNew_ = true;
  controller_->OnReadNewClicked();
  readingNew_ = false;
}

bool HistoryPage::StartBackgroundReadNew() {
  if (!controller_ || controller_->HistoryReading) return false;
  background_ = true;
  controller_->Quiet = true;
  qApp->installEventFilter(this);
  OnReadNewClicked();
  qApp->removeEventFilter(this);
  controller_->Quiet = false;
  background_ = false;
  if (BackgroundProgress) BackgroundProgress(0);
  // The device button pressed meanwhile does its work now that the line is free.
  if (QPointer<QAbstractButton> button = heldClick_) {
    heldClick_ = nullptr;
    QTimer::singleShot(0, button, [button] {
      if (button && button->isEnabled()) button->click();
    });
  }
  return true;
}

bool HistoryPage::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  const bool mouse = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
                     type == QEvent::MouseButtonDblClick;
  bool key = false;
  if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
    const int k = static_cast<QKeyEvent*>(event)->key();
    key = k == Qt::Key_Space || k == Qt::Key_Return || k == Qt::Key_Enter || k == Qt::Key_Select;
  }
  auto* button = qobject_cast<QAbstractButton*>(watched);
  if (!background_ || (!mouse && !key) || button == nullptr || !button->isEnabled())
    return QWidget::eventFilter(watched, event);
  // The buttons that talk to the device (not the history's own Read, which is Cancel now).
  static const char* const kDeviceButtons[] = {
      "BitBtn_Setup_",         "BitBtn_Measure_Read",    "BitBtn_Measure_Dose_Reset",
      "BitBtn_Measure_Record", "BitBtn_ReNewDeviceInfo", "BitBtn_HIS_Delete"};
  const QString name = button->objectName();
  const bool device = std::any_of(std::begin(kDeviceButtons), std::end(kDeviceButtons),
                                  [&](const char* prefix) { return name.startsWith(prefix); });
  if (!device) return QWidget::eventFilter(watched, event);
  if (type == QEvent::MouseButtonRelease || type == QEvent::KeyRelease) {
    heldClick_ = button;
    controller_->HistoryCancel = true;  // seen after the sector under way
  }
  return true;
}

void HistoryPage::ApplyLanguage() {
  ShowReadingCaption(read_->property("tag").toInt() != 0);
  readNew_->setText(LangText("Прочитать новые", "Read new"));
  readNew_->setToolTip(LangText("Прочитать только записи, которых ещё нет в архиве",
                                "Read only the records the archive does not hold yet"));
  newest_->setText(LangText("К последним записям", "To the newest records"));
  chart_->SetDecimalSeparator(QLatin1Char(DecimalSeparator(language_)));
  // The chart's title and notes are text of the language they were drawn in.
  if (ArchiveShown())
    pane_->DrawChart();
  else if (controller_)
    controller_->RefreshChart();
  ApplyArchiveLanguage();
  period_->ApplyLanguage();
  if (saveDialog_) {
    saveDialog_->setWindowTitle(LangText("Сохранение истории в формате CSV", "CSV History saving"));
    saveDialog_->setNameFilter(LangText("Файлы CSV (*.csv)", "CSV Files(*.csv)"));
  }
  chartMenu_->clear();
  QAction* png = chartMenu_->addAction(LangText("Сохранить график как PNG…", "Save chart as PNG…"));
  png->setObjectName(QStringLiteral("Action_Chart_Save_PNG"));
  // Queued: a screen reader's press on the menu item is answered before the dialog opens.
  connect(
      png, &QAction::triggered, this,
      [this] {
        const QString suggested = controller_ ? Q(controller_->SuggestedName("chart", "png"))
                                              : QStringLiteral("chart.png");
        const QString name = QFileDialog::getSaveFileName(
            this, LangText("Сохранить график как PNG…", "Save chart as PNG…"),
            InDocuments(suggested), QStringLiteral("PNG (*.png)"));
        if (!name.isEmpty())
          SaveChartImage(name.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)
                             ? name
                             : name + QStringLiteral(".png"));
      },
      Qt::QueuedConnection);
}

void HistoryPage::ShowChartMenu(const QPoint& at) {
  chartMenu_->popup(chart_->mapToGlobal(at));
}

bool HistoryPage::SaveChartImage(const QString& fileName) {
  // Written aside and renamed, like every file the manager replaces.
  QSaveFile file(fileName);
  const bool ok =
      file.open(QIODevice::WriteOnly) && chart_->grab().save(&file, "PNG") && file.commit();
  if (!ok && context_ != nullptr) {
    context_->dialogs.ShowMessage(
        BoxKind::Error, S(LangText("Ошибка записи файла\r\n", "File write Error\r\n") + fileName));
  }
  return ok;
}

void HistoryPage::ShowVersionMessage(const std::string& text) {
  message_->setText(NormaliseLineBreaks(Q(text)));
}

void HistoryPage::SetReading(bool reading) {
  ShowReadingCaption(reading);
  source_->setEnabled(!reading);
  // A background read keeps every page open.
  if (!background_ && ReadingChanged) ReadingChanged(reading);
  if (reading)
    readNew_->setEnabled(false);
  else
    UpdateReadNew();
}

void HistoryPage::SetDeleteEnabled(bool enabled) {
  delete_->setEnabled(enabled);
}

void HistoryPage::SetSaveEnabled(bool enabled) {
  save_->setEnabled(enabled);
}

void HistoryPage::SetNavigationEnabled(bool enabled) {
  buttons_->setEnabled(enabled);
}

void HistoryPage::SetProgressMaximum(int maximum) {
  progressMaximum_ = std::max(maximum, 1);
  progress_->setRange(0, progressMaximum_);
}

void HistoryPage::SetProgress(int position) {
  progress_->setValue(position);
  if (background_ && BackgroundProgress)
    BackgroundProgress(position <= 0 ? 0 : (position + 1) * 100 / progressMaximum_);
}

void HistoryPage::ShowChart(const HistoryChartData& data) {
  newest_->setVisible(data.NewestOffered);
  chart_->ShowData(data);
}

void HistoryPage::ShowSummary(const std::string& text) {
  summary_->setText(Q(text));
}

bool HistoryPage::ShowMaximumTicked() const {
  return showMaximum_->isChecked();
}

QFileDialog* HistoryPage::SaveDialog() {
  // Made when first needed: a file dialog watches its folder from the moment it exists, and the
  // page should not pay for changes there during a download.
  if (!saveDialog_) {
    saveDialog_ = Named(new QFileDialog(this), "SaveDialog1");
    saveDialog_->setAcceptMode(QFileDialog::AcceptSave);
    saveDialog_->setDefaultSuffix(QStringLiteral("csv"));
    saveDialog_->setWindowTitle(LangText("Сохранение истории в формате CSV", "CSV History saving"));
    saveDialog_->setNameFilter(LangText("Файлы CSV (*.csv)", "CSV Files(*.csv)"));
  }
  return saveDialog_;
}

bool HistoryPage::AskSaveFileName(const SaveFileRequest& request, std::string& name) {
  SaveDialog();
  saveDialog_->setWindowTitle(Q(request.Title));
  saveDialog_->setNameFilter(QtFilter(request.Filter));
  saveDialog_->setDefaultSuffix(Q(request.DefaultSuffix));
  // The name saved last, else a name with the serial number and date in the Documents folder.
  const QString start = !name.empty() ? Q(name) : InDocuments(Q(request.SuggestedName));
  saveDialog_->setDirectory(QFileInfo(start).absolutePath());
  saveDialog_->selectFile(QFileInfo(start).fileName());
  if (!RunSaveDialog || !RunSaveDialog(saveDialog_)) return false;
  const QStringList files = saveDialog_->selectedFiles();
  if (files.isEmpty() || files.front().isEmpty()) return false;
  name = S(files.front());
  return true;
}

void HistoryPage::BuildArchiveControls(QBoxLayout* column) {
  source_ = Named(new QComboBox(this), "ComboBox_HIS_Source");
  source_->addItem(QString());
  source_->addItem(QString());
  column->insertWidget(column->indexOf(read_) + 1, source_);
  archiveMessage_ = Named(new QLabel(this), "Label_HIS_Archive_Msg");
  archiveMessage_->setWordWrap(true);
  column->insertWidget(column->indexOf(progress_) + 1, archiveMessage_);
}

void HistoryPage::ApplyArchiveLanguage() {
  source_->setItemText(0, LangText("Прибор", "Device"));
  source_->setItemText(1, LangText("Архив", "Archive"));
  source_->setToolTip(LangText("Показать историю из прибора или из архива",
                               "Show the history read from the device or the archive"));
}

bool HistoryPage::ArchiveShown() const {
  return pane_ && pane_->Shown();
}

void HistoryPage::OnSourceChosen(int source) {
  source_->setCurrentIndex(source);
  if (!controller_ || !pane_) return;
  if (source == 1) {
    chart_->SetSelectable(true);
    period_->setVisible(true);
    if (pane_->Show()) {
      SetNavigationEnabled(true);
      return;
    }
    chart_->SetSelectable(false);
    period_->setVisible(false);
    source_->setCurrentIndex(0);  // nothing in the archive: the download stays
    return;
  }
  if (!pane_->Shown()) return;
  pane_->Hide();
  chart_->SetSelectable(false);
  chart_->SetSelection(-1, -1);
  period_->setVisible(false);
  SetNavigationEnabled(controller_->Ring.Loaded);
  if (controller_->Ring.Loaded)
    controller_->DrawHistoryChart();
  else
    ShowChart(controller_->LastChart);
}

void HistoryPage::OnDownloadCompleted() {
  const std::string merged = pane_->MergeDownload();
  if (!readingNew_) {
    archiveMessage_->setText(Q(merged));
    return;
  }
  // Read new: what it brought and how much of the ring it read (and why all of it, when it did),
  // then the archive with the new records.
  std::string text = WholeRingNote(controller_->LastContinuation, language_);
  if (!merged.empty())
    text += (text.empty() ? "" : "\n") + merged + "; " + RingReadText(*controller_, language_);
  archiveMessage_->setText(Q(text));
  if (!merged.empty()) OnSourceChosen(1);
}

}  // namespace dravion::ui
