#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "fixtures/SqliteBuilder.h"
#include "fixtures/TempDir.h"
#include "music/SQLiteWrap.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::ExecSql;
using testing::ReadFile;
using testing::TSqlWriter;
using testing::TTempDir;

// Every file below dir with its bytes: equal snapshots mean nothing was created, removed or
// changed.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file()) {
            files[fs::relative(entry.path(), dir).string()] = ReadFile(entry.path().string());
        }
    }
    return files;
}

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ESQLiteException& error) {
        return error.what();
    }
    return "(no exception)";
}

class SQLiteWrapTest : public ::testing::Test {
protected:
    void SetUp() override {
        ExecSql(FPath,
                "CREATE TABLE track (pid INTEGER PRIMARY KEY, Title TEXT, data BLOB, size REAL);"
                "INSERT INTO track VALUES (-5, 'one', x'0102', 1.5);"
                "INSERT INTO track VALUES (7, NULL, NULL, NULL);"
                "INSERT INTO track VALUES (9, 'a' || char(0) || 'b', x'', 2e30);");
    }

    TTempDir FDir;
    std::string FPath = FDir / "lib.db";
};

TEST_F(SQLiteWrapTest, WalksRowsForwardAndStopsAtTheEnd) {
    TSQLiteDatabase db(FPath);
    TSQLiteTable rows = db.GetTable("SELECT pid, Title AS name, data FROM track ORDER BY pid");
    ASSERT_FALSE(rows.Eof());
    EXPECT_EQ(rows.Row(), 1u);
    EXPECT_EQ(rows.ColCount(), 3u);
    EXPECT_EQ(rows.Cols(), (std::vector<std::string>{"PID", "NAME", "DATA"}));
    EXPECT_EQ(rows.FieldAsInteger(0), -5);
    EXPECT_EQ(rows.FieldAsString(1), "one");
    TMemoryStream blob = rows.FieldAsBlob(2);
    EXPECT_EQ(blob.Size(), 2u);
    EXPECT_EQ(blob.Position(), 0u);
    EXPECT_TRUE(rows.Next());
    EXPECT_TRUE(rows.FieldIsNull(1));
    EXPECT_EQ(rows.FieldAsString(1), "");
    EXPECT_EQ(rows.FieldAsBlob(2).Size(), 0u);  // an empty stream, never nothing
    EXPECT_TRUE(rows.Next());
    EXPECT_EQ(rows.FieldAsString(1), "a");  // text ends at its first NUL
    EXPECT_FALSE(rows.FieldIsNull(2));
    EXPECT_TRUE(rows.FieldAsBytes(2).empty());
    EXPECT_EQ(rows.Row(), 3u);
    EXPECT_FALSE(rows.Next());
    EXPECT_TRUE(rows.Eof());
    // Stepping on after the end must not start the statement over.
    EXPECT_FALSE(rows.Next());
    EXPECT_EQ(rows.Row(), 3u);
    // Without a current row, and past the last column: nothing.
    EXPECT_EQ(rows.FieldAsInteger(0), 0);
    EXPECT_EQ(rows.FieldAsString(1), "");
    EXPECT_TRUE(rows.FieldIsNull(0));
}

TEST_F(SQLiteWrapTest, ValuesConvertAsTheLibraryDoes) {
    TSQLiteDatabase db(FPath);
    TSQLiteTable rows = db.GetTable("SELECT size, pid FROM track WHERE pid = 9");
    EXPECT_EQ(rows.FieldAsInteger(0), INT64_MAX);  // a REAL too large saturates
    EXPECT_EQ(rows.FieldAsString(1), "9");
    EXPECT_EQ(rows.FieldAsInteger(5), 0);
    EXPECT_TRUE(rows.FieldIsNull(5));
    EXPECT_TRUE(rows.FieldAsBytes(5).empty());
}

TEST_F(SQLiteWrapTest, EmptyResultKnowsItsColumns) {
    TSQLiteDatabase db(FPath);
    TSQLiteTable rows = db.GetTable("SELECT pid, Title FROM track WHERE pid = 1000");
    EXPECT_TRUE(rows.Eof());
    EXPECT_EQ(rows.Row(), 0u);
    EXPECT_EQ(rows.GetFieldIndex("title"), 1);
    EXPECT_EQ(rows.GetFieldIndex("PiD"), 0);
    EXPECT_EQ(ErrorOf([&] { rows.GetFieldIndex("nope"); }), "Field not found in dataset: nope");
    TSQLiteTable none = db.GetTable("DELETE FROM track", true);
    EXPECT_EQ(none.ColCount(), 0u);
    EXPECT_EQ(ErrorOf([&] { none.GetFieldIndex("pid"); }), "Field pid Not found. Empty dataset");
}

TEST_F(SQLiteWrapTest, TableExistsIgnoresCaseAndQuotes) {
    TSQLiteDatabase db(FPath);
    EXPECT_TRUE(db.TableExists("TRACK"));
    EXPECT_FALSE(db.TableExists("tracks"));
    EXPECT_FALSE(db.TableExists("it's"));
    EXPECT_NE(db.TableSql("Track").find("CREATE TABLE track"), std::string::npos);
    EXPECT_EQ(db.TableSql("none"), "");
}

