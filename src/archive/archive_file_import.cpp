// Merging another archive file (one moved aside as damaged, or another computer's given to an
// import) into the open archive. The file is input like any other: its tables must be the
// archive's, every value is checked against what the device writes, and it is read in bounded
// pieces up to stated limits.

#include "archive/archive_file_import.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "archive/archive_connection.h"
#include "archive/history_archive.h"
#include "archive/sqlite_statement.h"
#include "services/printable_text.h"

namespace dravion {

namespace {

constexpr uint32_t kHour = 3600;
// Records merged in one transaction, and read from the file at once.
constexpr size_t kImportPart = 50000;
constexpr int kReadPiece = 10000;
// The longest text or row the file's connection reads (an identifier is 35 characters): a
// longer one fails its read instead of filling memory.
constexpr int kLongestValue = 4096;
// Devices (runs of devices) a file may hold: a few per device a user owns.
constexpr size_t kMostDevices = 10000;
// K x 100 as a download reads it from the device (parameter 4, clamped).
constexpr int64_t kLeastCoefficient = 10;
constexpr int64_t kMostCoefficient = 999;

// The columns the import reads from each table, and the table's key (in order).
struct TableShape {
  const char* Name;
  std::vector<const char*> Columns;
  std::vector<const char*> Key;
};

const TableShape kShapes[] = {
    {"devices",
     {"id", "serial", "uid", "records", "coefficient", "first_start", "last_start"},
     {"id"}},
    {"downloads", {"id", "device", "coefficient"}, {"id"}},
    {"records",
     {"device", "start", "seq", "duration", "pulses", "kind", "status", "download"},
     {"device", "start", "seq"}},
};

bool HexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// Why the file's table is not the archive's, or empty.
std::string ShapeProblem(sqlite3* source, const TableShape& shape) {
  SqlStatement kind(source,
                    "SELECT type, sql FROM sqlite_master WHERE name=?1 COLLATE NOCASE"
                    " AND type IN ('table', 'view')");
  kind.Bind(1, std::string(shape.Name));
  int rc = kind.Step();
  const std::string name = std::string("\"") + shape.Name + "\"";
  if (rc == SQLITE_DONE) return "it has no table " + std::string(shape.Name);
  if (rc != SQLITE_ROW) return std::string("its tables cannot be read: ") + sqlite3_errstr(rc);
  if (kind.Text(0) != "table")
    return name + " is a " + PrintableText(kind.Text(0), 20) + ", not a table";
  if (kind.Text(1).rfind("CREATE TABLE", 0) != 0) return name + " is not a plain table";
  // Each column read is one of the table's own (not computed) and the key is the archive's.
  SqlStatement columns(source, "SELECT name, pk, hidden FROM pragma_table_xinfo(?1)");
  columns.Bind(1, std::string(shape.Name));
  std::map<std::string, std::pair<int64_t, int64_t>> found;
  while ((rc = columns.Step()) == SQLITE_ROW)
    found[columns.Text(0)] = {columns.Int(1), columns.Int(2)};
  if (rc != SQLITE_DONE) return std::string("its tables cannot be read: ") + sqlite3_errstr(rc);
  for (const char* column : shape.Columns) {
    const auto at = found.find(column);
    if (at == found.end()) return name + " has no column " + column;
    if (at->second.second != 0) return name + " has a computed column " + column;
  }
  for (size_t i = 0; i < shape.Key.size(); ++i) {
    const auto at = found.find(shape.Key[i]);
    if (at == found.end() || at->second.first != static_cast<int64_t>(i + 1))
      return name + " is not keyed as the archive's";
  }
  return {};
}

// A whole number within [least, most] as the file holds it (a text, a fraction or a number out
// of range is none).
std::optional<int64_t> WholeNumber(sqlite3_stmt* row, int column, int64_t least, int64_t most) {
  if (sqlite3_column_type(row, column) != SQLITE_INTEGER) return std::nullopt;
  const int64_t value = sqlite3_column_int64(row, column);
  if (value < least || value > most) return std::nullopt;
  return value;
}

// Finalizes on leaving.
struct Statement {
  sqlite3_stmt* Handle = nullptr;
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &Handle, nullptr) != SQLITE_OK) Handle = nullptr;
  }
  ~Statement() { sqlite3_finalize(Handle); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  int Step() { return Handle ? sqlite3_step(Handle) : SQLITE_MISUSE; }
  void Reset() {
    sqlite3_reset(Handle);
    sqlite3_clear_bindings(Handle);
  }
};

