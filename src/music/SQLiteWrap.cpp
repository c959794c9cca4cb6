#include "music/SQLiteWrap.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "base/Text.h"

namespace corvane {

namespace fs = std::filesystem;

namespace {

// Companions that hold rows not yet in the database file itself.
constexpr const char* kCompanions[] = {"-wal", "-journal"};

bool NonEmptyFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
}

// A "file:" URI naming the path, with the characters that would end or escape the path part
// written as %HH.
std::string FileUri(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    // "file://" + an empty authority keeps a path that begins with "//" a path.
    std::string uri = path.starts_with('/') ? "file://" : "file:";
    for (unsigned char c : path) {
        if (c == '%' || c == '?' || c == '#' || c < 0x20 || c == 0x7f) {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 15];
        } else {
            uri += static_cast<char>(c);
        }
    }
    return uri + "?immutable=1";
}

}  // namespace

std::string SQLiteResultText(int code) {
    switch (code) {
        case 0:
            return "Successful result";
        case 1:
            return "SQL error or missing database";
        case 2:
            return "An internal logic error in SQLite";
        case 3:
            return "Access permission denied";
        case 4:
            return "Callback routine requested an abort";
        case 5:
            return "The database file is locked";
        case 6:
            return "A table in the database is locked";
        case 7:
            return "A malloc() failed";
        case 8:
            return "Attempt to write a readonly database";
        case 9:
            return "Operation terminated by sqlite3_interrupt()";
        case 10:
            return "Some kind of disk I/O error occurred";
        case 11:
            return "The database disk image is malformed";
        case 12:
            return "(Internal Only) Table or record not found";
        case 13:
            return "Insertion failed because database is full";
        case 14:
            return "Unable to open the database file";
        case 15:
            return "Database lock protocol error";
        case 16:
            return "Database is empty";
        case 17:
            return "The database schema changed";
        case 18:
            return "Too much data for one row of a table";
        case 19:
            return "Abort due to contraint violation";
        case 20:
            return "Data type mismatch";
        case 21:
            return "Library used incorrectly";
        case 22:
            return "Uses OS features not supported on host";
        case 23:
            return "Authorization denied";
        case 24:
            return "Auxiliary database format error";
        case 25:
            return "2nd parameter to sqlite3_bind out of range";
        case 26:
            return "File opened that is not a database file";
        case 100:
            return "sqlite3_step() has another row ready";
        case 101:
            return "sqlite3_step() has finished executing";
        default:
            return "Unknown SQLite Error Code \"" + std::to_string(code) + "\"";
    }
}

// ---------------------------------------------------------------------------------------------

