#include "conversion/ConversionRun.h"

#include "conversion/Errors.h"
#include "conversion/Files.h"
#include "conversion/LineConverter.h"
#include "dictionary/CharacterDictionary.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

namespace fanjian {

namespace texts {

std::string_view Status(ConversionDirection direction)
{
    return direction == ConversionDirection::TraditionalToSimplified ? "繁轉簡轉換中" : "簡轉繁轉換中";
}

std::string_view Completion(ConversionDirection direction)
{
    return direction == ConversionDirection::TraditionalToSimplified ? "繁轉簡轉換完成" : "簡轉繁轉換完成";
}

std::string_view OutputFolderName(ConversionDirection direction)
{
    return direction == ConversionDirection::TraditionalToSimplified ? "GB" : "BIG5";
}

} // namespace texts

namespace {

// The pieces of a path between its separators, without empty and "." pieces.
std::vector<std::string_view> PathPieces(std::string_view path)
{
    std::vector<std::string_view> pieces;
    while (!path.empty()) {
        const std::size_t end = std::min(path.find('/'), path.size());
        const std::string_view piece = path.substr(0, end);
        if (!piece.empty() && piece != ".")
            pieces.push_back(piece);
        path.remove_prefix(std::min(end + 1, path.size()));
    }
    return pieces;
}

std::string Join(std::string_view a, std::string_view b)
{
    std::string path;
    path.reserve(a.size() + 1 + b.size());
    path += a;
    path += '/';
    path += b;
    return path;
}

constexpr std::size_t kReadSize = 256 * 1024;
constexpr std::size_t kWriteSize = 1024 * 1024;

// The state of one run from the opening of the dictionary to its closing.
class RunState {
public:
    RunState(ConversionDirection direction, std::string_view folder, ProgressView& view)
        : direction_(direction), folder_(folder), outputFolder_(Join(folder, texts::OutputFolderName(direction))),
          view_(view), readBuffer_(kReadSize)
    {
        written_.reserve(kWriteSize + kReadSize * 2);
    }

    void Execute(std::string_view programDirectory)
    {
        dictionary_.Open(programDirectory);
        // The converter outlives this call: the view may still hold its count text until the run
        // returns.
        LineConverter& converter = converter_.emplace(direction_, dictionary_, view_);

        const FolderEntries top = ListFolder(folder_);
        for (const std::string& subfolder : top.folders) {
            const std::string input = Join(folder_, subfolder);
            const std::string output = Join(outputFolder_, subfolder);
            const FolderEntries entries = ListFolder(input);
            for (const std::string& name : entries.files) {
                if (IsSelectedFileName(name))
                    ProcessFile(converter, input, &output, name);
            }
        }
        const FolderEntries entries = ListFolder(folder_);
        for (const std::string& name : entries.files) {
            if (IsSelectedFileName(name))
                ProcessFile(converter, folder_, nullptr, name);
        }
        dictionary_.Close();
    }

private:
    // One selected file: `inputFolder`/name into the output folder, or into `outputSubfolder`.
    void ProcessFile(LineConverter& converter, const std::string& inputFolder, const std::string* outputSubfolder,
                     const std::string& name)
    {
        ++fileCount_;
        const std::string inputPath = Join(inputFolder, name);
        view_.AddSourceListItem(ShortPath(inputPath));
        view_.ShowFileName("檔名 " + name);
        view_.ShowFileCount("第 " + std::to_string(fileCount_) + " 檔案");
        view_.ProcessPendingEvents();

        if (!FolderExists(outputFolder_))
            CreateFolder(outputFolder_);
        if (outputSubfolder && !FolderExists(*outputSubfolder))
            CreateFolder(*outputSubfolder);
        const std::string outputPath = Join(outputSubfolder ? *outputSubfolder : outputFolder_, name);

        InputFile input(inputPath);
        OutputFile output(outputPath);
        // Through a link or a hard link the output can be the very file being read: writing it
        // would destroy the input.
        if (output.Identity() == input.Identity())
            throw FileError("cannot write", outputPath, "it is the input file " + inputPath);
        output.Truncate();

        ConvertFile(converter, input, output);
        output.Close();
        input.Close();

        view_.AddResultListItem(outputPath);
        view_.ProcessPendingEvents();
    }

