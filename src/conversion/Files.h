#pragma once

#include "system/Descriptor.h"

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
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

// The folder the running program lies in (links to it followed), its bytes as they are: the
// program finds its dictionary there also when a folder on the way is named in Big5 bytes.
// Throws std::system_error when the system does not tell.
std::string ProgramDirectory();

// The current folder, its bytes as they are. Throws std::system_error when it cannot be told.
std::string CurrentFolder();

// Lists a folder; throws FileError when it cannot be read, or when an entry cannot be looked at
// (a folder that may be listed but not entered). Other kinds of entry (FIFOs, sockets, devices)
// and links that lead nowhere (to nothing, or round in a loop) are left out. Nothing is opened but
// the folder itself, and never a FIFO in its place. Each entry is looked at once, and
// `eachEntry`, when given, is called before it is.
FolderEntries ListFolder(const std::string& path, const std::function<void()>& eachEntry = {});

// A folder held open to create files in, so that each file costs no walk down its path.
class Folder {
public:

    // The folder at `path`, links followed, created first when nothing stands there. Throws
    // FileError when it cannot be made or opened, or when something else stands there.
    static Folder OpenOrCreate(const std::string& path);

    bool IsOpen() const noexcept { return fd_.IsOpen(); }
    const std::string& Path() const noexcept { return fd_.Path(); }
    FileIdentity Identity() const noexcept { return identity_; }
    // True when `path` still leads to this very folder.
    bool StillAt(const std::string& path) const;

private:
    friend class OutputFile;
    Descriptor fd_;
    FileIdentity identity_;
};

// A regular file opened for reading. Reads never wait: a file that says it is regular but would
// block (a pseudo-file of the kernel) fails its read instead.
class InputFile {
public:
    explicit InputFile(const std::string& path);

    // Up to `size` bytes; 0 at the end. Throws FileError.
    std::size_t Read(char* buffer, std::size_t size);
    // True once every byte the file held when it was opened has been read and a read came back
    // short: the end, without asking the system once more.
    bool AtEnd() const noexcept { return atEnd_; }
    void Close();
    FileIdentity Identity() const { return identity_; }

private:
    Descriptor fd_;
    FileIdentity identity_;
    std::uint64_t size_ = 0;
    std::uint64_t read_ = 0;
    bool atEnd_ = false;
};

// A file `name` in `folder` opened for writing, created when missing. Only a regular file with
// no other name is ever written: a link at the name (whatever it leads to), a FIFO, a device, a
// socket, a folder or a file with other hard links is refused before anything is changed. The old
// content stays until Truncate: the caller can first make sure it is not about to overwrite
// something it must not.
class OutputFile {
public:
    OutputFile(const Folder& folder, const std::string& name, std::string path);

    FileIdentity Identity() const { return identity_; }
    // Empties the file.
    void Truncate();
    // Writes every byte or throws FileError.
    void Write(std::string_view bytes);
    // Cuts the file back to its first `size` bytes written.
    void CutBackTo(std::uint64_t size);
    std::uint64_t BytesWritten() const noexcept { return written_; }
    // Closes the file; a failed close (the data did not reach the disk) throws FileError.
    void Close();

private:
    Descriptor fd_;
    bool empty_ = false;
    FileIdentity identity_;
    std::uint64_t written_ = 0;
};

} // namespace fanjian
