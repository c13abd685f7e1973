#pragma once

#include <string>
#include <string_view>

namespace fanjian::cli {

// A path as a command-line user means it: an absolute path as given, a relative one joined to the
// current folder ("site" in /home/u is "/home/u/site"). Nothing else is done to it: ".." and
// links mean what the system makes of them, as for a path typed into the window. An empty path
// stays empty. Throws std::system_error when the current folder cannot be told.
std::string FromCurrentFolder(const std::string& path);

// The folder the executable lies in (links to it followed), where mervik.pcx is looked for.
// Throws std::system_error when the system does not tell.
std::string ProgramDirectory();

// Where a conversion finds a code table given by --dictionary. A run and the dictionary read
// "mervik.pcx" in a program directory: a table of that name is read in its own folder; a table of
// any other name through a link named mervik.pcx in a private temporary folder, made here and
// removed with this object. Messages about the table then name the link: Explain puts the
// table's own path back.
class DictionaryLocation {
public:
    // The default: mervik.pcx beside the executable.
    explicit DictionaryLocation(std::string programDirectory);
    // --dictionary FILE. Throws std::system_error when the temporary folder cannot be made.
    static DictionaryLocation ForFile(const std::string& file);

    DictionaryLocation(DictionaryLocation&& other) noexcept;
    DictionaryLocation& operator=(DictionaryLocation&&) = delete;
    DictionaryLocation(const DictionaryLocation&) = delete;
    DictionaryLocation& operator=(const DictionaryLocation&) = delete;
    ~DictionaryLocation();

    // What to hand to ConversionRun::Run and CharacterDictionary::Open.
    const std::string& ProgramDirectory() const noexcept { return directory_; }
    // The table's path as the user knows it.
    const std::string& File() const noexcept { return file_; }
    // A message about the table for people: the path of the link, if any, replaced by the table's
    // own path, and that path put in front when the message names none (a damaged file, a row).
    std::string Explain(std::string message) const;

private:
    DictionaryLocation() = default;

    std::string directory_;
    std::string linkPath_; // empty unless a temporary link stands in for the table
    std::string file_;
};

} // namespace fanjian::cli
