#pragma once

#include <QWidget>
#include <functional>

#include "device/measurement.h"
#include "monitor/station_watch.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace dravion {
class Dialogs;
class Language;
class MeasurementTrend;
class ReadingRecorder;
}  // namespace dravion

namespace dravion::ui {

class TrendChart;

// The measuring page (TabSheet_Measuring): the Read button, the auto-read box, the dose reset
// and the version message on the left; the dose rate with its level bar and the accumulated
// dose, each with its blinking indicator. It shows what the measurement controller tells it and
// hands the clicks to it. Below the values, the trend of the readings taken while the page is
// open, with its statistics and the buttons that save it; in the column, the recording toggle.
//
// While a monitoring station of this computer holds a device, a box between the values and the
// trend shows the station, its newest readings with where each went, and how its outputs fare.
class MeasurementPage : public QWidget, public MeasurementView, public StationPanelView {
  Q_OBJECT
 public:
  explicit MeasurementPage(const Language& language, QWidget* parent = nullptr);

  // The controller that the buttons and the box call; null leaves them without effect.
  void SetController(MeasurementController* controller) { controller_ = controller; }
  // The trend drawn and the recorder behind the toggle, and where their errors are shown; null
  // leaves the chart empty and the buttons without effect.
  void SetTrend(MeasurementTrend* trend, ReadingRecorder* recorder, Dialogs* dialogs);
  // The captions of the trend's controls and the statistics in the interface language.
  void ApplyLanguage();

  // Asks for the name of a file to write (title, filter, whether an existing file is to be
  // confirmed); empty for cancel. Tests replace it.
  std::function<QString(const QString& title, const QString& filter, bool confirmOverwrite)>
      AskSaveFileName;
  // The file name the save dialogs offer for `what` ("chart", "readings", "recording") with a
  // suffix; unset: just the word.
  std::function<std::string(const std::string& what, const std::string& suffix)> SuggestName;

  // The page's file operations, as the buttons run them (true when written / started).
  bool SaveChartImage(const QString& fileName);
  bool SaveReadings(const QString& fileName);
  // The record toggle, however its check mark changed (a click, the keyboard, a screen reader).
  void OnRecordToggled(bool checked);

  void ShowRate(const std::string& text) override;
  void ShowDose(const std::string& text) override;
  void ShowLevel(int position) override;
  void ShowRateIndicator(bool lit) override;
  void ShowDoseIndicator(bool lit) override;
  void ShowVersionMessage(const std::string& text) override;
  // The page is the current page of the page control it sits in.
  bool PageActive() override;
  bool AutoReadChecked() override;
  bool ReadEnabled() override;
  void SetReadEnabled(bool enabled) override;

  void ShowStations(const std::vector<std::string>& stations,
                    const std::vector<StationRowText>& readings,
                    const std::vector<std::string>& outputs) override;
  void HideStations() override;

 private:
  // The box of a monitoring station's readings, hidden until one runs.
  QGroupBox* BuildStationBox();
  void ShowIndicator(QLabel* indicator, bool lit);
  void RefreshTrend();
  void ShowRecording();
  QString LangText(const char* russian, const char* english) const;
  void FileError(const QString& fileName);

  const Language& language_;
  MeasurementController* controller_ = nullptr;
  MeasurementTrend* trend_ = nullptr;
  ReadingRecorder* recorder_ = nullptr;
  Dialogs* dialogs_ = nullptr;
  QPushButton* record_ = nullptr;
  QLabel* recordState_ = nullptr;  // says when the file is held by another program
  QGroupBox* trendBox_ = nullptr;
  TrendChart* chart_ = nullptr;
  QComboBox* span_ = nullptr;
  QLabel* stats_ = nullptr;
  QPushButton* savePng_ = nullptr;
  QPushButton* saveCsv_ = nullptr;
  QPushButton* read_ = nullptr;
  QCheckBox* autoRead_ = nullptr;
  QPushButton* reset_ = nullptr;
  QLabel* message_ = nullptr;
  QLabel* rate_ = nullptr;
  QLabel* dose_ = nullptr;
  QLabel* rateIndicator_ = nullptr;
  QLabel* doseIndicator_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QGroupBox* stationBox_ = nullptr;
  QLabel* stationLines_ = nullptr;
  QTableWidget* stationTable_ = nullptr;
  QLabel* stationOutputs_ = nullptr;
};

}  // namespace dravion::ui
