#include "dictionary/SqliteDatabase.h"

#include "dictionary/Errors.h"

#include <sqlite3.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <charconv>
#include <cmath>
#include <utility>

namespace fanjian {

namespace {

[[noreturn]] void Fail(sqlite3* db, const std::string& what)
{
    throw DictionaryError(what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

// How long a reader waits for another process's write transaction to end.
constexpr int kBusyTimeoutMs = 2000;

} // namespace

SqliteDatabase SqliteDatabase::OpenReadOnly(const std::string& path)
{
    // Only a regular file is handed to SQLite: opening a FIFO would wait for a writer, and a
    // device is no database.
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        throw DictionaryError("cannot open " + path + ": " + std::strerror(errno));
    if (!S_ISREG(status.st_mode))
        throw DictionaryError("cannot open " + path + ": not a regular file");

    sqlite3* db = nullptr;
    // Read-only never creates the file.
    const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        sqlite3_close(db);
        throw DictionaryError("cannot open " + path + ": " + message);
    }
    SqliteDatabase database(db);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    database.CheckComplete(path, status.st_size);
    return database;
}

void SqliteDatabase::CheckComplete(const std::string& path, std::int64_t fileSize) const
{
    // SQLite reads the missing end of a cut file as zeros, which can turn the last rows' values
    // into other numbers without any error. The header says how long the file must be.
    // (In WAL mode pages may still live in the log, so the file may be shorter.)
    if (PragmaText("journal_mode") == "wal")
        return;
    const std::int64_t expected = PragmaNumber("page_count") * PragmaNumber("page_size");
    if (fileSize < expected)
        throw DictionaryError("cannot open " + path + ": the file is cut short (" + std::to_string(fileSize) +
                              " of " + std::to_string(expected) + " bytes)");
}

std::string SqliteDatabase::PragmaText(std::string_view name) const
{
    Statement statement = Prepare("PRAGMA " + std::string(name));
    if (!statement.Step())
        Fail(db_, "cannot read the dictionary's " + std::string(name));
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement.statement_, 0));
    return text ? text : "";
}

std::int64_t SqliteDatabase::PragmaNumber(std::string_view name) const
{
    Statement statement = Prepare("PRAGMA " + std::string(name));
    std::int64_t value = 0;
    if (!statement.Step() || !statement.WholeNumber(0, value))
        Fail(db_, "cannot read the dictionary's " + std::string(name));
    return value;
}

SqliteDatabase::SqliteDatabase(SqliteDatabase&& other) noexcept : db_(std::exchange(other.db_, nullptr)) {}

SqliteDatabase& SqliteDatabase::operator=(SqliteDatabase&& other) noexcept
{
    if (this != &other) {
        sqlite3_close(db_);
        db_ = std::exchange(other.db_, nullptr);
    }
    return *this;
}

SqliteDatabase::~SqliteDatabase()
{
    sqlite3_close(db_);
}

SqliteDatabase::Statement SqliteDatabase::Prepare(std::string_view sql) const
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &statement, nullptr) != SQLITE_OK)
        Fail(db_, "cannot read the dictionary");
    return Statement(db_, statement);
}

SqliteDatabase::Statement::Statement(Statement&& other) noexcept
    : db_(other.db_), statement_(std::exchange(other.statement_, nullptr))
{
}

SqliteDatabase::Statement::~Statement()
{
    sqlite3_finalize(statement_);
}

bool SqliteDatabase::Statement::Step()
{
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    Fail(db_, "cannot read the dictionary");
}

bool SqliteDatabase::Statement::WholeNumber(int column, std::int64_t& value) const
{
    switch (sqlite3_column_type(statement_, column)) {
    case SQLITE_INTEGER:
        value = sqlite3_column_int64(statement_, column);
        return true;
    case SQLITE_FLOAT: {
        const double real = sqlite3_column_double(statement_, column);
        if (!std::isfinite(real) || real != std::floor(real) || std::fabs(real) > 1e15)
            return false;
        value = static_cast<std::int64_t>(real);
        return true;
    }
    case SQLITE_TEXT: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
        const int size = sqlite3_column_bytes(statement_, column);
        const auto [end, error] = std::from_chars(text, text + size, value);
        // Only the plain form "47610" is a number the table can be searched by.
        return error == std::errc() && end == text + size && std::to_string(value) == std::string_view(text, size);
    }
    default:
        return false;
    }
}

} // namespace fanjian
