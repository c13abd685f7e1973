#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace fanjian {

// File names are bytes. The sites our users convert often have folders and files named in Big5 or
// GB2312 bytes (copied from older servers and Windows shares), which no text codec maps to a
// QString and back unchanged. The windows hold a path in two forms:
//
// - its exact form: the bytes decoded as UTF-8 where they are valid, each other byte kept as a lone
//   surrogate U+DC80..U+DCFF (as Python's "surrogateescape" does), so that PathBytes() gives back
//   the very same bytes. For a UTF-8 path it is the ordinary text. Paths inside the windows (the
//   chooser's entries, the folder it hands over) are kept in this form.
// - its readable form, for people: each name as UTF-8 where it is valid, else decoded as Big5 (CP950)
//   or GB2312 where the bytes are valid in one of them, else with every byte that is not valid
//   UTF-8 written as \xHH; control characters are written as \xHH too. It is not reversible by
//   itself; FolderPathBytes() finds the bytes again.

// The exact form of `bytes`.
QString ExactPath(std::string_view bytes);
// The bytes of an exact form: UTF-8, with each lone surrogate U+DC80..U+DCFF turned back into its byte.
std::string PathBytes(const QString& exact);

// The readable form of one name (no '/'). Where `charset` is given, it is set to the name of the
// charset the name was read in ("UTF-8", "Big5" or "GB2312"), or to an empty text where bytes
// had to be escaped.
QString ReadableName(std::string_view name, QString* charset = nullptr);
// The readable form of a path: each name between the '/' separators made readable.
QString ReadablePath(std::string_view path);
// The readable form of a path in its exact form.
inline QString ReadablePath(const QString& exact) { return ReadablePath(PathBytes(exact)); }

// The bytes of a folder path typed (or edited) in readable form, with the separators as typed.
// Each name comes from, in this order: `chosen` (an exact path, the last folder the chooser handed
// over) as long as the typed names follow its names; the entry of that very name where one exists;
// the one entry of the folder above whose readable name it is; else the name's own UTF-8 bytes
// (and the run will say that it finds no such folder). Relative paths are not looked up.
std::string FolderPathBytes(const QString& typed, const QString& chosen = {});

} // namespace fanjian
