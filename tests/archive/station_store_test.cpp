#include "archive/station_store.h"

#include <gtest/gtest.h>

#include "archive/archive_session.h"
#include "archive/history_archive.h"
#include "services/language.h"
#include "support/scratch_folder.h"

namespace dravion {
namespace {

// An archive started again (its file moved aside as damaged) keeps the station's readings too:
// each in order, with what its outputs have still to send and where each went; a station
// running meanwhile writes on into the new archive.
TEST(StationStore, ReadingsTheirQueueAndDeliveriesAreCarriedIntoAnArchiveStartedAgain) {
  test::ScratchFolder folder("station-store");
  const std::string path = folder.Utf8() + "/archive.sqlite3";
  std::vector<int64_t> ids;
  {
    StationStore station;
    ASSERT_TRUE(station.Open(path)) << station.Error();
    for (int i = 0; i < 5; ++i) {
      StationReading r;
      r.time = 1796741887 + 60 * i;
      r.seconds = r.samples = 60;
      r.microSievertPerHour = 0.1 + 0.01 * i;
      r.cpm = 15 + i;
      r.serial = "214-36587";
      ASSERT_TRUE(station.Add(r, {"safecast", "mqtt"}));
      ids.push_back(station.LastId());
    }
    ASSERT_TRUE(station.Dequeue("safecast", ids[0], true));
    ASSERT_TRUE(station.Dequeue("safecast", ids[1], true));
    ASSERT_TRUE(station.Dequeue("mqtt", ids[0], true));
    ASSERT_TRUE(station.MarkSent("radmon", ids[4]));
  }
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open(path)) << archive.Error();
  ASSERT_TRUE(archive.StartAgain()) << archive.Error();
  EXPECT_FALSE(archive.MovedAside.empty());
  EXPECT_EQ(archive.StationReadingsTotal, 5u);
  EXPECT_EQ(archive.StationReadingsCarried, 5u);
  Language language;
  language.Set(Lang::English);
  EXPECT_NE(MovedAsideMessage(archive, language)
                .find("Monitoring station readings carried over: 5 of 5."),
            std::string::npos)
      << MovedAsideMessage(archive, language);

  StationStore station;
  ASSERT_TRUE(station.Open(path)) << station.Error();
  std::vector<StationReading> kept = station.Latest("214-36587", 10);
  ASSERT_EQ(kept.size(), 5u);
  EXPECT_EQ(kept[0].time, 1796741887 + 240);
  EXPECT_DOUBLE_EQ(*kept[0].microSievertPerHour, 0.14);
  EXPECT_EQ(kept[4].cpm, 15);
  EXPECT_EQ(station.QueuedCount("safecast"), 3u);
  EXPECT_EQ(station.QueuedCount("mqtt"), 4u);
  const auto next = station.Queued("safecast", 1);
  ASSERT_EQ(next.size(), 1u);
  EXPECT_EQ(next[0].second.time, 1796741887 + 120);
  EXPECT_EQ(station.SentTo(kept[4].id), (std::vector<std::string>{"mqtt", "safecast"}));
  EXPECT_EQ(station.SentTo(kept[0].id), std::vector<std::string>{"radmon"});
  // The file moved aside had no station tables to carry the second time round.
  HistoryArchive again;
  ASSERT_TRUE(again.Open(folder.Utf8() + "/other.sqlite3"));
  uint64_t total = 9, carried = 9;
  std::string error;
  EXPECT_TRUE(
      CarryStationReadings(nullptr, folder.Utf8() + "/other.sqlite3", total, carried, error))
      << error;
  EXPECT_EQ(total, 0u);
}

}  // namespace
}  // namespace dravion