struct ValueCopy {
  sqlite3_value* Value = nullptr;
  ValueCopy() = default;
  ValueCopy(const ValueCopy&) = delete;
  ValueCopy& operator=(const ValueCopy&) = delete;
  ~ValueCopy() { sqlite3_value_free(Value); }
  void Take(sqlite3_value* from) {
    sqlite3_value_free(Value);
    Value = sqlite3_value_dup(from);
  }
};

// What one device row of the file is, as far as it reads.
struct SourceDevice {
  int64_t Id = 0;
  std::string Serial, Uid;
  std::string Refused;  // why the device's records are not taken, or empty
  uint64_t Records = 0;
  bool CountRead = false;  // Records counted in the records table (else the devices row's)
  std::optional<int64_t> First, Last;
  uint32_t Coefficient = 0;  // 0: the row's is not one of a download
};

// "3 records refused: why" / "1 record refused: why".
std::string CountedReason(uint64_t count, const std::string& what, const std::string& why) {
  return std::to_string(count) + (count == 1 ? " record " : " records ") + what + ": " + why;
}

// Why the file is not an archive of this program within the limits, or empty.
std::string FileProblem(sqlite3* source, const ArchiveImportLimits& limits) {
  // The program's stamp, or the tables of an archive written before the stamp was.
  {
    SqlStatement id(source, "PRAGMA application_id");
    SqlStatement own(source,
                     "SELECT count(*) FROM sqlite_master WHERE type='table' AND name IN"
                     " ('devices','downloads','records')");
    const int rc = id.Step();
    if (rc != SQLITE_ROW) return sqlite3_errstr(rc);
    const bool stamped = id.Int(0) == kArchiveApplicationId;
    if (!stamped && (id.Int(0) != 0 || own.Step() != SQLITE_ROW || own.Int(0) != 3))
      return "not a history archive of this program";
  }
  for (const TableShape& shape : kShapes) {
    const std::string problem = ShapeProblem(source, shape);
    if (!problem.empty()) return "not a history archive of this program: " + problem;
  }
  SqlStatement pages(source, "PRAGMA page_count");
  SqlStatement size(source, "PRAGMA page_size");
  if (pages.Step() != SQLITE_ROW || size.Step() != SQLITE_ROW)
    return std::string("its size cannot be read: ") + sqlite3_errmsg(source);
  const uint64_t bytes = static_cast<uint64_t>(pages.Int(0)) * static_cast<uint64_t>(size.Int(0));
  if (bytes > limits.Bytes) {
    return "the file holds " + std::to_string(bytes) + " bytes, more than the " +
           std::to_string(limits.Bytes) + " bytes an import reads";
  }
  return {};
}

// One identifier of a device row, read on its own: a read that fails says which one is not a
// device's (the first such reason goes to the device's Refused).
bool ReadIdentifier(sqlite3* source, SourceDevice& device, const char* sql, std::string& value,
                    const char* what) {
  Statement read(source, sql);
  sqlite3_bind_int64(read.Handle, 1, device.Id);
  const int got = read.Step();
  if (got == SQLITE_ROW && sqlite3_column_type(read.Handle, 0) == SQLITE_TEXT) {
    const auto* bytes = sqlite3_column_text(read.Handle, 0);
    value.assign(reinterpret_cast<const char*>(bytes),
                 static_cast<size_t>(sqlite3_column_bytes(read.Handle, 0)));
    return true;
  }
  if (device.Refused.empty()) {
    device.Refused = (got & 0xFF) == SQLITE_TOOBIG
                         ? std::string("its ") + what + " is longer than a device's"
                     : got == SQLITE_ROW
                         ? std::string("its ") + what + " is not a text"
                         : std::string("its ") + what + " cannot be read: " + sqlite3_errstr(got);
  }
  return false;
}

