#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fanjian {

// Which file an open descriptor refers to.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    friend auto operator<=>(const FileIdentity&, const FileIdentity&) = default;
};

// An entry of a folder: its name and the file it stands for (what a link points to).
struct FolderEntry {
    std::string name;
    FileIdentity identity;
};

// The names in a folder, in the order the file system gives them.
struct FolderEntries {
    FileIdentity self;                // the folder itself
    std::vector<FolderEntry> folders; // directories, links to directories included
    std::vector<FolderEntry> files;   // regular files, links to them included
};

// Lists a folder; throws FileError when it cannot be read, or when an entry cannot be looked at
// (a folder that may be listed but not entered). Other kinds of entry (FIFOs, sockets, devices)
// and links that lead nowhere (to nothing, or round in a loop) are left out. Nothing is opened but
// the folder itself, and never a FIFO in its place.
FolderEntries ListFolder(const std::string& path);
// The folder at `path` (links followed), or nothing when there is no folder there.
std::optional<FileIdentity> FolderIdentity(const std::string& path);
// Creates one folder; throws FileError when it cannot.
void CreateFolder(const std::string& path);

// A file opened for reading. Only regular files open: a FIFO or device is refused, never waited on.
class InputFile {
public:
    explicit InputFile(const std::string& path);
    InputFile(InputFile&& other) noexcept;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    InputFile& operator=(InputFile&&) = delete;
    ~InputFile();

    // Up to `size` bytes; 0 at the end. Throws FileError.
    std::size_t Read(char* buffer, std::size_t size);
    void Close();
    FileIdentity Identity() const { return identity_; }

private:
    std::string path_;
    int fd_ = -1;
    FileIdentity identity_;
};

// A file opened for writing, created when missing. Its old content stays until Truncate: the
// caller can first make sure it is not about to overwrite something it must not. A missing file
// is created at the path itself, never through a link that leads nowhere: such a link is refused.
class OutputFile {
public:
    explicit OutputFile(const std::string& path);
    OutputFile(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    OutputFile& operator=(OutputFile&&) = delete;
    ~OutputFile();

    FileIdentity Identity() const { return identity_; }
    // True when the file did not exist before: it can be nothing else the caller knows of.
    bool Created() const noexcept { return created_; }
    // Empties the file (a device such as /dev/null has nothing to empty).
    void Truncate();
    // Writes every byte or throws FileError.
    void Write(std::string_view bytes);
    // Cuts the file back to its first `size` bytes written, where the file allows it.
    void CutBackTo(std::uint64_t size);
    std::uint64_t BytesWritten() const noexcept { return written_; }
    // Closes the file; a failed close (the data did not reach the disk) throws FileError.
    void Close();

private:
    std::string path_;
    int fd_ = -1;
    bool regular_ = false;
    bool empty_ = false;
    bool created_ = false;
    FileIdentity identity_;
    std::uint64_t written_ = 0;
};

} // namespace fanjian