TSQLiteDatabase::TSQLiteDatabase(const std::string& fileName, TSQLiteOpen mode) {
    if (mode == TSQLiteOpen::ReadWrite) {
        Open(fileName, fileName, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        return;
    }
    bool companions = false;
    for (const char* suffix : kCompanions)
        companions |= NonEmptyFile(fileName + suffix);
    if (companions) {
        std::string copy;
        if (CopyWithCompanions(fileName, copy)) {
            Open(fileName, copy, SQLITE_OPEN_READWRITE);
            return;
        }
        FCompanionsSkipped = true;
    }
    Open(fileName, FileUri(fileName), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
}

TSQLiteDatabase::~TSQLiteDatabase() {
    FDB.reset();
    if (!FCopyDir.empty()) {
        std::error_code error;
        fs::remove_all(FCopyDir, error);
    }
}

void TSQLiteDatabase::Open(const std::string& fileName, const std::string& target, int flags) {
    sqlite3* handle = nullptr;
    int rc = sqlite3_open_v2(target.c_str(), &handle, flags, nullptr);
    FDB.reset(handle);
    if (rc == SQLITE_OK)
        return;
    std::string text = handle ? sqlite3_errmsg(handle) : "Unknown error";
    FDB.reset();
    if (!FCopyDir.empty()) {
        std::error_code error;
        fs::remove_all(FCopyDir, error);
        FCopyDir.clear();
    }
    throw ESQLiteException("Failed to open database \"" + fileName + "\" : " + text);
}

// Copies the database and its companions, under the same base name, into a private folder.
bool TSQLiteDatabase::CopyWithCompanions(const std::string& fileName, std::string& copy) {
    std::error_code error;
    fs::path temp = fs::temp_directory_path(error);
    if (error)
        temp = "/tmp";
    std::string pattern = (temp / "~ipsql-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return false;
    FCopyDir = pattern;
    copy = FCopyDir + "/db";
    bool ok = fs::copy_file(fileName, copy, error) && !error;
    for (const char* suffix : kCompanions) {
        if (ok && NonEmptyFile(fileName + suffix)) {
            ok = fs::copy_file(fileName + suffix, copy + suffix, error) && !error;
        }
    }
    if (!ok) {
        fs::remove_all(FCopyDir, error);
        FCopyDir.clear();
    }
    return ok;
}

TSQLiteTable TSQLiteDatabase::GetTable(const std::string& sql, bool prepareOnly) {
    return TSQLiteTable(*this, sql, prepareOnly);
}

TSQLiteTable TSQLiteDatabase::SchemaRow(const std::string& name) {
    // Doubled quotes keep a name with a quote a name.
    std::string quoted;
    for (char c : AsciiLower(name)) {
        quoted += c;
        if (c == '\'')
            quoted += c;
    }
    return GetTable("select [sql] from sqlite_master where [type] = 'table' and lower(name) = '" +
                    quoted + "' ");
}

bool TSQLiteDatabase::TableExists(const std::string& name) {
    return !SchemaRow(name).Eof();
}

std::string TSQLiteDatabase::TableSql(const std::string& name) {
    return SchemaRow(name).FieldAsString(0);
}

// ---------------------------------------------------------------------------------------------

TSQLiteTable::TSQLiteTable(TSQLiteDatabase& db, const std::string& sql, bool prepareOnly)
    : FDB(db.DB()), FSQL(sql) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(FDB, sql.c_str(), -1, &stmt, nullptr);
    FStmt.reset(stmt);
    if (rc != SQLITE_OK)
        throw ESQLiteException(ErrorText("Error executing SQL"));
    if (!FStmt)
        throw ESQLiteException(ErrorText("Could not prepare SQL statement"));
    FColCount = static_cast<unsigned>(sqlite3_column_count(stmt));
    FCols.reserve(FColCount);
    for (unsigned i = 0; i < FColCount; ++i) {
        const char* name = sqlite3_column_name(stmt, static_cast<int>(i));
        FCols.push_back(AsciiUpper(name ? name : ""));
    }
    if (!prepareOnly)
        Next();
}

std::string TSQLiteTable::ErrorText(const std::string& message) const {
    int code = sqlite3_errcode(FDB);
    std::string text = code != 0 ? sqlite3_errmsg(FDB) : "Unknown error description";
    return message + ".\r\nError [" + std::to_string(code) + "]: " + SQLiteResultText(code) +
           ".\r\n\"" + FSQL + "\": " + text;
}

bool TSQLiteTable::Next() {
    // Stepping past the end would start the statement over.
    if (FDone || !FStmt) {
        FEof = true;
        return false;
    }
    int rc = sqlite3_step(FStmt.get());
    if (rc == SQLITE_ROW) {
        FEof = false;
        ++FRow;
        return true;
    }
    FEof = true;
    FDone = true;
    if (rc == SQLITE_DONE)
        return false;
    std::string text = ErrorText("Could not retrieve data");
    sqlite3_reset(FStmt.get());
    throw ESQLiteException(text);
}

int64_t TSQLiteTable::FieldAsInteger(unsigned index) const {
    return HasValue(index) ? sqlite3_column_int64(FStmt.get(), static_cast<int>(index)) : 0;
}

std::string TSQLiteTable::FieldAsString(unsigned index) const {
    if (!HasValue(index))
        return {};
    const unsigned char* text = sqlite3_column_text(FStmt.get(), static_cast<int>(index));
    return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

bool TSQLiteTable::FieldIsNull(unsigned index) const {
    return FieldType(index) == SQLITE_NULL;
}

int TSQLiteTable::FieldType(unsigned index) const {
    return HasValue(index) ? sqlite3_column_type(FStmt.get(), static_cast<int>(index))
                           : SQLITE_NULL;
}

std::span<const uint8_t> TSQLiteTable::FieldAsBytes(unsigned index) const {
    if (!HasValue(index))
        return {};
    // The pointer first, then the length, as the library asks.
    const void* data = sqlite3_column_blob(FStmt.get(), static_cast<int>(index));
    int size = sqlite3_column_bytes(FStmt.get(), static_cast<int>(index));
    if (!data || size <= 0)
        return {};
    return {static_cast<const uint8_t*>(data), static_cast<size_t>(size)};
}

TMemoryStream TSQLiteTable::FieldAsBlob(unsigned index) const {
    TMemoryStream stream;
    std::span<const uint8_t> bytes = FieldAsBytes(index);
    if (!bytes.empty())
        stream.Write(bytes.data(), bytes.size());
    stream.Rewind();
    return stream;
}

int TSQLiteTable::GetFieldIndex(const std::string& fieldName) const {
    if (FCols.empty())
        throw ESQLiteException("Field " + fieldName + " Not found. Empty dataset");
    std::string upper = AsciiUpper(fieldName);
    for (size_t i = 0; i < FCols.size(); ++i) {
        if (FCols[i] == upper)
            return static_cast<int>(i);
    }
    throw ESQLiteException("Field not found in dataset: " + fieldName);
}

}  // namespace corvane
