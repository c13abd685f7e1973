#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace fanjian {

// A read-only SQLite connection and its prepared statements, closed by their destructors.
// Every failure throws DictionaryError with SQLite's own message.
class SqliteDatabase {
public:
    // Opens an existing regular database file, whole; never creates one. Waits a short while for
    // another process's write transaction to end.
    static SqliteDatabase OpenReadOnly(const std::string& path);

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

    private:
        friend class SqliteDatabase;
        Statement(sqlite3* db, sqlite3_stmt* statement) : db_(db), statement_(statement) {}
        sqlite3* db_;
        sqlite3_stmt* statement_;
    };

    Statement Prepare(std::string_view sql) const;

private:
    explicit SqliteDatabase(sqlite3* db) : db_(db) {}
    // Throws DictionaryError when the file is shorter than its header says.
    void CheckComplete(const std::string& path, std::int64_t fileSize) const;
    std::string PragmaText(std::string_view name) const;
    std::int64_t PragmaNumber(std::string_view name) const;
    sqlite3* db_;
};

} // namespace fanjian