TEST_F(SQLiteWrapTest, StatementErrorsNameCodeStatementAndCause) {
    TSQLiteDatabase db(FPath);
    struct TCase {
        std::string Sql;
        std::string Message;
    };
    const TCase cases[] = {
        {"SELECT * FROM trak",
         "Error executing SQL.\r\nError [1]: SQL error or missing database.\r\n"
         "\"SELECT * FROM trak\": no such table: trak"},
        {"-- nothing here",
         "Could not prepare SQL statement.\r\nError [0]: Successful result.\r\n"
         "\"-- nothing here\": Unknown error description"},
        {"SELECT abs(-9223372036854775807 - 1)",
         "Could not retrieve data.\r\nError [1]: SQL error or missing database.\r\n"
         "\"SELECT abs(-9223372036854775807 - 1)\": integer overflow"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Sql);
        EXPECT_EQ(ErrorOf([&] { db.GetTable(c.Sql); }), c.Message);
    }
    // The connection stays usable after an error.
    EXPECT_FALSE(db.GetTable("SELECT pid FROM track").Eof());
}

TEST(SQLiteResultTextTest, CodesAndUnknownCodes) {
    EXPECT_EQ(SQLiteResultText(0), "Successful result");
    EXPECT_EQ(SQLiteResultText(14), "Unable to open the database file");
    EXPECT_EQ(SQLiteResultText(19), "Abort due to contraint violation");
    EXPECT_EQ(SQLiteResultText(26), "File opened that is not a database file");
    EXPECT_EQ(SQLiteResultText(101), "sqlite3_step() has finished executing");
    EXPECT_EQ(SQLiteResultText(27), "Unknown SQLite Error Code \"27\"");
    EXPECT_EQ(SQLiteResultText(-1), "Unknown SQLite Error Code \"-1\"");
}

TEST(SQLiteOpenTest, FailureNamesTheFile) {
    TTempDir dir;
    std::string missing = dir / "no/such/folder/x.db";
    for (TSQLiteOpen mode : {TSQLiteOpen::ReadWrite, TSQLiteOpen::ReadOnly}) {
        EXPECT_EQ(ErrorOf([&] { TSQLiteDatabase db(missing, mode); }),
                  "Failed to open database \"" + missing + "\" : unable to open database file");
    }
    // A file that is no database opens, and fails at the first statement.
    std::string junk = testing::WriteFile(dir / "junk.db", std::string(4096, 'x'));
    TSQLiteDatabase db(junk, TSQLiteOpen::ReadOnly);
    EXPECT_NE(ErrorOf([&] { db.GetTable("SELECT * FROM t"); }).find("Error [26]"),
              std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// Opening a device's own file: nothing beside it may be created or changed.

// A database in WAL mode whose second row sits only in its "-wal" file.
void WriteWalPair(const std::string& path) {
    TTempDir scratch;
    std::string work = scratch / "db";
    TSqlWriter db(work);
    db.Exec(
        "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
        "CREATE TABLE t (x); INSERT INTO t VALUES (1); PRAGMA wal_checkpoint(TRUNCATE);"
        "INSERT INTO t VALUES (2);");
    fs::copy_file(work, path);
    fs::copy_file(work + "-wal", path + "-wal");
}

int64_t CountRows(const std::string& path, TSQLiteOpen mode) {
    TSQLiteDatabase db(path, mode);
    return db.GetTable("SELECT count(*) FROM t").FieldAsInteger(0);
}

class ReadOnlyOpenTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Private copies go to a temp folder of this test, so that their removal can be seen.
        const char* old = std::getenv("TMPDIR");
        if (old)
            FOldTmp = old;
        setenv("TMPDIR", FTemp.Path().c_str(), 1);
        fs::create_directories(FDevice);
    }
    void TearDown() override {
        if (FOldTmp.empty()) {
            unsetenv("TMPDIR");
        } else {
            setenv("TMPDIR", FOldTmp.c_str(), 1);
        }
    }

    TTempDir FRoot;
    TTempDir FTemp;
    std::string FDevice = FRoot / "iPod_Control/iTunes";
    std::string FPath = FDevice + "/Library.itdb";
    std::string FOldTmp;
};

TEST_F(ReadOnlyOpenTest, PlainDatabaseIsReadInPlaceUntouched) {
    ExecSql(FPath, "CREATE TABLE t (x); INSERT INTO t VALUES (1), (2), (3);");
    auto before = Snapshot(FDevice);
    {
        TSQLiteDatabase db(FPath, TSQLiteOpen::ReadOnly);
        EXPECT_FALSE(db.ReadThroughCopy());
        EXPECT_EQ(db.GetTable("SELECT count(*) FROM t").FieldAsInteger(0), 3);
        EXPECT_EQ(Snapshot(FDevice), before);  // not even while open
    }
    EXPECT_EQ(Snapshot(FDevice), before);
}

