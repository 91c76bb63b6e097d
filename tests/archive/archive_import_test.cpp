// Another archive file given to archive import, or the program's own one moved aside when
// damaged: what of it is taken, what is refused, and what is said.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "archive/archive_support.h"
#include "archive/history_archive.h"
#include "cli/cli.h"
#include "services/printable_text.h"
#include "support/scratch_folder.h"

namespace dravion {
namespace {

namespace fs = std::filesystem;
using archive_test::Measurement;

constexpr uint32_t kT0 = 600000000;
const char* const kSerial = "214-36587";
const char* const kUid = "01:23:45:67:89:AB:CD:EF:01:23:45:67";

// Runs SQL on a file through a plain connection, as another program (or a forger) would.
::testing::AssertionResult RawSql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open(path.c_str(), &db);
  char* message = nullptr;
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
  const std::string why = message ? message : sqlite3_errstr(rc);
  sqlite3_free(message);
  sqlite3_close(db);
  if (rc != SQLITE_OK) return ::testing::AssertionFailure() << why << " in " << sql;
  return ::testing::AssertionSuccess();
}

// An archive file with the program's tables and stamp and nothing in them; the test fills it.
::testing::AssertionResult EmptyArchiveFile(const std::string& path) {
  HistoryArchive archive;
  if (!archive.Open(path)) return ::testing::AssertionFailure() << archive.Error();
  return ::testing::AssertionSuccess();
}

// A devices row as another computer's archive holds it, with its figures filled in.
std::string DeviceRow(int id, const std::string& serial, const std::string& uid, int records,
                      uint32_t first, uint32_t last) {
  return "INSERT INTO devices(id, serial, uid, records, first_start, last_start, last_end,"
         " max_duration, coefficient, downloads) VALUES(" +
         std::to_string(id) + ", " + serial + ", " + uid + ", " + std::to_string(records) + ", " +
         std::to_string(first) + ", " + std::to_string(last) + ", " + std::to_string(last + 60) +
         ", 60, 127, 1);";
}

std::string RecordRow(int device, const std::string& start, const std::string& duration,
                      const std::string& pulses, const std::string& kind, const std::string& status,
                      int download) {
  return "INSERT INTO records(device, start, seq, duration, pulses, kind, status, download,"
         " conflict) VALUES(" +
         std::to_string(device) + ", " + start + ", 0, " + duration + ", " + pulses + ", " + kind +
         ", " + status + ", " + std::to_string(download) + ", 0);";
}

struct CliRun {
  int status = -1;
  std::string out, err;
};

// dravion-cli in-process on the archive file `archive`.
CliRun RunCli(const std::string& archive, const std::vector<std::string>& args) {
  const archive_test::ArchiveForCli named(archive);
  std::ostringstream out, err;
  std::istringstream in;
  cli::CliIo io{out, err, in, false, false};
  CliRun run;
  run.status = cli::RunCli(args, io);
  run.out = out.str();
  run.err = err.str();
  return run;
}

bool HasControlBytes(const std::string& text) {
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if ((b < 0x20 && c != '\n') || b == 0x7F) return true;
  }
  return false;
}