// A device row's identity, checked, and what it holds: counted in the records table, else the
// devices row's own figures.
void DescribeDevice(sqlite3* source, SourceDevice& device) {
  if (ReadIdentifier(source, device, "SELECT serial FROM devices WHERE id=?1", device.Serial,
                     "serial number") &&
      !IsDeviceSerial(device.Serial)) {
    device.Refused = "its serial number \"" + PrintableText(device.Serial, 40) +
                     "\" is not one as a device shows it (like 214-36587)";
  }
  if (ReadIdentifier(source, device, "SELECT uid FROM devices WHERE id=?1", device.Uid,
                     "identifier") &&
      !device.Uid.empty() && !IsDeviceUid(device.Uid) && device.Refused.empty()) {
    device.Refused = "its identifier \"" + PrintableText(device.Uid, 40) +
                     "\" is not a device's (12 bytes as 01:23:...:AB)";
  }
  Statement held(source, "SELECT count(*), min(start), max(start) FROM records WHERE device=?1");
  sqlite3_bind_int64(held.Handle, 1, device.Id);
  if (held.Step() == SQLITE_ROW) {
    device.Records = static_cast<uint64_t>(sqlite3_column_int64(held.Handle, 0));
    device.CountRead = true;
    if (device.Records > 0) {
      device.First = WholeNumber(held.Handle, 1, INT64_MIN, INT64_MAX);
      device.Last = WholeNumber(held.Handle, 2, INT64_MIN, INT64_MAX);
    }
  }
  Statement row(source,
                "SELECT records, first_start, last_start, coefficient FROM devices WHERE id=?1");
  sqlite3_bind_int64(row.Handle, 1, device.Id);
  if (row.Step() != SQLITE_ROW) return;
  if (!device.CountRead)
    device.Records = static_cast<uint64_t>(WholeNumber(row.Handle, 0, 0, INT64_MAX).value_or(0));
  if (!device.CountRead || !device.First) {
    device.First = WholeNumber(row.Handle, 1, 0, UINT32_MAX);
    device.Last = WholeNumber(row.Handle, 2, 0, UINT32_MAX);
  }
  device.Coefficient = static_cast<uint32_t>(
      WholeNumber(row.Handle, 3, kLeastCoefficient, kMostCoefficient).value_or(0));
}

// The file's devices, each described; empty `why` unless the list itself fails or is too long.
std::vector<SourceDevice> ReadDevices(sqlite3* source, std::string& why) {
  std::vector<SourceDevice> devices;
  SqlStatement ids(source, "SELECT id FROM devices ORDER BY id");
  int rc;
  while ((rc = ids.Step()) == SQLITE_ROW) {
    if (devices.size() == kMostDevices) {
      why = "the file holds more than " + std::to_string(kMostDevices) +
            " devices, the most an import takes";
      return devices;
    }
    devices.emplace_back().Id = ids.Int(0);
  }
  if (rc != SQLITE_DONE) {
    why = std::string("its devices cannot be read: ") + sqlite3_errstr(rc);
    return devices;
  }
  for (SourceDevice& device : devices)
    DescribeDevice(source, device);
  return devices;
}

// The coefficient of each download the records name, looked up once; K 0 for one that is not
// there, does not read or is out of range (then Why says which).
class DownloadCoefficients {
 public:
  struct Coefficient {
    uint32_t K = 0;
    std::string Why;
  };

  explicit DownloadCoefficients(sqlite3* source)
      : download_(source, "SELECT coefficient FROM downloads WHERE id=?1") {}

