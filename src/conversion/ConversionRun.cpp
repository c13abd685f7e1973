#include "conversion/ConversionRun.h"

#include "conversion/Files.h"
#include "conversion/LineConverter.h"
#include "conversion/LineWriter.h"
#include "dictionary/CharacterDictionary.h"
#include "dictionary/Errors.h"
#include "system/FileError.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

#include <unistd.h>

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
// While the tree is listed the window gets a pass over its events every so many entries.
constexpr std::uint64_t kEntriesBetweenPauses = 256;

// An output file as the place a LineWriter writes to.
class FileSink : public LineSink {
public:
    explicit FileSink(OutputFile& file) : file_(file) {}
    void Write(std::string_view bytes, std::uint64_t& written) override
    {
        const std::uint64_t before = file_.BytesWritten();
        try {
            file_.Write(bytes);
        } catch (...) {
            written += file_.BytesWritten() - before;
            throw;
        }
        written += bytes.size();
    }
    void TakeBack(std::uint64_t count) noexcept override { file_.CutBackTo(file_.BytesWritten() - count); }

private:
    OutputFile& file_;
};

// UTF-16 or UTF-32 text, told by its byte order mark: not converted (its characters are not those
// of any code page read here); nothing else is told so.
std::string_view OtherUnicode(std::string_view head)
{
    const auto starts = [head](std::string_view mark) { return head.substr(0, mark.size()) == mark; };
    using namespace std::string_view_literals;
    if (starts("\xFF\xFE\0\0"sv) || starts("\0\0\xFE\xFF"sv))
        return "UTF-32";
    if (starts("\xFF\xFE"sv) || starts("\xFE\xFF"sv))
        return "UTF-16";
    return {};
}

// True when the bytes declare charset=utf-8 (any letter case, a quote before the value allowed).
bool DeclaresUtf8(std::string_view bytes)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    const auto startsWith = [&](std::size_t at, std::string_view what) {
        if (bytes.size() - at < what.size())
            return false;
        for (std::size_t i = 0; i < what.size(); ++i)
            if (lower(bytes[at + i]) != what[i])
                return false;
        return true;
    };
    // From each '=' back, as memchr finds those much faster than a search for two letters.
    for (std::size_t equals = bytes.find('='); equals != std::string_view::npos; equals = bytes.find('=', equals + 1)) {
        if (equals < 7 || !startsWith(equals - 7, "charset="))
            continue;
        std::size_t value = equals + 1;
        if (value < bytes.size() && (bytes[value] == '"' || bytes[value] == '\''))
            ++value;
        if (startsWith(value, "utf-8") || startsWith(value, "utf8"))
            return true;
    }
    return false;
}

// The state of one run from the opening of the dictionary to its closing.
class RunState {
public:
    RunState(ConversionDirection direction, std::string_view folder, ProgressView& view)
        : direction_(direction), folder_(folder), outputFolder_(Join(folder, texts::OutputFolderName(direction))),
          view_(view), readBuffer_(kReadSize), writer_({.collect = kReadSize, .block = kReadSize, .writeBehind = true})
    {
    }