// The file's values are checked against what the device writes, field by field: a record
// outside it is refused and counted, never wrapped into range, and what was taken exports to a
// CSV file that imports again.
TEST(ArchiveFileImport, AValueTheDeviceNeverWritesIsRefusedAndCountedNeverWrapped) {
  test::ScratchFolder folder("import");
  const std::string file = (folder.path() / "other.sqlite3").string();
  ASSERT_TRUE(EmptyArchiveFile(file));
  std::string sql =
      "BEGIN;" + DeviceRow(1, "'214-36587'", std::string("'") + kUid + "'", 22, kT0, kT0 + 23 * 60);
  sql +=
      "INSERT INTO downloads(id, device, merged, device_time, coefficient) VALUES"
      " (1, 1, 'x', 0, 127), (2, 1, 'x', 0, 0), (3, 1, 'x', 0, 70000), (4, 1, 'x', 0, 10),"
      " (5, 1, 'x', 0, 999), (6, 1, 'x', 0, 'x127'), (7, 1, 'x', 0, 9);";
  int minute = 0;
  auto at = [&] { return std::to_string(kT0 + 60 * minute++); };
  // Taken: usable records of each edge of K, an unusable one and one of another kind.
  sql += RecordRow(1, at(), "60", "20", "254", "0", 1);
  sql += RecordRow(1, at(), "60", "4294967295", "254", "0", 1);
  sql += RecordRow(1, at(), "65535", "0", "252", "0", 1);
  sql += RecordRow(1, at(), "0", "3", "252", "0", 1);
  sql += RecordRow(1, at(), "60", "25", "254", "0", 4);
  sql += RecordRow(1, at(), "60", "26", "254", "0", 5);
  sql += RecordRow(1, at(), "60", "27", "254", "255", 1);
  sql += RecordRow(1, at(), "60", "28", "0", "0", 1);
  const uint64_t good = 8;
  // Refused: each field outside its range or not a whole number.
  sql += RecordRow(1, at(), "60", "20", "254", "0", 2);     // K 0
  sql += RecordRow(1, at(), "60", "20", "254", "0", 3);     // K 70000
  sql += RecordRow(1, at(), "60", "20", "254", "0", 6);     // K as text
  sql += RecordRow(1, at(), "60", "20", "254", "0", 7);     // K 9
  sql += RecordRow(1, at(), "-60", "20", "254", "0", 1);    // duration
  sql += RecordRow(1, at(), "65536", "20", "254", "0", 1);  // duration
  sql += RecordRow(1, at(), "'abc'", "20", "254", "0", 1);  // duration as text
  sql += RecordRow(1, at(), "60", "-1", "254", "0", 1);     // pulses
  sql += RecordRow(1, at(), "60", "4294967296", "254", "0", 1);
  sql += RecordRow(1, at(), "60", "1.5", "254", "0", 1);         // pulses not whole
  sql += RecordRow(1, at(), "60", "20", "254", "256", 1);        // status
  sql += RecordRow(1, at(), "60", "20", "256", "0", 1);          // kind
  sql += RecordRow(1, "4294967296", "60", "20", "254", "0", 1);  // start
  const uint64_t refused = 13;
  sql += RecordRow(1, at(), "60", "20", "254", "0", 42);  // its download is not in the file
  sql += "COMMIT;";
  ASSERT_TRUE(RawSql(file, sql));

  const std::string path = (folder.path() / "a.sqlite3").string();
  {
    HistoryArchive archive;
    ASSERT_TRUE(archive.Open(path)) << archive.Error();
    uint64_t total = 0, carried = 0;
    ASSERT_TRUE(archive.MergeArchiveFile(file, total, carried)) << archive.Error();
    EXPECT_EQ(total, good + refused + 1);
    EXPECT_EQ(carried, good);
    // Each reason said once, with its count.
    std::string notes;
    for (const std::string& note : archive.NotCarried)
      notes += note + "\n";
    EXPECT_NE(notes.find("coefficient"), std::string::npos) << notes;
    EXPECT_NE(notes.find("duration"), std::string::npos) << notes;
    EXPECT_NE(notes.find("pulses"), std::string::npos) << notes;
    EXPECT_NE(notes.find("status"), std::string::npos) << notes;
    EXPECT_NE(notes.find("kind"), std::string::npos) << notes;
    EXPECT_NE(notes.find("start"), std::string::npos) << notes;
    EXPECT_NE(notes.find("4 records"), std::string::npos) << notes;  // the four K
    // What is stored is what the file held, with the coefficient of its download.
    const std::vector<ArchiveDevice> devices = archive.Devices();
    ASSERT_EQ(devices.size(), 1u);
    ArchiveCounts counts;
    ASSERT_TRUE(archive.Count(devices[0].Id, counts));
    EXPECT_EQ(counts.Unusable, 1u);  // status 255
    std::vector<std::pair<HistoryRecord, uint32_t>> usable;
    ArchiveRange range;
    range.Device = devices[0].Id;
    ASSERT_EQ(archive.ForEachRecord(
                  range,
                  [&](const HistoryRecord& r, uint32_t k) {
                    usable.push_back({r, k});
                  },
                  true),
              SQLITE_DONE);
    ASSERT_EQ(usable.size(), good - 1);
    EXPECT_EQ(usable[1].first.Pulses, 4294967295u);
    EXPECT_EQ(usable[2].first.Duration, 65535u);
    EXPECT_EQ(usable[4].second, 10u);
    EXPECT_EQ(usable[5].second, 999u);
    EXPECT_EQ(usable[6].first.Kind, 0u);
    for (const auto& [r, k] : usable) {
      EXPECT_GE(k, 10u);
      EXPECT_LE(k, 999u);
    }
  }

  // Through dravion-cli: the count and each reason, status 1; the program's own export of what
  // it took is a CSV file that imports again, into an archive of its own.
  const CliRun imported =
      RunCli((folder.path() / "c.sqlite3").string(), {"archive", "import", file});
  EXPECT_EQ(imported.status, 1);
  EXPECT_NE(imported.out.find(std::to_string(good) + " of " + std::to_string(good + refused + 1)),
            std::string::npos)
      << imported.out;
  EXPECT_NE(imported.err.find("duration"), std::string::npos) << imported.err;
  const std::string csv = (folder.path() / "export.csv").string();
  const CliRun exported = RunCli(path, {"archive", "export", "--csv", csv});
  ASSERT_EQ(exported.status, 0) << exported.err;
  const CliRun again = RunCli((folder.path() / "d.sqlite3").string(),
                              {"archive", "import", "--device", kSerial, "--new-device", csv});
  EXPECT_EQ(again.status, 0) << again.err;
  // A new device named on the command line is held to a device's identifier too.
  const CliRun odd =
      RunCli((folder.path() / "e.sqlite3").string(),
             {"archive", "import", "--device", kSerial, "--new-device", "--uid", "00:11:22", csv});
  EXPECT_EQ(odd.status, 2) << odd.err;
}