TEST_F(ReadOnlyOpenTest, WalRowsAreReadThroughAPrivateCopy) {
    WriteWalPair(FPath);
    auto before = Snapshot(FDevice);
    {
        TSQLiteDatabase db(FPath, TSQLiteOpen::ReadOnly);
        EXPECT_TRUE(db.ReadThroughCopy());
        EXPECT_FALSE(db.CompanionsSkipped());
        EXPECT_EQ(db.GetTable("SELECT count(*) FROM t").FieldAsInteger(0), 2);
        EXPECT_FALSE(fs::is_empty(FTemp.Path()));
    }
    EXPECT_EQ(Snapshot(FDevice), before);     // no -shm made, the -wal not folded in
    EXPECT_TRUE(fs::is_empty(FTemp.Path()));  // the private copy is gone
}

TEST_F(ReadOnlyOpenTest, WalModeDatabaseWithoutItsWalIsReadInPlace) {
    WriteWalPair(FPath);
    fs::remove(FPath + "-wal");
    auto before = Snapshot(FDevice);
    EXPECT_EQ(CountRows(FPath, TSQLiteOpen::ReadOnly), 1);
    EXPECT_EQ(Snapshot(FDevice), before);
    EXPECT_TRUE(fs::is_empty(FTemp.Path()));
}

TEST_F(ReadOnlyOpenTest, HotJournalIsRolledBackInTheCopy) {
    // A writer that stopped mid-transaction: its pages already in the file, the old ones in
    // the "-journal". Only a rollback gives the last committed state.
    TTempDir scratch;
    std::string work = scratch / "db";
    TSqlWriter db(work);
    db.Exec(
        "PRAGMA cache_size=1; CREATE TABLE t (x); INSERT INTO t VALUES (1); BEGIN;"
        "WITH RECURSIVE n(i) AS (SELECT 2 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
        "INSERT INTO t SELECT randomblob(100) FROM n;");
    ASSERT_TRUE(fs::exists(work + "-journal"));
    fs::copy_file(work, FPath);
    fs::copy_file(work + "-journal", FPath + "-journal");
    auto before = Snapshot(FDevice);
    EXPECT_EQ(CountRows(FPath, TSQLiteOpen::ReadOnly), 1);
    EXPECT_EQ(Snapshot(FDevice), before);
}

TEST_F(ReadOnlyOpenTest, CopyFailureReadsInPlaceWithoutTheWal) {
    WriteWalPair(FPath);
    auto before = Snapshot(FDevice);
    // A child whose files may not grow past 1 KiB cannot make the copy.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{1024, 1024};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(77);
        int code = 1;
        try {
            TSQLiteDatabase db(FPath, TSQLiteOpen::ReadOnly);
            int64_t rows = db.GetTable("SELECT count(*) FROM t").FieldAsInteger(0);
            code = db.CompanionsSkipped() && !db.ReadThroughCopy() && rows == 1 ? 0 : 2;
        } catch (const ESQLiteException&) {
            code = 3;
        }
        _exit(code);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "cannot limit file sizes here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Snapshot(FDevice), before);
    EXPECT_TRUE(fs::is_empty(FTemp.Path()));  // the partial copy is removed
}

// The device mounted read-only: opening as another user, who may not write the folder, shows
// what a read-only mount does. Runs in a child process that gives up root.
TEST_F(ReadOnlyOpenTest, WalDatabaseOnAReadOnlyFolder) {
    WriteWalPair(FPath);
    fs::create_directories(FRoot / "ro");
    std::string folder = FRoot / "ro/iTunes";
    fs::create_directories(folder);
    std::string path = folder + "/MediaLibrary.sqlitedb";
    fs::copy_file(FPath, path);
    fs::copy_file(FPath + "-wal", path + "-wal");
    std::string shared = FRoot / "tmp";
    fs::create_directories(shared);
    chmod(shared.c_str(), 0777);
    for (const std::string& dir : {FRoot.Path(), FRoot / "ro"})
        chmod(dir.c_str(), 0755);
    chmod(path.c_str(), 0444);
    chmod((path + "-wal").c_str(), 0444);
    chmod(folder.c_str(), 0555);
    auto before = Snapshot(folder);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(77);
        if (access(folder.c_str(), W_OK) == 0)
            _exit(77);  // still allowed to write
        setenv("TMPDIR", shared.c_str(), 1);
        int code = 1;
        try {
            // Read-write as the library's default would fail here; the device's file is
            // never opened that way.
            code = CountRows(path, TSQLiteOpen::ReadOnly) == 2 ? 0 : 2;
        } catch (const ESQLiteException&) {
            code = 3;
        }
        _exit(code);
    }
    int status = 0;
    waitpid(child, &status, 0);
    chmod(folder.c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "cannot drop write permission here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Snapshot(folder), before);
}

TEST(ReadWriteOpenTest, StagedWalPairIsApplied) {
    TTempDir dir;
    std::string path = dir / "staged";
    WriteWalPair(path);
    EXPECT_EQ(CountRows(path, TSQLiteOpen::ReadWrite), 2);
}

}  // namespace
}  // namespace corvane