    void Execute(const std::string& dictionaryFile, Phrasing phrasing)
    {
        dictionary_.OpenFile(dictionaryFile);
        dictionaryFile_ = {dictionary_.FileId().first, dictionary_.FileId().second};
        // The converter outlives this call: the view may still hold its count text until the run
        // returns.
        LineConverter& converter = converter_.emplace(direction_, dictionary_, view_, phrasing);

        // Everything is listed before the first file is written, so that no output lands on a
        // file the run reads, nor in a folder it reads. A subfolder that cannot be listed fails
        // the run when the pass comes to it, after the subfolders before it are converted.
        // Listing a big tree takes a while: the window goes on handling its events meanwhile.
        const auto pause = [this] {
            if (++listed_ % kEntriesBetweenPauses == 0)
                view_.ProcessPendingEvents();
        };
        top_ = Folder::Open(folder_);
        const FolderEntries top = top_.List(FollowsLinksIn(top_), pause);
        inputFolders_.push_back(top_.Identity());
        std::vector<Subfolder> subfolders;
        for (const FolderEntry& folder : top.folders) {
            // The run's own output folder is no input: a second run converts nothing twice. The
            // other direction's output folder is a subfolder like any other.
            if (folder.name == texts::OutputFolderName(direction_))
                continue;
            Subfolder& subfolder = subfolders.emplace_back();
            subfolder.name = folder.name;
            subfolder.link = folder.link;
            subfolder.outputPath = Join(outputFolder_, folder.name);
            if (folder.link)
                continue;
            try {
                const Folder opened = top_.OpenChild(folder.name, FollowsLinksIn(top_));
                subfolder.identity = opened.Identity();
                subfolder.mode = opened.Mode();
                subfolder.followLinks = FollowsLinksIn(opened);
                subfolder.entries = opened.List(subfolder.followLinks, pause);
            } catch (const FileError& error) {
                subfolder.unreadable = error;
                continue;
            }
            inputFolders_.push_back(subfolder.identity);
            AddInputs(subfolder.entries);
        }
        AddInputs(top);
        std::sort(inputs_.begin(), inputs_.end());

        for (const Subfolder& subfolder : subfolders) {
            const std::string input = Join(folder_, subfolder.name);
            if (subfolder.link) {
                Skip(input);
                continue;
            }
            if (subfolder.unreadable)
                throw *subfolder.unreadable;
            Folder folder; // opened for its first selected file
            for (const FolderEntry& file : subfolder.entries.files)
                ProcessEntry(converter, folder, input, &subfolder, file);
        }
        for (const FolderEntry& file : top.files)
            ProcessEntry(converter, top_, folder_, nullptr, file);
        dictionary_.Close();
    }

private:
    // A subfolder of the chosen folder as it was listed.
    struct Subfolder {
        std::string name;
        std::string outputPath;
        bool link = false; // a link the run does not follow
        bool followLinks = false; // the links in it are followed
        FileIdentity identity;
        mode_t mode = 0;
        FolderEntries entries;
        std::optional<FileError> unreadable;
    };

    void AddInputs(const FolderEntries& entries)
    {
        for (const FolderEntry& file : entries.files) {
            if (IsSelectedFileName(file.name) && !file.link)
                inputs_.push_back(file.identity);
        }
    }

    // A symbolic link is followed only in a folder of the run's user inside a folder of the run's
    // user: in a folder of someone else's (root converting a user's site, or a folder of uploads
    // in root's) its owner could point one at anything the run's user may read or write.
    bool FollowsLinksIn(const Folder& folder) const
    {
        return top_.Owner() == user_ && folder.Owner() == user_;
    }

    bool IsInput(const FileIdentity& identity) const
    {
        return std::binary_search(inputs_.begin(), inputs_.end(), identity);
    }

    // A link left out: it shows in the list with its reason, and the run goes on.
    void Skip(const std::string& path)
    {
        const FileError reason("not following", path, FileProblem::LinkNotFollowed);
        view_.AddSkippedItem(std::string(texts::kSkippedLink) + ShortPath(path), reason.what());
    }

    // The folder to write a file of the top pass (no subfolder) or of `subfolder` into, created
    // when missing, and none of the folders the run reads (a link can make it one): files written
    // there would mix with the input. Each file checks anew that the path still leads to the
    // folder held open; a folder that has gone is made again, in the chosen folder as long as that
    // is still where its path leads. Every folder is found from the one above it, held open; a
    // link is followed only where the run follows links.
    const Folder& OutputFolder(const Subfolder* subfolder)
    {
        if (subfolder && outputSub_.IsOpen() && outputSub_.Path() == subfolder->outputPath &&
            outputSub_.StillAt(subfolder->outputPath))
            return outputSub_;
        if (!outputTop_.StillAt(outputFolder_)) {
            if (!top_.StillAt(folder_))
                throw FileError("cannot write into", folder_, FileProblem::Gone);
            // GB or BIG5 itself takes the chosen folder's mode.
            outputTop_ = OpenOutputFolder(top_, std::string(texts::OutputFolderName(direction_)), top_.Mode());
        }
        if (!subfolder)
            return outputTop_;
        outputSub_ = OpenOutputFolder(outputTop_, subfolder->name, subfolder->mode);
        return outputSub_;
    }

