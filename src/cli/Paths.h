#pragma once

#include <optional>
#include <string>

namespace fanjian::cli {

// A path as a command-line user means it: an absolute path as given, a relative one joined to the
// current folder ("site" in /home/u is "/home/u/site"). Nothing else is done to it: ".." and
// links mean what the system makes of them, as for a path typed into the window. An empty path
// stays empty. Throws std::system_error when the current folder cannot be told.
std::string FromCurrentFolder(const std::string& path);

// The code table a conversion reads: the --dictionary file, if given, else mervik.pcx in the
// program directory.
std::string DictionaryFile(const std::optional<std::string>& given, const std::string& programDirectory);

// A message about the table `file` for people: the table's path goes in front when the message
// names none (a file that is no database, a damaged row).
std::string AboutDictionary(const std::string& file, std::string message);

} // namespace fanjian::cli
