#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace dravion {

// Steps of writing a file in place of another one.
enum class FileStep { Create, Write, Replace };

// Outcome of WriteFileReplacing: Ok, or the step that failed.
struct FileWriteResult {
  bool Ok = false;
  FileStep Failed = FileStep::Create;
};

// Called before each step (on Windows, before each attempt of the replacement, which is tried
// again while another program has a file open for a moment); returning false makes that step
// fail as the system would (tests use it to stand for a full disk or a file that cannot be
// replaced).
using FileStepHook = std::function<bool(FileStep)>;

// Whether a file (or anything else) exists under the UTF-8 path.
bool FileExists(const std::string& path);

// Writes `data` to a new file in the folder of `path`, forces it to the disk and renames it over
// `path`. On any failure the temporary file is removed and whatever was at `path` stays as it
// was: a reader sees the old file or the complete new one, never a part.
FileWriteResult WriteFileReplacing(const std::string& path, std::string_view data,
                                   const FileStepHook& hook = {});

// A file written aside and put in place of `path` only when complete: the streaming form of
// WriteFileReplacing, for files too large to build in memory. Open creates the temporary file
// next to `path`; Write appends to it; Commit forces it to the disk and renames it over `path`.
// Destroyed without a successful Commit, it removes the temporary file and `path` stays as it was.
class ReplacingFile {
 public:
  explicit ReplacingFile(std::string path, FileStepHook hook = {});
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  bool Open();
  bool Write(std::string_view data);
  FileWriteResult Commit();

 private:
  void Discard();

  std::string path_;
  FileStepHook hook_;
  std::string temp_;
  intptr_t handle_ = -1;  // a descriptor, or a Windows handle
  bool failed_ = false;   // a write failed: Commit fails at its write step
  FileStep step_ = FileStep::Create;
};

// The outcome of AppendToFile.
enum class AppendResult {
  Written,
  // Another program holds the file against writing (on Windows a spreadsheet that has it open):
  // nothing was written, and a later append may succeed.
  Locked,
  Failed,  // anything else: a full disk, a removed folder, no permission
};

// Appends `data` to the file at `path`, creating it when missing; a file that is empty (or new)
// gets `header` first. The file is opened and closed for each call, so a file whose folder was
// removed fails instead of writing into a file nobody can reach. On failure the file is cut back
// to its earlier length, so no partial line stays behind, and `error` says why (the system's
// text). `hook` is asked once everything is written: false fails the append as a full disk found
// only then would (a write error reported late, as network and quota-bound file systems do).
AppendResult AppendToFile(const std::string& path, std::string_view data, std::string_view header,
                          std::string& error, const FileStepHook& hook = {});

}  // namespace dravion