// The file's downloads (the coefficient of each record) do not read: its records are not taken
// with another coefficient, and the import says so and fails.
TEST(ArchiveFileImport, RecordsWhoseCoefficientCannotBeReadAreNotCarriedOver) {
  test::ScratchFolder folder("import");
  const std::string file = (folder.path() / "other.sqlite3").string();
  ASSERT_TRUE(EmptyArchiveFile(file));
  std::string sql = "PRAGMA journal_mode=DELETE; BEGIN;" +
                    DeviceRow(1, "'214-36587'", std::string("'") + kUid + "'", 11, kT0, kT0 + 600);
  sql +=
      "INSERT INTO downloads(id, device, merged, device_time, coefficient) VALUES"
      " (1, 1, 'x', 0, 127), (2, 1, 'x', 0, 95);";
  for (int i = 0; i < 11; ++i)
    sql += RecordRow(1, std::to_string(kT0 + 60 * i), "60", "20", "254", "0", 1 + i % 2);
  sql += "COMMIT;";
  ASSERT_TRUE(RawSql(file, sql));
  // The downloads table's page overwritten.
  int64_t page = 0, size = 0;
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT rootpage, (SELECT page_size FROM pragma_page_size)"
                       " FROM sqlite_master WHERE name='downloads'",
                       -1, &st, nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    page = sqlite3_column_int64(st, 0);
    size = sqlite3_column_int64(st, 1);
    sqlite3_finalize(st);
    sqlite3_close(db);
  }
  ASSERT_FALSE(fs::exists(file + "-wal"));
  {
    std::fstream bytes(file, std::ios::in | std::ios::out | std::ios::binary);
    bytes.seekp(static_cast<std::streamoff>((page - 1) * size));
    bytes << std::string(static_cast<size_t>(size), '\xA5');
  }

  const std::string path = (folder.path() / "a.sqlite3").string();
  {
    HistoryArchive archive;
    ASSERT_TRUE(archive.Open(path)) << archive.Error();
    uint64_t total = 0, carried = 0;
    EXPECT_FALSE(archive.MergeArchiveFile(file, total, carried));
    EXPECT_EQ(total, 11u);
    EXPECT_EQ(carried, 0u);
    EXPECT_NE(archive.Error().find("coefficient"), std::string::npos) << archive.Error();
    ArchiveCounts counts;
    const std::vector<ArchiveDevice> devices = archive.Devices();
    for (const ArchiveDevice& d : devices) {
      ASSERT_TRUE(archive.Count(d.Id, counts));
      EXPECT_EQ(counts.Records + counts.Unusable, 0u);
    }
  }
  const CliRun run = RunCli(path, {"archive", "import", file});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.find("11 of 11"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("coefficient"), std::string::npos) << run.err;
}