    Folder OpenOutputFolder(const Folder& parent, const std::string& name, mode_t mode) const
    {
        Folder folder = parent.OpenOrCreateChild(name, mode, FollowsLinksIn(parent));
        if (std::find(inputFolders_.begin(), inputFolders_.end(), folder.Identity()) != inputFolders_.end())
            throw FileError("cannot write into", folder.Path(), FileProblem::InputFolder);
        return folder;
    }

    // A subfolder as the pass comes to it: the very folder that was listed.
    Folder OpenInputFolder(const Subfolder& subfolder) const
    {
        Folder folder = top_.OpenChild(subfolder.name, FollowsLinksIn(top_));
        if (folder.Identity() != subfolder.identity)
            throw FileError("cannot read folder", folder.Path(), FileProblem::Gone);
        return folder;
    }

    // An entry of `inputFolder` (at `inputPath`, open once a file of it is read): a selected file
    // is converted into the output folder, or into the output of `subfolder`; a link the run does
    // not follow is left out.
    void ProcessEntry(LineConverter& converter, Folder& inputFolder, const std::string& inputPath,
                      const Subfolder* subfolder, const FolderEntry& file)
    {
        if (!IsSelectedFileName(file.name))
            return;
        if (file.link)
            return Skip(Join(inputPath, file.name));
        ProcessFile(converter, inputFolder, inputPath, subfolder, file.name);
    }

    void ProcessFile(LineConverter& converter, Folder& inputFolder, const std::string& inputFolderPath,
                     const Subfolder* subfolder, const std::string& name)
    {
        ++fileCount_;
        const std::string inputPath = Join(inputFolderPath, name);
        view_.AddSourceListItem(ShortPath(inputPath));
        view_.ShowFileName("檔名 " + name);
        view_.ShowFileCount("第 " + std::to_string(fileCount_) + " 檔案");
        view_.ProcessPendingEvents();

        // The output folders first, then the input: a file that cannot be read fails the run
        // with its folders made and before its output file is.
        const Folder& folder = OutputFolder(subfolder);
        if (!inputFolder.IsOpen())
            inputFolder = OpenInputFolder(*subfolder);
        InputFile input(inputFolder, name, inputPath, subfolder ? subfolder->followLinks : FollowsLinksIn(top_));
        // The first bytes tell what the file is, before anything is written.
        const std::size_t head = input.Read(readBuffer_.data(), readBuffer_.size());
        const std::string_view headBytes(readBuffer_.data(), head);
        if (const std::string_view other = OtherUnicode(headBytes); !other.empty()) {
            view_.AddSkippedItem(std::string(other == "UTF-16" ? texts::kSkippedUtf16 : texts::kSkippedUtf32) +
                                     ShortPath(inputPath),
                                 "left out " + inputPath + ": " + std::string(other) +
                                     " text (it starts with a byte order mark), which is not converted");
            input.Close();
            view_.ProcessPendingEvents();
            return;
        }
        const bool declaresUtf8 = DeclaresUtf8(headBytes);
        const std::string outputPath = Join(folder.Path(), name);
        // A new output takes its input's permission bits, as cp gives them.
        OutputFile output(folder, name, outputPath, input.Mode());
        // The output has no other name, is no link and lies in no folder the run reads; these
        // hold all the same should the file system play tricks.
        if (output.Identity() == input.Identity() || IsInput(output.Identity()))
            throw FileError("cannot write", outputPath, FileProblem::InputFile);
        if (output.Identity() == dictionaryFile_)
            throw FileError("cannot write", outputPath, FileProblem::DictionaryFile);
        output.Truncate();

        ConvertFile(converter, input, output, head);
        output.Close();
        input.Close();

        view_.ShowFileReading(converter.Encoding() == TextEncoding::Utf8 ? ProgressView::Reading::Utf8
                              : declaresUtf8                            ? ProgressView::Reading::CodePageDeclaredUtf8
                                                                        : ProgressView::Reading::CodePage);
        view_.AddResultListItem(outputPath);
        view_.ProcessPendingEvents();
    }