    // Reads the input in blocks and converts it, however long its lines are. The few bytes at
    // the end of a block that the converter cannot decide on yet go again at the front of the next.
    void ConvertFile(LineConverter& converter, InputFile& input, OutputFile& output)
    {
        written_.clear();
        std::uint64_t lineStart = 0; // where the line being converted begins in the output
        bool converting = false;
        std::size_t kept = 0;
        try {
            for (;;) {
                const std::size_t got = input.Read(readBuffer_.data() + kept, readBuffer_.size() - kept);
                const bool atEnd = got == 0;
                const std::string_view block(readBuffer_.data(), kept + got);
                converting = true;
                const std::size_t taken = converter.ConvertLines(block, atEnd, written_);
                converting = false;
                if (converter.LineStart() != LineConverter::kNoLineStart)
                    lineStart = output.BytesWritten() + converter.LineStart();
                kept = block.size() - taken;
                std::memmove(readBuffer_.data(), readBuffer_.data() + taken, kept);
                if (written_.size() >= kWriteSize || atEnd) {
                    output.Write(written_);
                    written_.clear();
                }
                if (atEnd)
                    break;
            }
        } catch (...) {
            // Whatever stops the file, every finished line goes to disk and nothing of the
            // unfinished one does.
            if (converting && converter.LineStart() != LineConverter::kNoLineStart)
                lineStart = output.BytesWritten() + converter.LineStart();
            KeepFinishedLines(output, lineStart);
            throw;
        }
    }

    void KeepFinishedLines(OutputFile& output, std::uint64_t lineStart) noexcept
    {
        try {
            const std::uint64_t onDisk = output.BytesWritten();
            if (lineStart >= onDisk) {
                written_.resize(static_cast<std::size_t>(lineStart - onDisk));
                output.Write(written_);
            } else {
                output.CutBackTo(lineStart);
            }
        } catch (const ConversionError&) {
            // The file fails already; there is no better place for what could not be kept.
        }
        written_.clear();
    }

    ConversionDirection direction_;
    std::string folder_;
    std::string outputFolder_;
    ProgressView& view_;
    std::uint64_t fileCount_ = 0;
    std::vector<char> readBuffer_;
    std::string written_;
    CharacterDictionary dictionary_;
    std::optional<LineConverter> converter_;
};

} // namespace

bool IsAcceptedFolderPath(std::string_view folderPath)
{
    if (folderPath.empty() || folderPath.front() != '/')
        return false;
    // Rejects every spelling of the root: "/", "//", "/.", "/./", "/a/..".
    std::size_t depth = 0;
    for (const std::string_view piece : PathPieces(folderPath)) {
        if (piece == "..")
            depth = depth > 0 ? depth - 1 : 0;
        else
            ++depth;
    }
    return depth > 0;
}

bool IsSelectedFileName(std::string_view name)
{
    static constexpr std::array<std::string_view, 8> kEndings = {".TXT", ".HTM", ".HTML", ".ASP",
                                                                 ".PHP", ".PHP3", ".JSP", ".JS"};
    return std::any_of(kEndings.begin(), kEndings.end(), [name](std::string_view ending) {
        if (name.size() < ending.size())
            return false;
        const std::string_view tail = name.substr(name.size() - ending.size());
        return std::equal(tail.begin(), tail.end(), ending.begin(), [](char a, char b) {
            return (a >= 'a' && a <= 'z' ? static_cast<char>(a - 'a' + 'A') : a) == b;
        });
    });
}

std::string ShortPath(std::string_view path)
{
    std::string shortPath;
    for (const std::string_view piece : PathPieces(path)) {
        shortPath += '/';
        shortPath += piece;
    }
    return shortPath.empty() ? "/" : shortPath;
}

void ConversionRun::Run(ConversionDirection direction, std::string_view folderPath,
                        std::string_view programDirectory, ProgressView& view)
{
    view.ClearSourceList();
    view.ClearResultList();
    if (!IsAcceptedFolderPath(folderPath)) {
        view.AddSourceListItem(texts::kPathMissing);
        return;
    }
    view.ShowStatus(texts::Status(direction));
    view.ProcessPendingEvents();

    RunState state(direction, folderPath, view);
    bool failed = false;
    try {
        state.Execute(programDirectory);
    } catch (const ConversionError&) {
        // Every file the run opened is closed by now; what it wrote stays.
        failed = true;
    }
    if (failed) {
        view.ShowStatus(texts::kFailureStatus);
        view.AddSourceListItem(texts::kFailureItem);
        view.AddSourceListItem(texts::kReinstallItem);
        return;
    }
    view.ShowStatus(texts::Completion(direction));
}

} // namespace fanjian
