// Fuzz target: LineConverter::ConvertLine, one line at a time.
//
// Input: one byte that picks the direction and the dictionary (see PickSetup), then a text. The
// text is split into its lines, and each line goes through ConvertLine of one converter (one for
// each kernel, reading the text as Big5 or GB2312 and again as UTF-8), which must give what the
// reference gives. A line whose lookup fails must throw DictionaryError after
// counting what it replaced before; the converter then goes on with the next line.

#include "FuzzHarness.h"

#include "dictionary/Errors.h"
#include "conversion/LineConverter.h"

using namespace fanjian;
using namespace fanjian::fuzz;

namespace {

std::vector<std::pair<const kernel::Kernel*, TextEncoding>> KernelsAndEncodings()
{
    std::vector<std::pair<const kernel::Kernel*, TextEncoding>> all;
    for (const kernel::Kernel& kernel : kernel::Kernels()) {
        all.emplace_back(&kernel, TextEncoding::CodePage);
        all.emplace_back(&kernel, TextEncoding::Utf8);
    }
    return all;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    Setup setup = PickSetup(data[0]);
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    for (const auto& [kernel, encoding] : KernelsAndEncodings()) {
        setup.encoding = encoding;
        CheckingView view;
        LineConverter converter(setup.direction, *setup.dictionary, view, *kernel);
        converter.UseEncoding(encoding);
        std::uint64_t count = 0;
        bool failed = false;
        std::string joined; // the lines converted, each with CR LF, for the identity check
        for (const SourceLine& line : SplitLines(text)) {
            const std::string_view bytes = text.substr(line.offset, line.length);
            const ReferenceLine expected = ConvertLineReference(bytes, setup);
            const ExactCopy copy(bytes);
            if (expected.stop == Stop::FailingLookup) {
                failed = true;
                bool threw = false;
                try {
                    converter.ConvertLine(copy.View());
                } catch (const DictionaryError&) {
                    threw = true;
                }
                FUZZ_CHECK(threw, "no DictionaryError for line " + Hex(bytes));
            } else {
                const std::string got = converter.ConvertLine(copy.View());
                FUZZ_CHECK(got == expected.output,
                           "line " + Hex(bytes) + " gave " + Hex(got) + ", expected " + Hex(expected.output));
                joined += got;
                joined += "\r\n";
            }
            count += expected.replacements;
            FUZZ_CHECK(converter.ConvertedCount() == count, "count " + std::to_string(converter.ConvertedCount()) +
                                                                " after line " + Hex(bytes) + ", expected " +
                                                                std::to_string(count));
            FUZZ_CHECK(view.Shown() == count, "shown " + std::to_string(view.Shown()) + ", expected " +
                                                  std::to_string(count));
        }
        if (setup.kind == DictionaryKind::Identity && encoding == TextEncoding::CodePage && !failed)
            CheckIdentityOutput(text, ConvertTextReference(text, setup), joined, converter.ConvertedCount());
        view.Finish(converter.ConvertedCount());
    }
    return 0;
}
