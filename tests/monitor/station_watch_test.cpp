#include "monitor/station_watch.h"

#include <gtest/gtest.h>

#include "archive/archive_files.h"
#include "services/language.h"
#include "support/fakes.h"
#include "support/scratch_folder.h"

namespace dravion::test {
namespace {

class RecordedPanel : public StationPanelView {
 public:
  void ShowStations(const std::vector<std::string>& s, const std::vector<StationRowText>& r,
                    const std::vector<std::string>& o) override {
    stations = s;
    readings = r;
    outputs = o;
    ++shown;
  }
  void HideStations() override {
    stations.clear();
    readings.clear();
    outputs.clear();
    ++hidden;
  }
  std::vector<std::string> stations, outputs;
  std::vector<StationRowText> readings;
  int shown = 0, hidden = 0;
};

StationReading ReadingAt(int64_t time, double usvh) {
  StationReading r;
  r.time = time;
  r.utcOffsetMinutes = 180;
  r.seconds = r.samples = 60;
  r.rateUnit = "uSv/h";
  r.rate = r.microSievertPerHour = usvh;
  r.cpm = usvh * 150;
  r.dose = "0,0052";
  r.doseUnit = "mSv";
  r.serial = "214-36587";
  r.uid = "0123";
  return r;
}

// A station as the monitor keeps it in the archive, seen by the window: its port held and named,
// its newest readings with where each went, its outputs; gone when it withdraws or falls silent.
TEST(StationWatch, SeesARunningStationItsReadingsAndWhereTheyWentUntilItStopsOrFallsSilent) {
  ScratchFolder folder("station-watch");
  const std::string path = folder.Utf8() + "/archive.sqlite3";
  FakeClock clock;
  clock.now.utcOffsetMinutes = 120;  // the computer's clock, two hours east of UTC
  Language language;
  language.Set(Lang::English);
  RecordedPanel panel;
  StationWatch watch(clock, language, panel);
  watch.ArchivePath = path;
  // No archive yet: nothing seen, and none is made by looking.
  EXPECT_EQ(watch.HoldingText(0), "");
  EXPECT_FALSE(FileIsThere(path));

  StationStore station;
  ASSERT_TRUE(station.Open(path)) << station.Error();
  const int64_t now = UniversalSeconds(clock.Now());
  StationStatus status;
  status.pid = 4321;
  status.started = now - 600;
  status.heartbeat = now;
  status.interval = 60;
  status.port = 7;
  status.serial = "214-36587";
  status.state = "reading";
  status.outputs = {{"radmon", {1, 0, now - 60}, ""},
                    {"safecast", {1, 3, now - 60}, "not delivered (HTTP 503); trying again"}};
  ASSERT_TRUE(station.Announce(status)) << station.Error();
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(station.Add(ReadingAt(now - 120 + 60 * i, 0.1 + i * 0.01), {"safecast"}));
  }
  const int64_t first = station.LastId() - 2;
  ASSERT_TRUE(station.Dequeue("safecast", first, true));
  ASSERT_TRUE(station.MarkSent("radmon", first));
  ASSERT_TRUE(station.MarkSent("radmon", first + 2));
  // A refused reading leaves the queue without going anywhere.
  ASSERT_TRUE(station.Dequeue("safecast", first + 1, false));

  clock.Advance(5000);
  watch.Update();
  EXPECT_EQ(watch.HoldingText(7),
            "Device 214-36587 (COM 7) is held by the monitoring station, process 4321");
  EXPECT_EQ(watch.HoldingText(0), watch.HoldingText(7));
  EXPECT_EQ(watch.HoldingText(8), "");
  ASSERT_EQ(panel.stations.size(), 1u);
  EXPECT_EQ(panel.stations[0],
            "Monitoring station (dravion-cli monitor, process 4321) reads device 214-36587 on "
            "COM 7 every 60 s");
  ASSERT_EQ(panel.readings.size(), 3u);
  EXPECT_EQ(panel.readings[0].sentTo, "radmon");
  EXPECT_EQ(panel.readings[1].sentTo, "—");
  EXPECT_EQ(panel.readings[2].sentTo, "radmon, safecast");
  // The local time of the computer that took it (UTC+3 there), the rate in µSv/h; the outputs'
  // last success in this computer's local time.
  EXPECT_EQ(panel.readings[2].time, "2026-12-07 11:28:15");
  EXPECT_EQ(panel.readings[2].rate, "0.100 µSv/h");
  EXPECT_EQ(panel.readings[2].cpm, "15.0");
  EXPECT_EQ(panel.readings[2].dose, "0,0052 mSv");
  ASSERT_EQ(panel.outputs.size(), 2u);
  EXPECT_EQ(panel.outputs[0], "radmon: 1 delivered, last at 2026-12-07 10:29:15");
  EXPECT_EQ(panel.outputs[1],
            "safecast: 1 delivered, 3 failed tries, 1 waiting, last at 2026-12-07 10:29:15 "
            "(not delivered (HTTP 503); trying again)");

  // Asked every heartbeat, the archive is looked at every two seconds, and the view redrawn
  // only when something changed.
  const int drawn = panel.shown;
  for (int i = 0; i < 30; ++i) {
    clock.Advance(100);
    watch.Update();
  }
  EXPECT_EQ(panel.shown, drawn);
  language.Set(Lang::Russian);
  watch.Update(true);
  EXPECT_EQ(panel.shown, drawn + 1);
  EXPECT_EQ(panel.readings[2].rate, "0,100 мкЗв/ч");

  // Silent for longer than a station ever is (killed): gone, and its port free again.
  clock.now = ShiftedBy(clock.now, kStationSilenceSeconds + 1);
  clock.Advance(2000);
  watch.Update();
  EXPECT_EQ(panel.hidden, 1);
  EXPECT_EQ(watch.HoldingText(7), "");

  // Speaking again, then withdrawn at its stop: gone at the next look.
  status.heartbeat = UniversalSeconds(clock.now);
  status.state = "away";
  status.port = 0;
  ASSERT_TRUE(station.Announce(status));
  clock.Advance(2000);
  watch.Update();
  EXPECT_EQ(panel.stations[0],
            "Станция наблюдения (dravion-cli monitor, процесс 4321) ждёт прибор 214-36587");
  EXPECT_EQ(watch.HoldingText(0), "") << "no port held while it waits";
  ASSERT_TRUE(station.Withdraw(status.pid, status.started));
  clock.Advance(2000);
  watch.Update();
  EXPECT_EQ(panel.hidden, 2);
  EXPECT_TRUE(watch.Stations().empty());
}

}  // namespace
}  // namespace dravion::test
