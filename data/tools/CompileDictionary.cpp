// Compiles the committed table text (data/mervik.txt), and the phrase text (data/phrases.txt) when
// given, into the SQLite file the program reads, laid out as dictionary/TableLayout.h says, one row
// per text row, inserted in text order so that rowid order is the text's order. Without the phrase
// text the file has no PHRASES table and converts by character alone. Writes a temporary file beside the output
// and renames it into place, so the output is whole or absent. Any malformed line fails the build.

#include "CodePages.h"
#include "Files.h"
#include "PhraseText.h"
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

// Consecutive pairs of one length and direction go into one row, up to kPackedPhraseBytes a side.
void InsertPhrases(fanjian::SqliteDatabase& db, const std::vector<PhraseRow>& rows)
{
    db.Execute(fanjian::table::kCreatePhraseTable);
    auto insert = db.Prepare(fanjian::table::kInsertPhrases);
    for (std::size_t first = 0; first < rows.size();) {
        const auto direction = [](const PhraseRow& row) {
            return (row.traditionalToSimplified ? fanjian::table::kPhraseToSimplified : 0) |
                   (row.simplifiedToTraditional ? fanjian::table::kPhraseToTraditional : 0);
        };
        const std::size_t length = rows[first].big5.size();
        std::string big5, gb;
        std::size_t next = first;
        const auto fits = [&](const PhraseRow& row) {
            return row.big5.size() == length && direction(row) == direction(rows[first]) &&
                   big5.size() + 2 * length <= fanjian::table::kPackedPhraseBytes;
        };
        for (; next < rows.size() && fits(rows[next]); ++next) {
            big5 += CodeBytes(rows[next].big5);
            gb += CodeBytes(rows[next].gb);
        }
        try {
            insert.Bind(1, static_cast<std::int64_t>(length));
            insert.Bind(2, direction(rows[first]));
            insert.BindBytes(3, big5);
            insert.BindBytes(4, gb);
            insert.Step();
            insert.Reset();
        } catch (const fanjian::DictionaryError& error) {
            throw std::runtime_error("cannot insert the phrases from " + HexCodes(rows[first].big5) + ": " +
                                     error.what());
        }
        first = next;
    }
}

void Compile(const std::filesystem::path& textFile, const std::filesystem::path* phraseFile,
             const std::filesystem::path& output)
{
    const CodeTable big5 = LoadBig5();
    const CodeTable gb = LoadGb();
    const TableText table = ParseTableText(ReadFile(textFile), textFile.string(), big5, gb);
    if (table.rows.empty())
        throw std::runtime_error(textFile.string() + " holds no row");
    std::vector<PhraseRow> phrases;
    if (phraseFile)
        phrases = ParsePhraseText(ReadFile(*phraseFile), phraseFile->string(), big5, gb);

    const std::filesystem::path temporary = TemporaryPath(output);
    std::filesystem::remove(temporary);
    try {
        fanjian::SqliteDatabase db = fanjian::SqliteDatabase::Create(temporary.string());
        db.Execute("PRAGMA journal_mode = OFF");
        db.Execute("BEGIN");
        db.Execute(fanjian::table::kCreateTable);
        InsertRows(db, table.rows);
        if (phraseFile)
            InsertPhrases(db, phrases);
        db.Execute("COMMIT");
        db.Close();
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw;
    }
    Replace(temporary, output);
    std::printf("%s: %zu rows, %zu phrases\n", output.c_str(), table.rows.size(), phrases.size());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        std::fputs("usage: compile_dictionary mervik.txt [phrases.txt] mervik.pcx\n", stderr);
        return 2;
    }
    try {
        const std::filesystem::path phrases = argc == 4 ? argv[2] : "";
        Compile(argv[1], argc == 4 ? &phrases : nullptr, argv[argc - 1]);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "compile_dictionary: %s\n", e.what());
        return 1;
    }
}
