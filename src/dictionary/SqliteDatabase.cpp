#include "dictionary/SqliteDatabase.h"

#include "dictionary/Errors.h"
#include "system/Descriptor.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <thread>

namespace fanjian {

namespace {

using Clock = std::chrono::steady_clock;

// The byte ranges SQLite locks in a database file (os_unix.c): a writer that commits holds a write
// lock on the shared range; a writer about to, one on the pending byte.
constexpr off_t kPendingByte = 0x40000000;
constexpr off_t kSharedFirst = kPendingByte + 2;
constexpr off_t kSharedSize = 510;

// The longest text or blob a row may hold: the table's values are numbers.
constexpr int kMaxValueBytes = 64 * 1024;

std::string SystemReason(int error)
{
    return std::strerror(error);
}

// A read lock on a byte range, as SQLite's readers take one; released when the descriptor closes.
bool TryReadLock(int fd, off_t start, off_t length)
{
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = start;
    lock.l_len = length;
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// Waits, until `deadline`, for no writer to be committing to the file. True when none is, or when
// the file system keeps no locks at all.
bool WaitForWriters(int fd, Clock::time_point deadline)
{
    for (;;) {
        if (TryReadLock(fd, kPendingByte, 1) && TryReadLock(fd, kSharedFirst, kSharedSize))
            return true;
        if (errno != EAGAIN && errno != EACCES && errno != EINTR)
            return true; // no locks here (ENOLCK and the like): nothing to wait for
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Reads the whole file into memory SQLite can take over. Throws DictionaryError.
unsigned char* ReadWhole(int fd, const std::string& path, std::int64_t size)
{
    auto* bytes = static_cast<unsigned char*>(sqlite3_malloc64(static_cast<sqlite3_uint64>(size)));
    if (bytes == nullptr)
        throw DictionaryError(path, "out of memory");
    std::int64_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, bytes + done, static_cast<std::size_t>(size - done), done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            const int error = errno;
            sqlite3_free(bytes);
            throw DictionaryError(path, got < 0 ? "cannot read: " + SystemReason(error) : "it shrank while being read");
        }
        done += got;
    }
    return bytes;
}

} // namespace

SqliteDatabase::SqliteDatabase(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}

SqliteDatabase SqliteDatabase::OpenSnapshot(const std::string& path)
{
    const Clock::time_point deadline = Clock::now() + kOpenDeadline;
    if (path.find('\0') != std::string::npos)
        throw DictionaryError(path, "a path cannot hold a NUL byte");
    // O_NONBLOCK: should a FIFO stand there, opening it does not wait for a writer. The file is
    // opened once; everything after is checked on what this descriptor holds.
    Descriptor file;
    for (;;) {
        file = Descriptor::TryOpen(path, O_RDONLY | O_NONBLOCK);
        // Another program holds a lease on the file: the failed opening has asked it to let go.
        if (file.IsOpen() || errno != EWOULDBLOCK || Clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!file.IsOpen())
        throw DictionaryError(path, "cannot open: " + SystemReason(errno));
    const int fd = file.Get();
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        throw DictionaryError(path, "cannot open: " + SystemReason(errno));
    if (!S_ISREG(status.st_mode))
        throw DictionaryError(path, "not a regular file");
    if (status.st_size < 100)
        throw DictionaryError(path, "too short to be a database (" + std::to_string(status.st_size) + " bytes)");
    if (status.st_size > kMaxSnapshotBytes)
        throw DictionaryError(path, "too large to be the dictionary (" + std::to_string(status.st_size) + " bytes)");
    if (!WaitForWriters(fd, deadline))
        throw DictionaryError(path, "another program kept writing to it");

    const std::int64_t size = status.st_size;
    unsigned char* bytes = ReadWhole(fd, path, size);
    // A database in WAL mode keeps committed pages in a log beside it until they are copied back.
    // The snapshot reads the main file alone, as a database without a log: what was copied back.
    static constexpr char kMagic[] = "SQLite format 3";
    if (std::memcmp(bytes, kMagic, sizeof kMagic) == 0 && bytes[18] == 2 && bytes[19] == 2)
        bytes[18] = bytes[19] = 1;

    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_free(bytes);
        const std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        sqlite3_close(db);
        throw DictionaryError(path, "cannot open: " + message);
    }
    SqliteDatabase database(db, path);
    database.fileId_ = {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
    // SQLite owns the bytes from here on, also when this fails.
    if (sqlite3_deserialize(db, "main", bytes, size, size,
                            SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_READONLY) != SQLITE_OK)
        database.Fail("cannot open");
    // Whatever the file holds, reading it ends by the deadline, and no value or sort grows
    // without bound or spills into a temporary file.
    database.deadline_ = deadline;
    sqlite3_progress_handler(db, 1000, &SqliteDatabase::CheckDeadline, &database);
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, kMaxValueBytes);
    database.Execute("PRAGMA temp_store = MEMORY");
    database.CheckComplete(size);
    return database;
}

SqliteDatabase SqliteDatabase::Create(const std::string& path)
{
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        sqlite3_close(db);
        throw DictionaryError(path, "cannot create: " + message);
    }
    return SqliteDatabase(db, path);
}

int SqliteDatabase::CheckDeadline(void* database)
{
    return Clock::now() >= static_cast<const SqliteDatabase*>(database)->deadline_ ? 1 : 0;
}

void SqliteDatabase::Fail(const std::string& what) const
{
    const int code = db_ ? sqlite3_errcode(db_) : SQLITE_NOMEM;
    if (code == SQLITE_INTERRUPT)
        throw DictionaryError(path_, what + ": it takes too long to read");
    throw DictionaryError(path_, what + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory"));
}

void SqliteDatabase::CheckComplete(std::int64_t bytes) const
{
    // SQLite may read the missing end of a cut file as zeros, which can turn the last rows'
    // values into other numbers without any error. The header says how long the file must be.
    const std::int64_t expected = PragmaNumber("page_count") * PragmaNumber("page_size");
    if (bytes < expected)
        throw DictionaryError(path_, "the file is cut short (" + std::to_string(bytes) + " of " +
                                         std::to_string(expected) + " bytes)");
}

std::int64_t SqliteDatabase::PragmaNumber(std::string_view name) const
{
    Statement statement = Prepare("PRAGMA " + std::string(name));
    std::int64_t value = 0;
    if (!statement.Step() || !statement.WholeNumber(0, value))
        Fail("cannot read its " + std::string(name));
    return value;
}

bool SqliteDatabase::HasPlainTable(std::string_view name) const
{
    // Views, and virtual tables that run a module's code, are no place to keep rows.
    Statement statement = Prepare("SELECT type, sql FROM sqlite_schema WHERE name = ?1 COLLATE NOCASE");
    const std::string text(name);
    if (sqlite3_bind_text(statement.statement_, 1, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) !=
        SQLITE_OK)
        Fail("cannot read its schema");
    if (!statement.Step())
        return false;
    const std::string sql = statement.Text(1);
    return statement.Text(0) == "table" && sqlite3_strnicmp(sql.c_str(), "CREATE VIRTUAL", 14) != 0;
}

bool SqliteDatabase::HasSchemaEntry(std::string_view name) const
{
    Statement statement = Prepare("SELECT 1 FROM sqlite_schema WHERE name = ?1 COLLATE NOCASE");
    if (sqlite3_bind_text(statement.statement_, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT) !=
        SQLITE_OK)
        Fail("cannot read its schema");
    return statement.Step();
}

void SqliteDatabase::CheckTime() const
{
    if (Clock::now() >= deadline_)
        throw DictionaryError(path_, "cannot read: it takes too long to read");
}

SqliteDatabase::SqliteDatabase(SqliteDatabase&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)), path_(std::move(other.path_)), fileId_(other.fileId_),
      deadline_(other.deadline_)
{
    if (db_ != nullptr && deadline_ != Clock::time_point::max())
        sqlite3_progress_handler(db_, 1000, &SqliteDatabase::CheckDeadline, this);
}

SqliteDatabase& SqliteDatabase::operator=(SqliteDatabase&& other) noexcept
{
    if (this != &other) {
        sqlite3_close(db_);
        db_ = std::exchange(other.db_, nullptr);
        path_ = std::move(other.path_);
        fileId_ = other.fileId_;
        deadline_ = other.deadline_;
        if (db_ != nullptr && deadline_ != Clock::time_point::max())
            sqlite3_progress_handler(db_, 1000, &SqliteDatabase::CheckDeadline, this);
    }
    return *this;
}

SqliteDatabase::~SqliteDatabase()
{
    sqlite3_close(db_);
}

void SqliteDatabase::Close()
{
    if (db_ != nullptr && sqlite3_close(db_) != SQLITE_OK)
        Fail("cannot close");
    db_ = nullptr;
}

SqliteDatabase::Statement SqliteDatabase::Prepare(std::string_view sql) const
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &statement, nullptr) != SQLITE_OK)
        Fail("cannot read");
    return Statement(*this, statement);
}

