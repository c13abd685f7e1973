// Compiles the committed table text (data/mervik.txt) into the SQLite file the program reads,
// laid out as dictionary/TableLayout.h says, one row per text row, inserted in text order so that
// rowid order is the text's order. Writes a temporary file beside the output
// and renames it into place, so the output is whole or absent. Any malformed line fails the build.

#include "CodePages.h"
#include "Files.h"
#include "TableText.h"

#include "dictionary/Errors.h"
#include "dictionary/SqliteDatabase.h"
#include "dictionary/TableLayout.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <string>

using namespace fanjian::data;

namespace {

void InsertRows(fanjian::SqliteDatabase& db, const std::vector<TableRow>& rows)
{
    auto insert = db.Prepare(fanjian::table::kInsertRow);
    for (const TableRow& row : rows) {
        try {
            insert.Bind(1, row.big5);
            insert.Bind(2, row.gb);
            insert.Step();
            insert.Reset();
        } catch (const fanjian::DictionaryError& error) {
            throw std::runtime_error("cannot insert row " + HexCode(row.big5) + " " + HexCode(row.gb) + ": " +
                                     error.what());
        }
    }
}

void Compile(const std::filesystem::path& textFile, const std::filesystem::path& output)
{
    const TableText table = ParseTableText(ReadFile(textFile), textFile.string(), LoadBig5(), LoadGb());
    if (table.rows.empty())
        throw std::runtime_error(textFile.string() + " holds no row");

    const std::filesystem::path temporary = TemporaryPath(output);
    std::filesystem::remove(temporary);
    try {
        fanjian::SqliteDatabase db = fanjian::SqliteDatabase::Create(temporary.string());
        db.Execute("PRAGMA journal_mode = OFF");
        db.Execute("BEGIN");
        db.Execute(fanjian::table::kCreateTable);
        InsertRows(db, table.rows);
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
