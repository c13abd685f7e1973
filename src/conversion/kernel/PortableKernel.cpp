#include "conversion/kernel/BytePath.h"
#include "conversion/kernel/Kernel.h"
#include "conversion/kernel/Utf8Path.h"
#include "conversion/kernel/Utf8Phrases.h"

namespace fanjian::kernel {

// Plain bytes are copied eight at a time; everything else takes the byte path.
Progress ConvertPortable(const Block& given, const unsigned char* in, char* o, LineMarks& marks, Matching& matching)
{
    // A copy of its own, which no store through the output can be taken to change.
    const Block block = given;
    Cursor at = Enter(in, o, marks, matching);
    Stop stop = Stop::Done;
    for (;;) {
        const unsigned char* const from = at.in;
        at.in = CopyPlainWords(at.in, block.end, at.o);
        if (at.in != from)
            at.runStart = at.in;
        if (at.in == block.end || !ByteStep(block, at, marks, stop))
            break;
    }
    return Leave(block, at, marks, matching, stop);
}

// The same for UTF-8 text: sequences take the UTF-8 byte path.
Progress ConvertUtf8Portable(const Block& given, const unsigned char* in, char* o, LineMarks& marks,
                             Matching& matching)
{
    const Block block = given;
    Cursor at = Enter(in, o, marks, matching);
    Stop stop = Stop::Done;
    for (;;) {
        at.in = CopyPlainWords(at.in, block.end, at.o);
        if (at.in == block.end)
            break;
        if (*at.in >= 0x80 ? !Utf8Step(block, at, stop) : !ByteStep(block, at, marks, stop))
            break;
    }
    return LeaveUtf8(block, at, marks, matching, stop);
}

} // namespace fanjian::kernel