  const Coefficient& Of(sqlite3_stmt* record, int column) {
    static const Coefficient kNoRow{0, "the download it belongs to is not in the file"};
    if (sqlite3_column_type(record, column) != SQLITE_INTEGER) return kNoRow;
    const int64_t id = sqlite3_column_int64(record, column);
    const auto known = known_.find(id);
    if (known != known_.end()) return known->second;
    Coefficient& k = known_[id];
    sqlite3_bind_int64(download_.Handle, 1, id);
    const int got = download_.Step();
    if (got == SQLITE_ROW) {
      const auto value = WholeNumber(download_.Handle, 0, kLeastCoefficient, kMostCoefficient);
      if (value)
        k.K = static_cast<uint32_t>(*value);
      else
        k.Why = "the calibration coefficient (K x 100) is not one of 10 to 999";
    } else if (got == SQLITE_DONE) {
      k.Why = kNoRow.Why;
    } else {
      k.Why =
          std::string("the calibration coefficient cannot be read (") + sqlite3_errstr(got) + ")";
    }
    download_.Reset();
    return k;
  }

 private:
  Statement download_;
  std::unordered_map<int64_t, Coefficient> known_;
};

// Why a records row (start, seq, duration, pulses, kind, status, ...) is not one the device
// writes, or nullptr with `record` filled.
const char* RecordProblem(sqlite3_stmt* r, HistoryRecord& record) {
  const auto start = WholeNumber(r, 0, 0, UINT32_MAX);
  const auto duration = WholeNumber(r, 2, 0, UINT16_MAX);
  const auto pulses = WholeNumber(r, 3, 0, UINT32_MAX);
  const auto kind = WholeNumber(r, 4, 0, UINT8_MAX);
  const auto status = WholeNumber(r, 5, 0, UINT8_MAX);
  if (!start) return "the start is not one of 0 to 4294967295 device seconds";
  if (!duration) return "the duration is not one of 0 to 65535 seconds";
  if (!pulses) return "the pulses are not one of 0 to 4294967295";
  if (!kind) return "the kind is not one of 0 to 255";
  if (!status) return "the status is not one of 0 to 255";
  record.Start = static_cast<uint32_t>(*start);
  record.Duration = static_cast<uint16_t>(*duration);
  record.Pulses = static_cast<uint32_t>(*pulses);
  record.Kind = static_cast<uint8_t>(*kind);
  record.Status = static_cast<uint8_t>(*status);
  return nullptr;
}

// Where the reading of a device goes on after a piece that did not read (a damaged page): from
// the hour after the last record read (or after the hour the piece began in); false when it
// cannot go on in order or nothing of the device lies after it.
bool ResumeAfterFailure(const ValueCopy& lastStart, bool atStart, const SourceDevice& device,
                        int64_t& from) {
  int64_t failedAt = 0;
  if (lastStart.Value) {
    // Past a start that is no number the reading cannot go on in order.
    if (sqlite3_value_type(lastStart.Value) != SQLITE_INTEGER) return false;
    failedAt = sqlite3_value_int64(lastStart.Value);
    if (atStart) failedAt = std::max(failedAt, from);
  } else if (atStart && from != INT64_MIN) {
    failedAt = from;
  } else if (device.First) {
    failedAt = *device.First;
  } else {
    return false;
  }
  if (!device.Last || failedAt >= *device.Last) return false;
  from = failedAt - ((failedAt % kHour) + kHour) % kHour + kHour;
  return true;
}

}  // namespace

bool IsDeviceSerial(std::string_view serial) {
  if (serial.size() != 9 || serial[3] != '-') return false;
  for (size_t i = 0; i < serial.size(); ++i) {
    if (i != 3 && !HexDigit(serial[i])) return false;
  }
  return true;
}

bool IsDeviceUid(std::string_view uid) {
  if (uid.size() != 35) return false;
  for (size_t i = 0; i < uid.size(); ++i) {
    if (i % 3 == 2 ? uid[i] != ':' : !HexDigit(uid[i])) return false;
  }
  return true;
}

