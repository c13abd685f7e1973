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
    // A symbolic link the listing did not follow: it leads to a folder or a regular file, which
    // nothing may be read from through it. `identity` is then the link's own.
    bool link = false;
};

// The names in a folder, in the order the file system gives them.
struct FolderEntries {
    std::vector<FolderEntry> folders; // directories, links to directories included
    std::vector<FolderEntry> files;   // regular files, links to them included
};

// The folder the running program lies in (links to it followed), its bytes as they are: the
// program finds its dictionary there also when a folder on the way is named in Big5 bytes.
// Throws std::system_error when the system does not tell.
std::string ProgramDirectory();

// The current folder, its bytes as they are. Throws std::system_error when it cannot be told.
std::string CurrentFolder();

// A folder held open: what is read from it and made in it is found from it, name by name, with
// no walk down a path that could lead elsewhere meanwhile. A folder the run made takes the mode it
// is to have when it is let go (see OpenOrCreateChild).
class Folder {
public:
    Folder() = default;
    Folder(Folder&& other) noexcept;
    Folder& operator=(Folder&& other) noexcept;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder();

    // The folder at `path`, links on the way followed: the path the user chose. Throws FileError
    // when it cannot be opened or is no folder (a FIFO there is never waited on).
    static Folder Open(const std::string& path);
    // The folder `name` in this one, found through a symbolic link only when `followLinks`.
    Folder OpenChild(const std::string& name, bool followLinks) const;
    // The same, made first when nothing stands there, with the permission bits of `mode` less the
    // umask (as mkdir and cp make folders). While the run writes into a folder it made without
    // room for its owner to write, the owner may; the folder has its mode when it is let go.
    // Throws FileError when it cannot be made or opened, when something else stands there, or
    // when a link stands there and links are not followed (FileProblem::LinkAtPath).
    Folder OpenOrCreateChild(const std::string& name, mode_t mode, bool followLinks) const;

    // Lists the folder; throws FileError when it cannot be read, or when an entry cannot be
    // looked at (a folder that may be listed but not entered). Other kinds of entry (FIFOs,
    // sockets, devices) and links that lead nowhere (to nothing, or round in a loop) are left out.
    // With `followLinks` a link stands for what it leads to; else it is an entry of its own,
    // marked `link`. Nothing is opened but the folder itself. Each entry is looked at once (a link
    // that is not followed twice), and `eachEntry`, when given, is called before it is.
    FolderEntries List(bool followLinks, const std::function<void()>& eachEntry = {}) const;

    bool IsOpen() const noexcept { return fd_.IsOpen(); }
    const std::string& Path() const noexcept { return fd_.Path(); }
    FileIdentity Identity() const noexcept { return identity_; }
    mode_t Mode() const noexcept { return mode_; }
    uid_t Owner() const noexcept { return owner_; }
    // True when `path` still leads to this very folder.
    bool StillAt(const std::string& path) const;

private:
    friend class InputFile;
    friend class OutputFile;
    static Folder Opened(Descriptor fd);
    // Gives the folder the mode it is to have, if the run changed it.
    void Settle() noexcept;

    Descriptor fd_;
    FileIdentity identity_;
    mode_t mode_ = 0;
    uid_t owner_ = 0;
    bool settleMode_ = false; // mode_ is to be set when the folder is let go
};

// A regular file `name` of `folder` opened for reading, found through a symbolic link only when
// `followLinks`. Reads never wait: a file that says it is regular but would block (a pseudo-file of
// the kernel) fails its read instead.
class InputFile {
public:
    InputFile(const Folder& folder, const std::string& name, std::string path, bool followLinks);

    // Up to `size` bytes; 0 at the end. Throws FileError.
    std::size_t Read(char* buffer, std::size_t size);
    // True once every byte the file held when it was opened has been read and a read came back
    // short: the end, without asking the system once more.
    bool AtEnd() const noexcept { return atEnd_; }
    // Reads from the first byte again. Throws FileError.
    void Rewind();
    void Close();
    FileIdentity Identity() const { return identity_; }
    // The permission bits the file had when it was opened.
    mode_t Mode() const noexcept { return mode_; }

private:
    Descriptor fd_;
    FileIdentity identity_;
    mode_t mode_ = 0;
    std::uint64_t size_ = 0;
    std::uint64_t read_ = 0;
    bool atEnd_ = false;
};

// A file `name` in `folder` opened for writing, created when missing. Only a regular file with
// no other name is ever written: a link at the name (whatever it leads to), a FIFO, a device, a
// socket, a folder or a file with other hard links is refused before anything is changed. The old
// content stays until Truncate: the caller can first make sure it is not about to overwrite
// something it must not. A new file gets the permission bits of `mode` less the umask, never
// setuid, setgid or sticky (as cp makes files); a file that was there keeps its mode.
class OutputFile {
public:
    OutputFile(const Folder& folder, const std::string& name, std::string path, mode_t mode);

    FileIdentity Identity() const { return identity_; }
    // Empties the file.
    void Truncate();
    // Writes every byte or throws FileError.
    void Write(std::string_view bytes);
    // Cuts the file back to its first `size` bytes written.
    void CutBackTo(std::uint64_t size);
    std::uint64_t BytesWritten() const noexcept { return written_; }
    const std::string& Path() const noexcept { return fd_.Path(); }
    // Closes the file; a failed close (the data did not reach the disk) throws FileError.
    void Close();

private:
    Descriptor fd_;
    bool empty_ = false;
    FileIdentity identity_;
    std::uint64_t written_ = 0;
};

} // namespace fanjian
