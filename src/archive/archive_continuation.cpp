#include <sqlite3.h>

#include <algorithm>

#include "archive/archive_continuation.h"
#include "archive/archive_session.h"
#include "archive/sqlite_statement.h"
#include "device/history_controller.h"

namespace dravion {

std::optional<ArchivedEnd> HistoryArchive::EndOf(const std::string& serial,
                                                 const std::string& uid) {
  readFailed_ = false;
  if (db_ == nullptr) return std::nullopt;
  const std::optional<ArchiveDevice> device = FindDevice(serial, uid);
  if (!device || readFailed_) return std::nullopt;
  ArchivedEnd end;
  {
    // Its newest record, and the two before it that confirm where the ring holds it.
    SqlStatement newest(db_,
                        "SELECT start, duration, pulses, kind, status FROM records WHERE device=?1"
                        " ORDER BY start DESC, seq DESC LIMIT 3");
    newest.Bind(1, device->Id);
    int rc;
    size_t row = 0;
    for (; (rc = newest.Step()) == SQLITE_ROW; ++row) {
      HistoryRecord r;
      r.Start = static_cast<uint32_t>(newest.Int(0));
      r.Duration = static_cast<uint16_t>(newest.Int(1));
      r.Pulses = static_cast<uint32_t>(newest.Int(2));
      r.Kind = static_cast<uint8_t>(newest.Int(3));
      r.Status = static_cast<uint8_t>(newest.Int(4));
      if (row == 0)
        end.Newest = r;
      else
        end.Before.push_back(r);
    }
    if (rc != SQLITE_DONE) NoteReadFailure(rc);
    if (rc != SQLITE_DONE || row == 0) return std::nullopt;
  }
  // The last download of the device, whichever run it went to (an imported file has no ring).
  SqlStatement ring(db_,
                    "SELECT sector_size, low_half, sector_count, record_count, first_record,"
                    " last_record, flag FROM downloads WHERE device IN (SELECT id FROM devices"
                    " WHERE serial=?1 AND uid=?2) AND coalesce(file, '')='' AND sector_size IS"
                    " NOT NULL ORDER BY id DESC LIMIT 1");
  ring.Bind(1, device->Serial).Bind(2, device->Uid);
  const int rc = ring.Step();
  if (rc == SQLITE_ROW) {
    HistoryRingDescription d;
    d.SectorSize = static_cast<uint32_t>(ring.Int(0));
    d.LowHalf = static_cast<uint32_t>(ring.Int(1));
    d.SectorCount = static_cast<uint32_t>(ring.Int(2));
    d.RecordCount = static_cast<uint32_t>(ring.Int(3));
    d.FirstRecord = static_cast<uint32_t>(ring.Int(4));
    d.LastRecord = static_cast<uint32_t>(ring.Int(5));
    d.Flag = static_cast<uint32_t>(ring.Int(6));
    end.LastRing = d;
  } else if (rc != SQLITE_DONE) {
    NoteReadFailure(rc);
    return std::nullopt;
  }
  return end;
}

std::string RingReadText(const HistoryController& download, const Language& language) {
  const uint32_t ring = download.Ring.Ring.RecordCount;
  const uint32_t read = ring - std::min(download.ReadFrom, ring);
  return language.Text("прочитано ", "") + GroupedNumber(read, language) +
         language.Text(" из ", " of ") + GroupedNumber(ring, language) +
         language.Text(" записей прибора", " records of the ring read");
}

std::string NewRecordsMessage(const MergeResult& merged, const HistoryController& download,
                              const Language& language) {
  return MergeMessage(merged, language) + "; " + RingReadText(download, language);
}

}  // namespace dravion
