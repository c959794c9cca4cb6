// A thin layer over SQLite for reading the device's databases (music and photos): one
// connection per TSQLiteDatabase, one prepared SELECT walked forward per TSQLiteTable, and every
// failure raised as an ESQLiteException. Used by one thread at a time.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/MemoryStream.h"

namespace corvane {

class ESQLiteException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// How a database file is opened.
enum class TSQLiteOpen {
    // The library's default read-write open, for our own local copies (a staged copy of a
    // mobile device's database). SQLite applies a "-wal" beside the file and may fold it in.
    ReadWrite,
    // For a file that must never change, above all a disk-mode device's own database: nothing
    // is written or created beside it. A database without companions is read in place as
    // immutable. A "-wal" or "-journal" beside it can only be applied by writing, so the
    // database and its companions are then read through a private copy in the temp folder,
    // removed on close; if that copy cannot be made, the database is read in place without
    // its companions (see CompanionsSkipped).
    ReadOnly,
};

// The text of a result code as error messages give it.
std::string SQLiteResultText(int code);

// Initialises the SQLite library for as long as it lives; the program's main holds one.
class TSQLiteLibrary {
public:
    TSQLiteLibrary() { sqlite3_initialize(); }
    ~TSQLiteLibrary() { sqlite3_shutdown(); }
    TSQLiteLibrary(const TSQLiteLibrary&) = delete;
    TSQLiteLibrary& operator=(const TSQLiteLibrary&) = delete;
};

class TSQLiteTable;

class TSQLiteDatabase {
public:
    // Raises "Failed to open database ..." when the file cannot be opened.
    explicit TSQLiteDatabase(const std::string& fileName,
                             TSQLiteOpen mode = TSQLiteOpen::ReadWrite);
    ~TSQLiteDatabase();
    TSQLiteDatabase(const TSQLiteDatabase&) = delete;
    TSQLiteDatabase& operator=(const TSQLiteDatabase&) = delete;

    sqlite3* DB() const { return FDB.get(); }
    // A statement on this connection; it must be destroyed before the database.
    TSQLiteTable GetTable(const std::string& sql, bool prepareOnly = false);
    // Whether a table of that name exists, ignoring letter case.
    bool TableExists(const std::string& name);
    // The SQL that created a table ("CREATE VIRTUAL TABLE ..." for a virtual one); empty when
    // there is no such table.
    std::string TableSql(const std::string& name);
    // ReadOnly mode: a "-wal" or "-journal" lay beside the file but could not be copied, so
    // the rows it held are not seen.
    bool CompanionsSkipped() const { return FCompanionsSkipped; }
    // ReadOnly mode: the database was read through a private copy.
    bool ReadThroughCopy() const { return !FCopyDir.empty(); }

private:
    struct TCloser {
        void operator()(sqlite3* db) const { sqlite3_close(db); }
    };
    void Open(const std::string& fileName, const std::string& target, int flags);
    TSQLiteTable SchemaRow(const std::string& name);
    bool CopyWithCompanions(const std::string& fileName, std::string& copy);

    std::string FCopyDir;  // removed after the connection is closed
    std::unique_ptr<sqlite3, TCloser> FDB;
    bool FCompanionsSkipped = false;
};

class TSQLiteTable {
public:
    // Prepares sql; unless prepareOnly, steps onto the first row, so Eof() tells at once
    // whether the result is empty.
    TSQLiteTable(TSQLiteDatabase& db, const std::string& sql, bool prepareOnly);
    TSQLiteTable(TSQLiteTable&&) = default;
    TSQLiteTable& operator=(TSQLiteTable&&) = default;

    // The next row: true when there is one. Once the rows have ended it stays false.
    bool Next();

    // Columns by 0-based index in SELECT order. Without a current row, or for an index past
    // the last column: 0, an empty text, NULL, no bytes.
    int64_t FieldAsInteger(unsigned index) const;
    // UTF-8 text up to its first NUL; empty for NULL.
    std::string FieldAsString(unsigned index) const;
    bool FieldIsNull(unsigned index) const;
    // SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, SQLITE_BLOB or SQLITE_NULL.
    int FieldType(unsigned index) const;
    // A copy of the column's bytes, positioned at 0; empty for NULL.
    TMemoryStream FieldAsBlob(unsigned index) const;
    // The column's bytes without a copy; valid until the next step.
    std::span<const uint8_t> FieldAsBytes(unsigned index) const;
    // Index of a column by name, ignoring letter case; raises when absent.
    int GetFieldIndex(const std::string& fieldName) const;

    bool Eof() const { return FEof; }
    unsigned Row() const { return FRow; }
    unsigned ColCount() const { return FColCount; }
    const std::vector<std::string>& Cols() const { return FCols; }  // upper-cased

private:
    struct TFinalizer {
        void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
    };
    bool HasValue(unsigned index) const { return !FEof && FStmt && index < FColCount; }
    // message + the result code, its text, the statement and SQLite's own text
    std::string ErrorText(const std::string& message) const;

    std::unique_ptr<sqlite3_stmt, TFinalizer> FStmt;
    sqlite3* FDB;
    std::string FSQL;
    std::vector<std::string> FCols;
    unsigned FColCount = 0;
    unsigned FRow = 0;
    bool FEof = false;
    bool FDone = false;
};

}  // namespace corvane