void SqliteDatabase::Execute(std::string_view sql)
{
    Statement statement = Prepare(sql);
    while (statement.Step()) {
    }
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
    db_->Fail("cannot read");
}

void SqliteDatabase::Statement::Bind(int parameter, std::int64_t value)
{
    if (sqlite3_bind_int64(statement_, parameter, value) != SQLITE_OK)
        db_->Fail("cannot bind a value");
}

void SqliteDatabase::Statement::Reset()
{
    if (sqlite3_reset(statement_) != SQLITE_OK)
        db_->Fail("cannot run a statement again");
}

void SqliteDatabase::Statement::BindBytes(int parameter, std::string_view bytes)
{
    // An empty view may have no data pointer; SQLite takes a null pointer as NULL, not as no bytes.
    static constexpr char kNone = 0;
    if (sqlite3_bind_blob64(statement_, parameter, bytes.empty() ? &kNone : bytes.data(), bytes.size(),
                            SQLITE_TRANSIENT) != SQLITE_OK)
        db_->Fail("cannot bind a value");
}

bool SqliteDatabase::Statement::Bytes(int column, std::string_view& bytes) const
{
    if (sqlite3_column_type(statement_, column) != SQLITE_BLOB)
        return false;
    const auto* data = static_cast<const char*>(sqlite3_column_blob(statement_, column));
    const int size = sqlite3_column_bytes(statement_, column);
    bytes = data ? std::string_view(data, static_cast<std::size_t>(size)) : std::string_view();
    return true;
}

std::string SqliteDatabase::Statement::Text(int column) const
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement_, column))) : std::string();
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
