#include "Files.h"

#include "system/Descriptor.h"
#include "system/FileError.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace fanjian::data {

std::string ReadFile(const std::filesystem::path& file)
{
    const Descriptor fd = Descriptor::Open("cannot open", file.string(), O_RDONLY);
    std::string bytes;
    char buffer[65536];
    while (const std::size_t got = fd.Read(buffer, sizeof buffer))
        bytes.append(buffer, got);
    return bytes;
}

std::filesystem::path TemporaryPath(const std::filesystem::path& file)
{
    return file.string() + ".tmp-" + std::to_string(::getpid());
}

void Replace(const std::filesystem::path& temporary, const std::filesystem::path& file)
{
    if (std::rename(temporary.c_str(), file.c_str()) != 0) {
        const int error = errno;
        std::remove(temporary.c_str());
        throw FileError("cannot rename " + temporary.string() + " to", file.string(), error);
    }
}

void WriteFileAtomically(const std::filesystem::path& file, std::string_view bytes)
{
    const std::filesystem::path temporary = TemporaryPath(file);
    Descriptor fd = Descriptor::Open("cannot create", temporary.string(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    try {
        fd.WriteAll(bytes);
        if (::fsync(fd.Get()) != 0)
            throw FileError("cannot flush", temporary.string(), errno);
        // A failed close may lose written data.
        fd.Close();
    } catch (...) {
        fd = Descriptor();
        std::remove(temporary.c_str());
        throw;
    }
    Replace(temporary, file);
}

} // namespace fanjian::data
