#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_files.h"
#include "archive/history_archive.h"
#include "services/language.h"

namespace dravion {

class DeviceInfo;
class HistoryController;

// The serial number and identifier under which the archive keeps an identified device.
std::string ArchiveSerialOf(const DeviceInfo& device);
std::string ArchiveUidOf(const DeviceInfo& device);

// Merges; when the merge finds the file damaged, the file is moved aside, a new archive started
// with what could be read of it and the merge made there. `notice` then says so (else it is left
// empty). A damaged file that cannot be moved aside (in use) fails the merge with the reason.
MergeResult MergeIntoArchive(HistoryArchive& archive, const ArchiveBatch& batch,
                             const Language& language, std::string& notice);

// A history CSV file (as Save CSV writes it, newest first) read once through, in pieces, to
// check every line (nothing is taken from a file with one bad line) and to find where its parts
// of about `partRecords` records begin (a part never begins between records of the same start).
struct CsvImportPlan {
  bool Ok = false;
  std::string ReadError;  // the system's reason when the file could not be read
  size_t Line = 0;        // else a line that is not a record line (counted from 1), and why
  std::string Reason;
  uint64_t Records = 0;
  uint16_t NewestCoefficient = 100;  // K x 100 of the file's first (newest) record
  std::vector<uint64_t> PartStarts;  // the offset of each part's first line, the newest first
  std::vector<uint64_t> PartRecords;
};
inline constexpr size_t kImportPartRecords = 50000;
inline constexpr size_t kImportPieceBytes = size_t{1} << 20;
CsvImportPlan PlanCsvImport(FileReader& file, size_t partRecords = kImportPartRecords,
                            size_t pieceBytes = kImportPieceBytes);

struct CsvImportResult {
  bool Ok = false;
  std::string Error;   // why a part was not merged (the parts before it stay merged)
  MergeResult Merged;  // the merged parts' figures, summed (the newest run's start first met)
  size_t PartsMerged = 0;
};
// Merges the planned file into `batch`'s device (Serial, Uid, File) part by part, the oldest
// part first, each in its own transaction as a further part of the one before, read again in
// pieces: neither the file nor its records are ever held whole. A damaged archive met on the way
// is handled as MergeIntoArchive does (`notice`).
CsvImportResult ImportCsvParts(HistoryArchive& archive, FileReader& file, const CsvImportPlan& plan,
                               ArchiveBatch batch, const Language& language, std::string& notice,
                               size_t pieceBytes = kImportPieceBytes);

// A complete download as the archive takes it: the records read (the whole ring, or the new
// ones) oldest first, the device's time, coefficient and ring description, under the device's
// serial number and identifier.
ArchiveBatch BatchFromDownload(const HistoryController& download, const DeviceInfo& device);

// 1204 as "1,204" (English) or "1 204" (Russian, a no-break space).
std::string GroupedNumber(uint64_t value, const Language& language);
// "1,204 new records, 64,076 already in the archive" (and the conflicts, when any).
std::string MergeMessage(const MergeResult& result, const Language& language);
// The one warning line of a merge that found the device's clock set back (with the records kept
// as a new run); empty when it found none.
std::string ClockSetBackMessage(const MergeResult& result, const Language& language);
// What the user is told when a damaged file was moved aside (with the records carried over);
// empty when none was.
std::string MovedAsideMessage(const HistoryArchive& archive, const Language& language);
// Why the archive cannot be used.
std::string ArchiveErrorMessage(const HistoryArchive& archive, const Language& language);

}  // namespace dravion
