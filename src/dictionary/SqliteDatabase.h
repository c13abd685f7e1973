#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

struct sqlite3;
struct sqlite3_stmt;

namespace fanjian {

// An SQLite connection and its prepared statements, closed by their destructors. Every failure
// throws DictionaryError naming the file and SQLite's own message.
class SqliteDatabase {
public:
    // How long opening a snapshot may take in all, waiting for a writer included.
    static constexpr std::chrono::milliseconds kOpenDeadline{2000};
    // The largest file taken for a snapshot.
    static constexpr std::int64_t kMaxSnapshotBytes = 64 * 1024 * 1024;

    // The database file at `path` as it stands now, read once into memory and opened from there,
    // read-only. Nothing another process does to the file afterwards reaches it, no file is ever
    // made beside it, and the file is opened once: what is checked is what is read. Only a
    // regular file is read, never waited on; a writer in the middle of a transaction is waited
    // for until the deadline. The file must be whole: shorter than its header says, it fails,
    // whatever its journal mode. Statements stepped after the deadline fail.
    static SqliteDatabase OpenSnapshot(const std::string& path);
    // A new database file at `path`, for the build's tools.
    static SqliteDatabase Create(const std::string& path);

    SqliteDatabase(SqliteDatabase&& other) noexcept;
    SqliteDatabase& operator=(SqliteDatabase&& other) noexcept;
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;
    ~SqliteDatabase();

    class Statement {
    public:
        Statement(Statement&& other) noexcept;
        Statement(const Statement&) = delete;
        Statement& operator=(const Statement&) = delete;
        Statement& operator=(Statement&&) = delete;
        ~Statement();

        // Moves to the next row; false at the end.
        bool Step();
        // A column of the current row as a whole number, or nothing when it holds none
        // (NULL, text that is no plain decimal number, a fraction, a blob).
        bool WholeNumber(int column, std::int64_t& value) const;
        // A column of the current row as text (NULL as empty).
        std::string Text(int column) const;
        // A BLOB column's bytes, valid until the next Step; false when the column holds no BLOB.
        bool Bytes(int column, std::string_view& bytes) const;
        void Bind(int parameter, std::int64_t value);
        void BindBytes(int parameter, std::string_view bytes);
        // Ready to run again with new parameters.
        void Reset();

    private:
        friend class SqliteDatabase;
        Statement(const SqliteDatabase& db, sqlite3_stmt* statement) : db_(&db), statement_(statement) {}
        const SqliteDatabase* db_;
        sqlite3_stmt* statement_;
    };

    Statement Prepare(std::string_view sql) const;
    void Execute(std::string_view sql);
    // Closes the connection; a failed close (the file may be incomplete) throws.
    void Close();

    // True when the database has a table (not a view) of this name.
    bool HasPlainTable(std::string_view name) const;
    // True when the database has anything (table, view, index, trigger) of this name.
    bool HasSchemaEntry(std::string_view name) const;
    // Throws, as a statement stepped then would, when a snapshot's deadline has passed: for the
    // work its reader does between steps.
    void CheckTime() const;
    // Device and inode number of the file a snapshot was read from.
    std::pair<std::uint64_t, std::uint64_t> FileId() const noexcept { return fileId_; }

private:
    explicit SqliteDatabase(sqlite3* db, std::string path);
    [[noreturn]] void Fail(const std::string& what) const;
    // Throws when the snapshot is shorter than its header says.
    void CheckComplete(std::int64_t bytes) const;
    std::int64_t PragmaNumber(std::string_view name) const;
    static int CheckDeadline(void* database);

    sqlite3* db_;
    std::string path_;
    std::pair<std::uint64_t, std::uint64_t> fileId_{};
    std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::time_point::max();
};

} // namespace fanjian
