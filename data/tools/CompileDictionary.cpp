// Compiles the committed table text (data/mervik.txt) into the SQLite file the program reads,
// "mervik.pcx": table MERVIK with numeric columns big5 and gb, one row per text row, inserted in
// text order so that rowid order is the text's order. Writes a temporary file beside the output
// and renames it into place, so the output is whole or absent. Any malformed line fails the build.

#include "CodePages.h"
#include "Files.h"
#include "TableText.h"

#include <sqlite3.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <string>

using namespace fanjian::data;

namespace {

class Database {
public:
    explicit Database(const std::filesystem::path& file)
    {
        const int rc = sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        if (rc != SQLITE_OK) {
            const std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
            sqlite3_close(db_);
            throw std::runtime_error("cannot create " + file.string() + ": " + reason);
        }
    }
    ~Database() { sqlite3_close(db_); }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void Execute(const char* sql)
    {
        if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            Fail(sql);
    }

    void InsertRows(const std::vector<TableRow>& rows)
    {
        sqlite3_stmt* insert = nullptr;
        if (sqlite3_prepare_v2(db_, "INSERT INTO MERVIK (big5, gb) VALUES (?, ?)", -1, &insert, nullptr) != SQLITE_OK)
            Fail("prepare INSERT");
        for (const TableRow& row : rows) {
            if (sqlite3_bind_int(insert, 1, row.big5) != SQLITE_OK || sqlite3_bind_int(insert, 2, row.gb) != SQLITE_OK ||
                sqlite3_step(insert) != SQLITE_DONE || sqlite3_reset(insert) != SQLITE_OK) {
                const std::string reason = sqlite3_errmsg(db_);
                sqlite3_finalize(insert);
                throw std::runtime_error("cannot insert row " + HexCode(row.big5) + " " + HexCode(row.gb) + ": " +
                                         reason);
            }
        }
        sqlite3_finalize(insert);
    }

    // Closes the database and reports a failed close, which may leave the file incomplete.
    void Close()
    {
        if (sqlite3_close(db_) != SQLITE_OK)
            Fail("close");
        db_ = nullptr;
    }

private:
    [[noreturn]] void Fail(const std::string& what)
    {
        throw std::runtime_error("SQLite failed at " + what + ": " + sqlite3_errmsg(db_));
    }

    sqlite3* db_ = nullptr;
};

void Compile(const std::filesystem::path& textFile, const std::filesystem::path& output)
{
    const TableText table = ParseTableText(ReadFile(textFile), textFile.string(), LoadBig5(), LoadGb());
    if (table.rows.empty())
        throw std::runtime_error(textFile.string() + " holds no row");

    const std::filesystem::path temporary = TemporaryPath(output);
    std::filesystem::remove(temporary);
    try {
        Database db(temporary);
        db.Execute("PRAGMA journal_mode = OFF");
        db.Execute("BEGIN");
        db.Execute("CREATE TABLE MERVIK (big5 INTEGER NOT NULL, gb INTEGER NOT NULL)");
        db.InsertRows(table.rows);
        db.Execute("COMMIT");
        db.Close();
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw;
    }
    Replace(temporary, output);
    std::printf("%s: %zu rows\n", output.c_str(), table.rows.size());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: compile_dictionary mervik.txt mervik.pcx\n", stderr);
        return 2;
    }
    try {
        Compile(argv[1], argv[2]);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "compile_dictionary: %s\n", e.what());
        return 1;
    }
}
