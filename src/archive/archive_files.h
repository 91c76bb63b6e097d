#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace dravion {

// The archive's file name inside the user's application-data folder.
inline constexpr const char* kArchiveFileName = "history-archive.sqlite3";

// Where the user's archive lives: $DRAVION_ARCHIVE when set (a file path), else the application-
// data folder of the user (Windows: %LOCALAPPDATA%\Dravion Manager\; elsewhere:
// $XDG_DATA_HOME/dravion-manager/, by default ~/.local/share/dravion-manager/). Empty when no such
// folder can be found. Never the working folder, which is emptied at every start.
std::string DefaultArchivePath();
// Creates the folders above `file` that are missing; false with the system's reason in `error`.
bool MakeFolderFor(const std::string& file, std::string& error);
// Renames `from` to `to` (both UTF-8 paths); false when the system refuses.
bool RenameFile(const std::string& from, const std::string& to);
// Whether a file that a connection of this program holds open can be renamed: on POSIX systems
// it can; on Windows it cannot (SQLite opens its files without delete sharing), and a rename
// fails while any program has the file open.
bool RenameWhileOpen();
bool FileIsThere(const std::string& path);
// The file's size in bytes, -1 when it cannot be read.
int64_t FileSizeOf(const std::string& path);
// A user's file open for reading, read piece by piece from where it stands.
class FileReader {
 public:
  FileReader() = default;
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;
  bool IsOpen() const { return handle_ != nullptr; }
  // Up to `size` bytes into `buffer`: `got` says how many (0 at the end of the file); false with
  // the system's reason in `error` when the read fails.
  bool Read(char* buffer, size_t size, size_t& got, std::string& error);
  // The next read starts `offset` bytes from the file's start.
  bool Seek(uint64_t offset, std::string& error);

 private:
  friend bool OpenFileToRead(const std::string& path, FileReader& reader, std::string& error);
  void* handle_ = nullptr;  // the system's handle of the open file
};
// Opens a user's file (a CSV or an archive to import) for reading: the one place that does.
// False with the system's reason in `error`.
bool OpenFileToRead(const std::string& path, FileReader& reader, std::string& error);
// The computer's local time as "2026-12-08-0315" for file names, and as "2026-12-08 03:15:07".
std::string LocalStampForFileName();
std::string LocalTimeText();

}  // namespace dravion
