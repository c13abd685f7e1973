#pragma once

#include "dictionary/ConversionDirection.h"
#include "conversion/LineConverter.h"
#include "conversion/ProgressView.h"

#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace fanjian {

// One conversion run over a folder: the files directly in each immediate subfolder, then the
// files directly in the folder itself, whose names end in .txt .htm .html .asp .php .php3 .jsp or
// .js (any letter case), converted into the folder's "GB" (or "BIG5") subfolder, which mirrors one
// level of subfolders. Input files are never changed. The output folder itself is no subfolder to
// convert, so a second run converts nothing twice; the other direction's output folder is.
//
// The run lists the folder and every subfolder before it writes anything. It fails when a folder
// or an entry in it cannot be looked at (a subfolder when the pass comes to it). It writes only
// regular files with a single name that it reaches without a link at their own name, never a file
// it reads or the dictionary, never into a folder it reads, and it truncates nothing before it
// knows that. Special files (FIFOs, sockets, devices) are never opened as inputs and refused
// unwritten as outputs; nothing it reads or writes can make it wait. When the disk fills up, the
// file being written keeps the lines that reached the disk whole.
//
// New outputs get their modes as cp gives them: a file its input's permission bits, a folder its
// input folder's (GB or BIG5 the chosen folder's), less the umask, never setuid, setgid or sticky;
// outputs that were there keep theirs. A symbolic link is followed only in a folder of the run's
// user inside a chosen folder of the run's user: in anyone else's (root converting a user's site)
// a link to a file or folder is left out and shown with its reason (ProgressView::AddSkippedItem),
// and a link where an output folder goes fails the run. Every folder is found from the one above
// it, held open, never by a walk down a path that could lead elsewhere meanwhile.
//
// Everything shows through the view: progress, the result list, failures. The result adds what
// the view's texts do not say: which of the three ways the run ended and, after a failure, its
// cause. An exception thrown by the view leaves the run (its files closed, all completed lines on
// disk) and reaches the caller unchanged.
enum class RunOutcome { Completed, PathRejected, Failed };

// Why a run failed.
struct RunFailure {
    enum class Kind { File, Dictionary };
    Kind kind;
    // For people, in English: "cannot create /x/GB/a.htm: No space left on device".
    std::string message;
    // The file or folder concerned (the dictionary file for a dictionary that cannot be read);
    // empty where the failure concerns no one path (a row of the dictionary).
    std::string path;
    // The system's error number (std::generic_category) or a FileProblem; empty for the dictionary.
    std::error_code error;
};

struct RunResult {
    RunOutcome outcome;
    std::optional<RunFailure> failure; // set exactly when the outcome is Failed
};

class ConversionRun {
public:
    // The dictionary is mervik.pcx in `programDirectory`.
    RunResult Run(ConversionDirection direction, std::string_view folderPath, std::string_view programDirectory,
                  ProgressView& view);
    // The same run with the dictionary read from `dictionaryFile`.
    RunResult RunWithDictionary(ConversionDirection direction, std::string_view folderPath,
                                const std::string& dictionaryFile, ProgressView& view, Phrasing phrasing = Phrasing::Phrases);
};

// Texts a run shows.
namespace texts {
inline constexpr std::string_view kPathMissing = "未輸入轉換路徑";
inline constexpr std::string_view kFailureStatus = "系統資料已損毀";
inline constexpr std::string_view kFailureItem = "系統資料已損毀！";
inline constexpr std::string_view kReinstallItem = "請重新安裝！";
// Before the path of a symbolic link a run for another user leaves out.
inline constexpr std::string_view kSkippedLink = "略過符號連結 ";
inline constexpr std::string_view kSkippedUtf16 = "略過 UTF-16 檔案 ";
inline constexpr std::string_view kSkippedUtf32 = "略過 UTF-32 檔案 ";
std::string_view Status(ConversionDirection direction);
std::string_view Completion(ConversionDirection direction);
std::string_view OutputFolderName(ConversionDirection direction);
} // namespace texts

// The rules a run applies, open for its tests.
bool IsAcceptedFolderPath(std::string_view folderPath);
bool IsSelectedFileName(std::string_view name);
// The absolute path without doubled separators or "." pieces.
std::string ShortPath(std::string_view path);

} // namespace fanjian
