#pragma once

namespace fanjian {

// What each of the programs does first, before anything else opens a file:
// - each of the standard descriptors 0, 1 and 2 that is closed is opened on /dev/null, so that no
//   file the program opens takes its number (what is meant for standard output or error would
//   land in that file, and a read of standard input would read it);
// - SIGXFSZ is ignored, so that a write past the file size limit (ulimit -f) fails with EFBIG, a
//   failure like a full disk, instead of killing the program in the middle of a character.
// False when a closed descriptor cannot be opened on /dev/null; the program cannot run safely.
bool PrepareProcess() noexcept;

} // namespace fanjian