// One file merged into the archive, device by device, in pieces read in the order of the
// records' key and merged in bounded transactions.
class ArchiveFileMerge {
 public:
  ArchiveFileMerge(HistoryArchive& archive, sqlite3* source, const std::string& path)
      : archive_(archive),
        path_(path),
        coefficients_(source),
        first_(source,
               "SELECT start, seq, duration, pulses, kind, status, download FROM records"
               " WHERE device=?1 AND start>=?2 ORDER BY start, seq LIMIT ?3"),
        next_(source,
              "SELECT start, seq, duration, pulses, kind, status, download FROM records"
              " WHERE device=?1 AND (start, seq)>(?2, ?3) ORDER BY start, seq LIMIT ?4") {}

  bool Fail(const std::string& why) {
    archive_.error_ = path_ + ": " + why;
    return false;
  }

  // Merges what of the device can be read and is one the device writes.
  bool Device(const SourceDevice& device) {
    total_ += device.Records;
    if (!device.Refused.empty()) {
      if (device.Records > 0) {
        refusedDevices_.push_back(CountedReason(
            device.Records, "of the file's device " + std::to_string(device.Id) + " refused",
            device.Refused));
      }
      return true;
    }
    // A device's later runs stay runs of their own: each after the run the one before went to.
    int64_t& runBefore = runs_[{device.Serial, device.Uid}];
    ArchiveBatch batch;
    batch.Serial = device.Serial;
    batch.Uid = device.Uid;
    batch.File = path_;
    batch.Coefficient = device.Coefficient;
    batch.AfterRun = runBefore;
    // Pieces in the order of the key, each following the last record read; where a piece does
    // not read, the reading goes on from the next hour: the records of that page are lost,
    // those around it carried over.
    ValueCopy lastStart, lastSeq;
    bool atStart = true;  // the next piece starts at `from`, else after the last record read
    int64_t from = INT64_MIN;
    for (;;) {
      int rows = 0;
      const int rc = Piece(device, atStart, from, lastStart, lastSeq, batch, rows);
      if (rc == kOverLimit) return false;
      if (batch.Records.size() >= kImportPart && !MergeBatch(batch, runBefore)) return false;
      if (rc == SQLITE_DONE) {
        if (rows < kReadPiece) break;  // the device's last piece
        atStart = false;
        continue;
      }
      if (!ResumeAfterFailure(lastStart, atStart, device, from)) break;
      atStart = true;
    }
    return MergeBatch(batch, runBefore);
  }

  // What was not taken, said: each reason with its count, the devices refused, and what did not
  // read at all.
  void NoteNotCarried(const std::vector<SourceDevice>& devices) {
    std::vector<std::string>& notes = archive_.NotCarried;
    uint64_t refused = 0;
    for (const auto& [why, count] : refusals_) {
      notes.push_back(CountedReason(count, "refused", why));
      refused += count;
    }
    for (const SourceDevice& device : devices) {
      if (!device.Refused.empty()) refused += device.Records;
    }
    notes.insert(notes.end(), refusedDevices_.begin(), refusedDevices_.end());
    if (total_ > carried_ + refused) {
      const uint64_t unread = total_ - carried_ - refused;
      notes.push_back(std::to_string(unread) + (unread == 1 ? " record" : " records") +
                      " could not be read");
    }
  }

  uint64_t Total() const { return total_; }
  uint64_t Carried() const { return carried_; }

 private:
  static constexpr int kOverLimit = -1;

  // Reads one piece of the device's records into the batch; SQLITE_DONE, the read's error, or
  // kOverLimit (said) when the file holds more records than an import takes.
  int Piece(const SourceDevice& device, bool atStart, int64_t from, ValueCopy& lastStart,
            ValueCopy& lastSeq, ArchiveBatch& batch, int& rows) {
    Statement& piece = atStart ? first_ : next_;
    sqlite3_bind_int64(piece.Handle, 1, device.Id);
    if (atStart) {
      sqlite3_bind_int64(piece.Handle, 2, from);
      sqlite3_bind_int(piece.Handle, 3, kReadPiece);
    } else {
      sqlite3_bind_value(piece.Handle, 2, lastStart.Value);
      sqlite3_bind_value(piece.Handle, 3, lastSeq.Value);
      sqlite3_bind_int(piece.Handle, 4, kReadPiece);
    }
    int rc;
    while ((rc = piece.Step()) == SQLITE_ROW) {
      ++rows;
      sqlite3_stmt* r = piece.Handle;
      lastStart.Take(sqlite3_column_value(r, 0));
      lastSeq.Take(sqlite3_column_value(r, 1));
      if (++read_ > archive_.ImportLimits.Records) {
        piece.Reset();
        Fail("the file holds more than the " + std::to_string(archive_.ImportLimits.Records) +
             " records an import takes");
        return kOverLimit;
      }
      HistoryRecord record;
      if (const char* why = RecordProblem(r, record)) {
        ++refusals_[why];
        continue;
      }
      const DownloadCoefficients::Coefficient& k = coefficients_.Of(r, 6);
      if (k.K == 0) {
        ++refusals_[k.Why];
        continue;
      }
      batch.Records.push_back(record);
      batch.Coefficients.push_back(static_cast<uint16_t>(k.K));
    }
    piece.Reset();
    return rc;
  }

