#include "FaultMatrix.h"

#include <sys/socket.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

using namespace fanjian::testing;

namespace {

// Special files with selected names: never opened, never waited on.

void BindSocket(const fs::path& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string p = path.string();
    if (fd < 0 || p.size() >= sizeof address.sun_path)
        throw std::runtime_error("cannot make a socket at " + p);
    std::memcpy(address.sun_path, p.c_str(), p.size() + 1);
    const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::close(fd);
    if (bound != 0)
        throw std::runtime_error("cannot bind " + p);
}

void OnlyTheRealFile(Site& s, const ChildRun& r)
{
    EXPECT_EQ(r.Texts("AddSourceListItem"), (std::vector<std::string>{s.InItem("real.htm")}));
    EXPECT_EQ(ReadFile(s.Out() / "real.htm"), kGbText + "\r\n");
}

const std::vector<FaultCase> kSpecialFileCases = {
    FaultCase("FifosNamedLikePages")
        .Setup([](Site& s) {
            s.Fifo(s.F / "p.txt", true);
            s.Folder("s");
            s.Fifo(s.F / "s" / "q.htm", true);
            s.File("real.htm", kBig5Text);
        })
        .Check(OnlyTheRealFile),
    FaultCase("SocketNamedTxt")
        .Setup([](Site& s) {
            BindSocket(s.F / "sock.txt");
            s.File("real.htm", kBig5Text);
        })
        .Check(OnlyTheRealFile),
    FaultCase("DeviceNamedTxt")
        .Setup([](Site& s) {
            if (::mknod((s.F / "zero.txt").c_str(), S_IFCHR | 0666, makedev(1, 5)) != 0)
                GTEST_SKIP() << "mknod: " << std::strerror(errno) << " (it needs root)";
            s.File("real.htm", kBig5Text);
        })
        .Check(OnlyTheRealFile),
    FaultCase("LinksToDevicesNamedLikePages")
        .Setup([](Site& s) {
            s.Link("/dev/zero", "zero.txt");
            s.Folder("s");
            s.Link("/dev/urandom", "s/random.js");
            s.File("real.htm", kBig5Text);
        })
        .Check(OnlyTheRealFile),
};

INSTANTIATE_TEST_SUITE_P(SpecialFiles, FaultMatrix, ::testing::ValuesIn(kSpecialFileCases), CaseName);

} // namespace
