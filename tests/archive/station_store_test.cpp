#include "archive/station_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

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

StationReading ReadingAt(int64_t time, const std::string& serial = "214-36587") {
  StationReading r;
  r.time = time;
  r.seconds = r.samples = 60;
  r.microSievertPerHour = 0.12;
  r.cpm = 20;
  r.serial = serial;
  return r;
}

// Two stations write to one archive, each with its own configuration (its own Safecast key and
// place): each delivers its own readings only, and the window counts each one's queue apart.
TEST(StationStore, TwoStationsOnOneArchiveDeliverTheirOwnReadingsOnly) {
  test::ScratchFolder folder("station-store");
  const std::string path = folder.Utf8() + "/archive.sqlite3";
  StationStore a, b;
  ASSERT_TRUE(a.Open(path, "/home/me/a.ini")) << a.Error();
  ASSERT_TRUE(b.Open(path, "/home/me/b.ini")) << b.Error();
  std::vector<int64_t> ofA, ofB;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(a.Add(ReadingAt(1796741887 + 60 * i), {"safecast", "mqtt"})) << a.Error();
    ofA.push_back(a.LastId());
    ASSERT_TRUE(b.Add(ReadingAt(1796741890 + 60 * i, "214-99999"), {"safecast"})) << b.Error();
    ofB.push_back(b.LastId());
  }
  const auto queuedA = a.Queued("safecast", 10);
  ASSERT_EQ(queuedA.size(), 3u);
  for (size_t i = 0; i < 3; ++i)
    EXPECT_EQ(queuedA[i].first, ofA[i]);
  const auto queuedB = b.Queued("safecast", 10);
  ASSERT_EQ(queuedB.size(), 3u);
  EXPECT_EQ(queuedB[0].second.serial, "214-99999");
  EXPECT_TRUE(b.Queued("mqtt", 10).empty());
  // A station cannot take another's entry off its queue, nor note it as delivered.
  EXPECT_TRUE(a.Dequeue("safecast", ofB[0], true));
  EXPECT_TRUE(a.SentTo(ofB[0]).empty());
  EXPECT_EQ(b.QueuedCount("safecast"), 3u);
  ASSERT_TRUE(a.Dequeue("safecast", ofA[0], true));
  EXPECT_EQ(a.QueuedCount("safecast"), 2u);
  EXPECT_EQ(a.QueuedCount("mqtt"), 3u);
  // The window, with no station of its own, asks by the station each status names.
  ASSERT_TRUE(a.Announce({1, 2, 1796741900, 60, 7, "214-36587", "reading", {}, {}}));
  StationStore window;
  ASSERT_TRUE(window.OpenToLook(path, 100));
  const std::vector<StationStatus> live = window.LiveStations(1796741905);
  ASSERT_EQ(live.size(), 1u);
  EXPECT_EQ(live[0].station, "/home/me/a.ini");
  EXPECT_EQ(window.QueuedCount(live[0].station, "safecast"), 2u);
  EXPECT_EQ(window.QueuedCount("/home/me/b.ini", "safecast"), 3u);
}