  bool MergeBatch(ArchiveBatch& batch, int64_t& runBefore) {
    if (batch.Records.empty()) return true;
    // Without a coefficient of its own the device takes its records' first.
    if (batch.Coefficient == 0) batch.Coefficient = batch.Coefficients.front();
    const MergeResult merged = archive_.Merge(batch);
    if (!merged.Ok) return Fail("not carried over: " + merged.Error);
    carried_ += merged.Added + merged.AlreadyThere;
    batch.Continues = true;
    batch.AfterRun = 0;
    runBefore = archive_.lastRun_;
    batch.Records.clear();
    batch.Coefficients.clear();
    return true;
  }

  HistoryArchive& archive_;
  const std::string& path_;
  DownloadCoefficients coefficients_;
  Statement first_, next_;
  std::map<std::string, uint64_t> refusals_;  // why records were not taken, and how many
  std::vector<std::string> refusedDevices_;
  std::map<std::pair<std::string, std::string>, int64_t> runs_;
  uint64_t total_ = 0, carried_ = 0;
  uint64_t read_ = 0;  // records read: the limit holds also where counts did not read
};

bool HistoryArchive::MergeArchiveFile(const std::string& path, uint64_t& total, uint64_t& carried) {
  total = carried = 0;
  NotCarried.clear();
  if (db_ == nullptr) {
    error_ = "the archive is not open";
    return false;
  }
  sqlite3* source = nullptr;
  const int rc = OpenArchiveConnection(path, SQLITE_OPEN_READONLY, &source);
  struct Closer {
    sqlite3* db;
    ~Closer() { sqlite3_close_v2(db); }
  } closer{source};
  auto failed = [&](const std::string& why) {
    error_ = path + ": " + why;
    return false;
  };
  if (rc != SQLITE_OK) return failed(sqlite3_errstr(rc));
  sqlite3_busy_timeout(source, kArchiveBusyWaitMs);
  sqlite3_limit(source, SQLITE_LIMIT_LENGTH, kLongestValue);
  if (const std::string problem = FileProblem(source, ImportLimits); !problem.empty())
    return failed(problem);

  std::string why;
  const std::vector<SourceDevice> devices = ReadDevices(source, why);
  if (!why.empty()) return failed(why);
  uint64_t counted = 0;
  for (const SourceDevice& device : devices)
    counted += device.Records;
  if (counted > ImportLimits.Records) {
    return failed("the file holds " + std::to_string(counted) + " records, more than the " +
                  std::to_string(ImportLimits.Records) + " records an import takes");
  }

  ArchiveFileMerge merge(*this, source, path);
  bool merged = true;
  for (size_t i = 0; merged && i < devices.size(); ++i)
    merged = merge.Device(devices[i]);
  total = merge.Total();
  carried = merge.Carried();
  if (!merged) return false;
  merge.NoteNotCarried(devices);
  if (carried == 0 && !NotCarried.empty()) {
    std::string notes;
    for (const std::string& note : NotCarried)
      notes += (notes.empty() ? "" : "; ") + note;
    return failed("no record could be carried over: " + notes);
  }
  return true;
}

}  // namespace dravion