    // Reads the input in blocks and converts it, however long its lines are. The few bytes at
    // the end of a block that the converter cannot decide on yet go again at the front of the next.
    // Reads the input in blocks and converts it, however long its lines are; the first `kept` bytes
    // are read already. The encoding is told from the bytes as they come (LineConverter): a file
    // that turns out not to be UTF-8 after a character of it is, loses what was written of it and is
    // converted again from its start, as Big5 or GB2312.
    void ConvertFile(LineConverter& converter, InputFile& input, OutputFile& output, std::size_t kept)
    {
        converter.StartFileOfUnknownEncoding();
        try {
            ConvertBlocks(converter, input, output, kept);
        } catch (const NotUtf8&) {
            input.Rewind();
            output.CutBackTo(0);
            if (output.BytesWritten() != 0)
                throw FileError("cannot write", output.Path(), errno);
            converter.RestartFile();
            ConvertBlocks(converter, input, output, 0);
        }
    }

    void ConvertBlocks(LineConverter& converter, InputFile& input, OutputFile& output, std::size_t kept)
    {
        FileSink sink(output);
        writer_.Start(sink);
        try {
            for (;;) {
                // The first read may have filled the buffer.
                const std::size_t room = readBuffer_.size() - kept;
                const std::size_t got = room != 0 ? input.Read(readBuffer_.data() + kept, room) : 0;
                const bool atEnd = (room != 0 && got == 0) || input.AtEnd();
                const std::string_view block(readBuffer_.data(), kept + got);
                const std::size_t taken = writer_.Convert(converter, block, atEnd);
                kept = block.size() - taken;
                std::memmove(readBuffer_.data(), readBuffer_.data() + taken, kept);
                if (atEnd)
                    break;
            }
        } catch (const NotUtf8&) {
            throw; // the file goes again from its start
        } catch (...) {
            // Whatever stops the file, every finished line goes to disk and nothing of the
            // unfinished one does.
            writer_.KeepFinishedLines();
            throw;
        }
    }

    ConversionDirection direction_;
    std::string folder_;
    std::string outputFolder_;
    ProgressView& view_;
    std::uint64_t fileCount_ = 0;
    std::uint64_t listed_ = 0;
    std::vector<char> readBuffer_;
    LineWriter writer_;
    CharacterDictionary dictionary_;
    std::optional<LineConverter> converter_;
    std::vector<FileIdentity> inputFolders_; // the folder and its subfolders
    std::vector<FileIdentity> inputs_;       // every file the run reads, sorted
    FileIdentity dictionaryFile_;
    Folder top_; // the chosen folder
    uid_t user_ = ::geteuid();
    Folder outputTop_;
    Folder outputSub_;
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

RunResult ConversionRun::Run(ConversionDirection direction, std::string_view folderPath,
                             std::string_view programDirectory, ProgressView& view)
{
    return RunWithDictionary(direction, folderPath, CharacterDictionary::FilePath(programDirectory), view);
}

RunResult ConversionRun::RunWithDictionary(ConversionDirection direction, std::string_view folderPath,
                                           const std::string& dictionaryFile, ProgressView& view, Phrasing phrasing)
{
    view.ClearSourceList();
    view.ClearResultList();
    if (!IsAcceptedFolderPath(folderPath)) {
        view.AddSourceListItem(texts::kPathMissing);
        return {RunOutcome::PathRejected, {}};
    }
    view.ShowStatus(texts::Status(direction));
    view.ProcessPendingEvents();

    RunState state(direction, folderPath, view);
    std::optional<RunFailure> failure;
    // Every file the run opened is closed by the time a failure arrives here; what it wrote stays.
    try {
        state.Execute(dictionaryFile, phrasing);
    } catch (const FileError& error) {
        failure = RunFailure{RunFailure::Kind::File, error.what(), error.path(), error.code()};
    } catch (const DictionaryError& error) {
        failure = RunFailure{RunFailure::Kind::Dictionary, error.what(), error.path(), {}};
    }
    if (failure) {
        view.ShowStatus(texts::kFailureStatus);
        view.AddSourceListItem(texts::kFailureItem);
        view.AddSourceListItem(texts::kReinstallItem);
        return {RunOutcome::Failed, std::move(failure)};
    }
    view.ShowStatus(texts::Completion(direction));
    return {RunOutcome::Completed, {}};
}

} // namespace fanjian