// A file whose tables are not the archive's (a view in the place of a table, a column missing)
// is refused before anything is read from it; one larger than the limits is refused naming
// them; and a trigger put into the program's own archive never runs.
TEST(ArchiveFileImport, OnlyTheArchivesOwnTablesAreReadAndWithinTheStatedLimits) {
  test::ScratchFolder folder("import");
  const std::string path = (folder.path() / "a.sqlite3").string();
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open(path)) << archive.Error();
  uint64_t total = 0, carried = 0;

  // A tiny file whose records are a view making 30,000 of them.
  const std::string view = (folder.path() / "view.sqlite3").string();
  ASSERT_TRUE(EmptyArchiveFile(view));
  ASSERT_TRUE(RawSql(
      view,
      DeviceRow(1, "'214-36587'", std::string("'") + kUid + "'", 30000, kT0, kT0 + 60 * 29999) +
          "INSERT INTO downloads(id, device, merged, device_time, coefficient)"
          " VALUES(1, 1, 'x', 0, 127);"
          "DROP TABLE records;"
          "CREATE VIEW records(device, start, seq, duration, pulses, kind, status, download,"
          " conflict) AS WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n"
          " WHERE i < 29999) SELECT 1, 600000000 + 60 * i, 0, 60, 20, 254, 0, 1, 0 FROM n;"));
  EXPECT_FALSE(archive.MergeArchiveFile(view, total, carried));
  EXPECT_NE(archive.Error().find("records"), std::string::npos) << archive.Error();
  EXPECT_TRUE(archive.Devices().empty());

  // A column missing.
  const std::string narrow = (folder.path() / "narrow.sqlite3").string();
  ASSERT_TRUE(EmptyArchiveFile(narrow));
  ASSERT_TRUE(RawSql(narrow, "ALTER TABLE downloads DROP COLUMN coefficient;"));
  EXPECT_FALSE(archive.MergeArchiveFile(narrow, total, carried));
  EXPECT_NE(archive.Error().find("coefficient"), std::string::npos) << archive.Error();

  // The limits: a file of more records, or more bytes, than an import takes.
  const std::string small = (folder.path() / "small.sqlite3").string();
  {
    HistoryArchive other;
    ASSERT_TRUE(other.Open(small));
    std::vector<HistoryRecord> records;
    for (uint32_t i = 0; i < 11; ++i)
      records.push_back(Measurement(kT0 + 60 * i, 60, 20 + i));
    ArchiveBatch batch = archive_test::DownloadOf(records, 127);
    batch.Uid = kUid;
    ASSERT_TRUE(other.Merge(batch).Ok);
  }
  archive.ImportLimits.Records = 10;
  EXPECT_FALSE(archive.MergeArchiveFile(small, total, carried));
  EXPECT_NE(archive.Error().find("10 records"), std::string::npos) << archive.Error();
  EXPECT_TRUE(archive.Devices().empty());
  archive.ImportLimits = {};
  archive.ImportLimits.Bytes = 8192;
  EXPECT_FALSE(archive.MergeArchiveFile(small, total, carried));
  EXPECT_NE(archive.Error().find("8192 bytes"), std::string::npos) << archive.Error();
  EXPECT_TRUE(archive.Devices().empty());
  archive.ImportLimits = {};
  ASSERT_TRUE(archive.MergeArchiveFile(small, total, carried)) << archive.Error();
  EXPECT_EQ(carried, 11u);
  archive.Close();

  // A trigger put into the program's own archive does nothing when the program writes.
  ASSERT_TRUE(RawSql(path,
                     "CREATE TRIGGER spy AFTER INSERT ON records BEGIN"
                     " INSERT INTO devices(serial, uid) VALUES('999-99999', ''); END;"));
  ASSERT_TRUE(archive.Open(path)) << archive.Error();
  ArchiveBatch batch = archive_test::DownloadOf({Measurement(kT0 + 7200, 60, 5)}, 127);
  batch.Uid = kUid;
  ASSERT_TRUE(archive.Merge(batch).Ok) << archive.Error();
  for (const ArchiveDevice& d : archive.Devices())
    EXPECT_NE(d.Serial, "999-99999");
}