// A reading and its queue entries are one: a failure while queueing it leaves neither behind,
// and the queue's count stays true. A queue over its cap loses its oldest entries, not readings.
TEST(StationStore, AnAddRefusedHalfWayLeavesNothingAndAFullQueueDropsItsOldest) {
  test::ScratchFolder folder("station-store");
  const std::string path = folder.Utf8() + "/archive.sqlite3";
  StationStore store;
  ASSERT_TRUE(store.Open(path, "station")) << store.Error();
  ASSERT_TRUE(store.Add(ReadingAt(1796741887), {"safecast"}));
  // The second entry for the same output breaks the queue's key after the reading and the
  // first entry were written.
  EXPECT_FALSE(store.Add(ReadingAt(1796741947), {"mqtt", "mqtt"}));
  EXPECT_FALSE(store.Error().empty());
  EXPECT_EQ(store.LastId(), 0);
  EXPECT_EQ(store.Count(), 1u);
  EXPECT_EQ(store.QueuedCount("mqtt"), 0u);
  EXPECT_TRUE(store.Queued("mqtt", 10).empty());
  EXPECT_EQ(store.QueuedCount("safecast"), 1u);

  store.SetQueueMax(3);
  for (int i = 1; i <= 4; ++i) {
    ASSERT_TRUE(store.Add(ReadingAt(1796741887 + 60 * i), {"safecast"}));
    if (i < 3) {
      EXPECT_TRUE(store.Dropped().empty());
    }
  }
  ASSERT_EQ(store.Dropped().size(), 1u);
  EXPECT_EQ(store.Dropped()[0], std::make_pair(std::string("safecast"), uint64_t{1}));
  EXPECT_EQ(store.QueuedCount("safecast"), 3u);
  const auto queued = store.Queued("safecast", 10);
  ASSERT_EQ(queued.size(), 3u);
  EXPECT_EQ(queued[0].second.time, 1796741887 + 120);
  EXPECT_EQ(store.Count(), 5u);

  // Old readings go with their queue entries and deliveries, a piece at a time.
  ASSERT_TRUE(store.MarkSent("radmon", queued[0].first));
  uint64_t removed = 0;
  ASSERT_TRUE(store.Prune(1796741887 + 150, 2, removed)) << store.Error();
  EXPECT_EQ(removed, 2u);
  ASSERT_TRUE(store.Prune(1796741887 + 150, 2, removed)) << store.Error();
  EXPECT_EQ(removed, 1u);
  EXPECT_EQ(store.Count(), 2u);
  EXPECT_EQ(store.QueuedCount("safecast"), 2u);
  EXPECT_TRUE(store.SentTo(queued[0].first).empty());
  EXPECT_EQ(store.NewestTime(), 1796741887 + 240);
}

// An archive written before queues had a station opens, and its waiting readings are taken over
// by the first station that opens it, counted.
TEST(StationStore, AnEarlierArchivesQueueIsTakenOverByTheFirstStation) {
  test::ScratchFolder folder("station-store");
  const std::string path = folder.Utf8() + "/archive.sqlite3";
  {
    HistoryArchive archive;
    ASSERT_TRUE(archive.Open(path)) << archive.Error();
  }
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const char* earlier =
        "CREATE TABLE station_readings(id INTEGER PRIMARY KEY, serial TEXT NOT NULL,"
        " uid TEXT NOT NULL, time INTEGER NOT NULL, utc_offset INTEGER NOT NULL,"
        " seconds INTEGER NOT NULL, samples INTEGER NOT NULL, units INTEGER NOT NULL, rate REAL,"
        " usvh REAL, cpm REAL NOT NULL, dose TEXT NOT NULL, dose_unit TEXT NOT NULL);"
        "CREATE TABLE station_queue(output TEXT NOT NULL, reading INTEGER NOT NULL,"
        " PRIMARY KEY(output, reading)) WITHOUT ROWID;"
        "CREATE TABLE station_status(pid INTEGER NOT NULL, started INTEGER NOT NULL,"
        " heartbeat INTEGER NOT NULL, interval INTEGER NOT NULL, port INTEGER NOT NULL,"
        " serial TEXT NOT NULL, state TEXT NOT NULL, PRIMARY KEY(pid, started));"
        "INSERT INTO station_readings VALUES(1,'214-36587','',1796741887,0,60,60,0,0.1,0.1,15,"
        "'','');"
        "INSERT INTO station_readings VALUES(2,'214-36587','',1796741947,0,60,60,0,0.1,0.1,15,"
        "'','');"
        "INSERT INTO station_queue VALUES('safecast',1),('safecast',2),('mqtt',2);";
    ASSERT_EQ(sqlite3_exec(db, earlier, nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
  StationStore store;
  ASSERT_TRUE(store.Open(path, "/home/me/monitor.ini")) << store.Error();
  EXPECT_EQ(store.QueuedCount("safecast"), 2u);
  EXPECT_EQ(store.QueuedCount("mqtt"), 1u);
  ASSERT_EQ(store.Queued("safecast", 10).size(), 2u);
  ASSERT_TRUE(store.Announce({1, 2, 1796741900, 60, 7, "214-36587", "reading", {}, {}}));
  StationStore other;
  ASSERT_TRUE(other.Open(path, "/home/me/other.ini")) << other.Error();
  EXPECT_TRUE(other.Queued("safecast", 10).empty());
}

}  // namespace
}  // namespace dravion
