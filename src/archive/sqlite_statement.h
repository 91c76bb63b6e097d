#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace dravion {

// A prepared statement: bind by position (from 1), Step through the rows, read columns by
// position (from 0). Reset makes it ready to run again with new values.
class SqlStatement {
 public:
  SqlStatement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) statement_ = nullptr;
  }
  ~SqlStatement() { sqlite3_finalize(statement_); }
  SqlStatement(const SqlStatement&) = delete;
  SqlStatement& operator=(const SqlStatement&) = delete;

  bool Ok() const { return statement_ != nullptr; }
  SqlStatement& Bind(int index, int64_t value) {
    sqlite3_bind_int64(statement_, index, value);
    return *this;
  }
  SqlStatement& BindReal(int index, double value) {
    sqlite3_bind_double(statement_, index, value);
    return *this;
  }
  SqlStatement& Bind(int index, const std::string& text) {
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return statement_ ? sqlite3_step(statement_) : SQLITE_MISUSE; }
  // Runs a statement that returns no rows; true when it completed.
  bool Run() {
    const int rc = Step();
    Reset();
    return rc == SQLITE_DONE;
  }
  void Reset() {
    if (!statement_) return;
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  int64_t Int(int column) const { return sqlite3_column_int64(statement_, column); }
  std::string Text(int column) const {
    const unsigned char* text = sqlite3_column_text(statement_, column);
    return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
  }
  SqlStatement& BindBlob(int index, const std::string& bytes) {
    sqlite3_bind_blob(statement_, index, bytes.data(), static_cast<int>(bytes.size()),
                      SQLITE_TRANSIENT);
    return *this;
  }
  std::string Blob(int column) const {
    const void* bytes = sqlite3_column_blob(statement_, column);
    return bytes ? std::string(static_cast<const char*>(bytes),
                               static_cast<size_t>(sqlite3_column_bytes(statement_, column)))
                 : std::string();
  }
  double Real(int column) const { return sqlite3_column_double(statement_, column); }
  bool IsNull(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

}  // namespace dravion