// Serial numbers and identifiers of the file are those of a device or the device is refused,
// with a reason that never carries the file's bytes raw; nothing of the file reaches the
// terminal unprintable.
TEST(ArchiveFileImport, AnIdentifierNotOfADevicesFormIsRefusedAndNeverPrintedRaw) {
  test::ScratchFolder folder("import");
  const std::string file = (folder.path() / "other.sqlite3").string();
  ASSERT_TRUE(EmptyArchiveFile(file));
  std::string sql = "BEGIN;";
  sql += DeviceRow(1, "'214-36587'", std::string("'") + kUid + "'", 2, kT0, kT0 + 60);
  sql += DeviceRow(2, "char(27) || ']0;owned' || char(7) || char(27) || '[2J'", "''", 2, kT0,
                   kT0 + 60);
  sql += DeviceRow(3, "'214-36588'", "'A' || zeroblob(5000000)", 2, kT0, kT0 + 60);
  sql += DeviceRow(4, "'214-36589'", "replace(hex(zeroblob(3000000)), '0', 'B')", 2, kT0, kT0 + 60);
  sql += DeviceRow(5, "'214-3658g'", "''", 2, kT0, kT0 + 60);
  sql +=
      "INSERT INTO downloads(id, device, merged, device_time, coefficient) VALUES"
      " (1, 1, 'x', 0, 127);";
  for (int device = 1; device <= 5; ++device) {
    sql += RecordRow(device, std::to_string(kT0), "60", "20", "254", "0", 1);
    sql += RecordRow(device, std::to_string(kT0 + 60), "60", "21", "254", "0", 1);
  }
  sql += "COMMIT;";
  ASSERT_TRUE(RawSql(file, sql));

  const std::string path = (folder.path() / "a.sqlite3").string();
  const CliRun run = RunCli(path, {"archive", "import", file});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("2 of 10"), std::string::npos) << run.out;
  EXPECT_FALSE(HasControlBytes(run.out + run.err)) << run.err;
  EXPECT_NE(run.err.find("serial number"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("identifier"), std::string::npos) << run.err;
  EXPECT_LT(run.err.size(), 4000u);
  const CliRun list = RunCli(path, {"archive", "list"});
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_FALSE(HasControlBytes(list.out + list.err)) << list.out;
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open(path));
  const std::vector<ArchiveDevice> devices = archive.Devices();
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].Serial, kSerial);
  EXPECT_EQ(devices[0].Uid, kUid);
}

// Untrusted text as it is printed: printable characters kept, everything else shown as escapes,
// long text cut.
TEST(PrintableText, ControlCharactersAndBrokenUtf8AreShownAsEscapesAndLongTextIsCut) {
  EXPECT_EQ(PrintableText("214-36587"), "214-36587");
  EXPECT_EQ(PrintableText("Дозиметр µSv/h"), "Дозиметр µSv/h");
  EXPECT_EQ(PrintableText("a\x1b[2Jb\x07\n"), "a\\x1B[2Jb\\x07\\x0A");
  EXPECT_EQ(PrintableText("\xC3\x28 \xFF"), "\\xC3( \\xFF");
  EXPECT_EQ(PrintableText("\xC2\x9B"
                          "1m"),
            "\\u{009B}1m");                                     // C1 control
  EXPECT_EQ(PrintableText("x\xE2\x80\xAEy"), "x\\u{202E}y");    // right-to-left override
  EXPECT_EQ(PrintableText("\xE0\x80\xAF"), "\\xE0\\x80\\xAF");  // overlong
  EXPECT_EQ(PrintableText(std::string(300, 'A'), 10), std::string(10, 'A') + "...");
  EXPECT_EQ(PrintableText("ЖЖЖЖ", 2), "ЖЖ...");
}

}  // namespace
}  // namespace dravion
