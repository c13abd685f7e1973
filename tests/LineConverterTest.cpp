#include "conversion/LineConverter.h"

#include "RecordingView.h"
#include "TestSupport.h"
#include "conversion/CodePages.h"
#include "conversion/kernel/Kernel.h"
#include "dictionary/CharacterDictionary.h"

#include <gtest/gtest.h>

using fanjian::CharacterDictionary;
using fanjian::ConversionDirection;
using fanjian::DictionaryError;
using fanjian::LineConverter;
using namespace fanjian::testing;

namespace {

constexpr auto kToGb = ConversionDirection::TraditionalToSimplified;
constexpr auto kToBig5 = ConversionDirection::SimplifiedToTraditional;

// Every case runs through each kernel this processor has.
class LineConverterTest : public ::testing::TestWithParam<fanjian::kernel::Kernel> {
protected:
    const fanjian::kernel::Kernel& Kernel() const { return GetParam(); }

    void SetUp() override
    {
        // 國 B0EA <-> 国 B9FA, 中 A4A4 <-> 中 D6D0, the Big5 pair A4 63 (勺) <-> GB B0A1 (啊), and
        // in UTF-8 three bytes for two (— A158 <-> — A1AA, after ‧ A145 <-> · A1A4) and two for
        // two (Α A344 <-> A6A1).
        // The row for C0C0 (擬) has no gb value, so looking it up fails; that for A440 (一) answers
        // A17F, which is no GBK character and cannot be written in UTF-8.
        WriteDatabase(dir_.path() / "mervik.pcx",
                      "CREATE TABLE MERVIK (big5 INTEGER, gb INTEGER);"
                      "INSERT INTO MERVIK VALUES (45290, 47610);"
                      "INSERT INTO MERVIK VALUES (42148, 54992);"
                      "INSERT INTO MERVIK VALUES (42083, 45217);"
                      "INSERT INTO MERVIK VALUES (49344, NULL);"
                      "INSERT INTO MERVIK VALUES (41285, 41380);"
                      "INSERT INTO MERVIK VALUES (41304, 41386);"
                      "INSERT INTO MERVIK VALUES (41796, 42657);"
                      "INSERT INTO MERVIK VALUES (42048, 41343);"
                      // Answers whose bytes hold a line break: written out, they would split the
                      // line in two.
                      "INSERT INTO MERVIK VALUES (41009, 3338);"   // 0D 0A
                      "INSERT INTO MERVIK VALUES (41010, 45066);"  // B0 0A
                      "INSERT INTO MERVIK VALUES (41011, 3504);");  // 0D B0
        dictionary_.Open(dir_.str());
    }

    std::string Convert(ConversionDirection direction, std::string_view line)
    {
        LineConverter converter(direction, dictionary_, view_, Kernel());
        return converter.ConvertLine(line);
    }

    std::string ConvertUtf8(ConversionDirection direction, std::string_view text, std::uint64_t* count = nullptr)
    {
        LineConverter converter(direction, dictionary_, view_, Kernel());
        converter.UseEncoding(fanjian::TextEncoding::Utf8);
        std::string out;
        converter.ConvertLines(text, true, out);
        if (count)
            *count = converter.ConvertedCount();
        return out;
    }

    TempDir dir_;
    CharacterDictionary dictionary_;
    RecordingView view_;
};

TEST_P(LineConverterTest, ReplacesHeldCharactersAndShowsEachReplacement)
{
    LineConverter converter(kToGb, dictionary_, view_, Kernel());
    EXPECT_EQ(converter.ConvertLine(Bytes("B0EA 61")), Bytes("B9FA 61"));
    EXPECT_EQ(converter.ConvertedCount(), 1u);
    EXPECT_EQ(view_.calls, (std::vector<std::string>{"ShowCharacterCount 第 1 字", "ProcessPendingEvents"}));

    // The same character twice is looked up and counted twice; the count runs on across lines.
    EXPECT_EQ(converter.ConvertLine(Bytes("B0EA B0EA")), Bytes("B9FA B9FA"));
    EXPECT_EQ(view_.Texts("ShowCharacterCount"), (std::vector<std::string>{"第 1 字", "第 2 字", "第 3 字"}));

    LineConverter back(kToBig5, dictionary_, view_, Kernel());
    EXPECT_EQ(back.ConvertLine(Bytes("B9FA D6D0")), Bytes("B0EA A4A4"));
    EXPECT_EQ(back.ConvertedCount(), 2u);
}

TEST_P(LineConverterTest, CopiesWhatItDoesNotReplaceWithoutShowingAnything)
{
    LineConverter converter(kToGb, dictionary_, view_, Kernel());
    EXPECT_EQ(converter.ConvertLine(""), "");
    EXPECT_EQ(converter.ConvertLine("plain <b>text</b> 123"), "plain <b>text</b> 123");
    // A double-byte character without a row, bytes 0x80 and 0xFF (no lead bytes), and a lead
    // byte that ends the line.
    EXPECT_EQ(converter.ConvertLine(Bytes("A4A5 80 FF 61 B0")), Bytes("A4A5 80 FF 61 B0"));
    // In the other direction a Big5-only row is not found by its big5 value.
    LineConverter back(kToBig5, dictionary_, view_, Kernel());
    EXPECT_EQ(back.ConvertLine(Bytes("B0EA")), Bytes("B0EA"));
    EXPECT_EQ(converter.ConvertedCount() + back.ConvertedCount(), 0u);
    EXPECT_TRUE(view_.calls.empty());
}

TEST_P(LineConverterTest, ConvertsRunsOfCharactersWhereverTheyStart)
{
    // The converter takes up to 64 bytes a step, 16 at a time: a run of characters that starts
    // at each of 34 places, and ends at as many, whatever it holds, converts the same.
    const std::string run = Bytes("B0EA A4A4 A4A5 B0EA") + Bytes("A463") + "harset=big5 " + Bytes("B0EA A4A4 A4A5 B0EA");
    const std::string converted =
        Bytes("B9FA D6D0 A4A5 B9FA") + Bytes("B0A1") + "harset=big5 " + Bytes("B9FA D6D0 A4A5 B9FA");
    for (std::size_t before = 0; before < 34; ++before) {
        std::string line(before, 'x');
        std::string expected = line;
        for (int i = 0; i < 4; ++i) {
            line += run;
            expected += converted;
        }
        line += "charset=big5";
        expected += "charset=gb2312";
        // Nothing but characters for over 64 bytes: a lead byte falls on the last of them.
        std::string plain(before, 'x');
        std::string plainExpected = plain;
        for (int i = 0; i < 20; ++i) {
            plain += Bytes("B0EA A4A4");
            plainExpected += Bytes("B9FA D6D0");
        }
        RecordingView view;
        LineConverter converter(kToGb, dictionary_, view, Kernel());
        EXPECT_EQ(converter.ConvertLine(line), expected) << before;
        EXPECT_EQ(converter.ConvertLine(plain + "y"), plainExpected + "y") << before;
        EXPECT_EQ(converter.ConvertedCount(), 68u) << before;
        EXPECT_EQ(view.Texts("ShowCharacterCount").size(), 68u) << before;
    }
}

TEST_P(LineConverterTest, CountTextCarriesIntoNewDigits)
{
    LineConverter converter(kToGb, dictionary_, view_, Kernel());
    std::string line;
    for (int i = 0; i < 1001; ++i)
        line += Bytes("B0EA");
    converter.ConvertLine(line);
    const auto texts = view_.Texts("ShowCharacterCount");
    ASSERT_EQ(texts.size(), 1001u);
    EXPECT_EQ(texts[8], "第 9 字");
    EXPECT_EQ(texts[9], "第 10 字");
    EXPECT_EQ(texts[99], "第 100 字");
    EXPECT_EQ(texts[999], "第 1000 字");
    EXPECT_EQ(texts[1000], "第 1001 字");

    // A view that does without some pairs sees the count jump over them, carries and new digits
    // included, and always gets the last replacement of a call.
    class SkippingView : public RecordingView {
    public:
        bool SkipsQuietCounts() const override { return true; }
        std::uint64_t TakeQuietCounts(std::uint64_t available) override
        {
            const std::uint64_t quiet = std::min<std::uint64_t>(available, skips[next++ % std::size(skips)]);
            taken += quiet;
            return quiet;
        }
        std::uint64_t skips[4] = {8, 0, 89, 905};
        std::size_t next = 0;
        std::uint64_t taken = 0;
    } skipping;
    LineConverter quiet(kToGb, dictionary_, skipping, Kernel());
    quiet.ConvertLine(line);
    quiet.ConvertLine(Bytes("B0EA B0EA"));
    std::vector<std::string> expected;
    std::uint64_t count = 0;
    for (std::size_t i = 0; count < 1001; ++i) {
        count = std::min<std::uint64_t>(count + skipping.skips[i % 4], 1000) + 1;
        expected.push_back("第 " + std::to_string(count) + " 字");
    }
    expected.push_back("第 1003 字"); // one of two to spare: 1002 goes by quietly
    EXPECT_EQ(skipping.Texts("ShowCharacterCount"), expected);
    EXPECT_EQ(skipping.Texts("ShowCharacterCount").size() + skipping.taken, 1003u);
    EXPECT_EQ(quiet.ConvertedCount(), 1003u);
}

TEST_P(LineConverterTest, AFailingLookupEndsTheLineAndKeepsTheCount)
{
    LineConverter converter(kToGb, dictionary_, view_, Kernel());
    EXPECT_THROW(converter.ConvertLine(Bytes("B0EA A4A4 C0C0 B0EA")), DictionaryError);
    EXPECT_EQ(converter.ConvertedCount(), 2u);
    // The dictionary hands out whatever number a row holds; the converter refuses the ones it
    // cannot write inside a line.
    for (const char* line : {"A031", "A032", "A033"}) {
        EXPECT_THROW(
            try { converter.ConvertLine(Bytes(line)); } catch (const DictionaryError& error) {
                EXPECT_NE(std::string(error.what()).find("line break"), std::string::npos) << error.what();
                throw;
            },
            DictionaryError)
            << line;
    }
    EXPECT_EQ(converter.ConvertedCount(), 2u);
    // In UTF-8, an answer that is no character of the other code page fails where it comes, and
    // only there.
    LineConverter utf8(kToGb, dictionary_, view_, Kernel());
    utf8.UseEncoding(fanjian::TextEncoding::Utf8);
    EXPECT_EQ(utf8.ConvertLine("國中"), "国中");
    EXPECT_THROW(
        try { utf8.ConvertLine("中國一國"); } catch (const DictionaryError& error) {
            EXPECT_NE(std::string(error.what()).find("UTF-8"), std::string::npos) << error.what();
            throw;
        },
        DictionaryError);
    EXPECT_EQ(utf8.ConvertedCount(), 4u);
    // The same after a block long enough for two threads, before which the answers are filled at
    // once: those rows still fail where their characters come.
    std::string longText;
    while (longText.size() < 2 * LineConverter::kSplitSize)
        longText += Bytes("B0EA A4A4") + "\n";
    for (const char* bad : {"C0C0", "A031"}) {
        fanjian::SilentProgressView silent;
        LineConverter filled(kToGb, dictionary_, silent, Kernel());
        filled.UseSecondThread(true);
        std::string out;
        EXPECT_THROW(filled.ConvertLines(longText + Bytes(bad) + "\n", true, out), DictionaryError) << bad;
        EXPECT_EQ(filled.ConvertedCount(), longText.size() / 5 * 2) << bad;
    }
}

TEST_P(LineConverterTest, AViewThatThrowsEndsTheLineOfTheReplacementItThrewAt)
{
    // Five lines of three replacements each, in one block: the replacements are shown once the
    // block is converted, and a view that throws at any of them still stops the conversion in the
    // line of that replacement, with the lines before it whole.
    const std::string line = "abc " + Bytes("B0EA 61 A4A4 A4A5 B0EA") + " defghijklmnopqrstuvwxyz";
    const std::string lineOut = "abc " + Bytes("B9FA 61 D6D0 A4A5 B9FA") + " defghijklmnopqrstuvwxyz\r\n";
    std::string text;
    for (int i = 0; i < 5; ++i)
        text += line + "\n";
    struct Abandoned {};
    for (std::size_t at = 1; at <= 15; ++at) {
        RecordingView view;
        std::size_t events = 0;
        view.onCall = [&](std::string_view operation, std::string_view) {
            if (operation == "ProcessPendingEvents" && ++events == at)
                throw Abandoned{};
        };
        LineConverter converter(kToGb, dictionary_, view, Kernel());
        std::string out = "before";
        EXPECT_THROW(converter.ConvertLines(text, true, out), Abandoned) << at;
        EXPECT_EQ(converter.ConvertedCount(), at);
        const std::size_t finished = (at - 1) / 3;
        ASSERT_EQ(converter.LineStart(), 6 + finished * lineOut.size()) << at;
        std::string lines;
        for (std::size_t i = 0; i < finished; ++i)
            lines += lineOut;
        EXPECT_EQ(out.substr(0, converter.LineStart()), "before" + lines) << at;
        // The line is over: the next call starts a new one.
        view.onCall = nullptr;
        out.clear();
        converter.ConvertLines("z", true, out);
        EXPECT_EQ(out, "z\r\n");
    }

    // A failing lookup after some lines of the same block: every replacement before it is shown.
    RecordingView view;
    LineConverter converter(kToGb, dictionary_, view, Kernel());
    std::string out;
    EXPECT_THROW(converter.ConvertLines(text + line + Bytes("C0C0") + "\n" + text, true, out), DictionaryError);
    EXPECT_EQ(converter.ConvertedCount(), 18u);
    EXPECT_EQ(view.Texts("ShowCharacterCount").size(), 18u);
    EXPECT_EQ(converter.LineStart(), 5 * lineOut.size());

    // A block long enough to be cut in two, on two threads: converted once so that every answer
    // is known, then again with a view that throws in the first part, in the second and at the
    // last replacement, and with a failing lookup in the second part. The lines with marks far
    // outnumber those the converter keeps at a time.
    std::string longText;
    while (longText.size() < 2 * LineConverter::kSplitSize)
        longText += line + "\n";
    const std::size_t lines = longText.size() / (line.size() + 1);
    for (const std::size_t at : {std::size_t{2}, lines * 3 / 2 + 3, lines * 2 + 1, lines * 3, std::size_t{0}}) {
        RecordingView longView;
        longView.countsOnly = true;
        std::size_t events = 0;
        bool armed = false;
        longView.onCall = [&](std::string_view operation, std::string_view) {
            if (armed && operation == "ProcessPendingEvents" && ++events == at)
                throw Abandoned{};
        };
        LineConverter longConverter(kToGb, dictionary_, longView, Kernel());
        longConverter.UseSecondThread(true);
        std::string longOut;
        longConverter.ConvertLines(longText, true, longOut);
        armed = true;
        longOut.clear();
        if (at != 0) {
            EXPECT_THROW(longConverter.ConvertLines(longText, true, longOut), Abandoned) << at;
            EXPECT_EQ(longConverter.ConvertedCount(), lines * 3 + at);
            EXPECT_EQ(longConverter.LineStart(), (at - 1) / 3 * lineOut.size()) << at;
            continue;
        }
        std::string failing = longText;
        failing.insert(lines * 3 / 4 * (line.size() + 1), Bytes("C0C0") + "\n");
        EXPECT_THROW(longConverter.ConvertLines(failing, true, longOut), DictionaryError);
        EXPECT_EQ(longConverter.ConvertedCount(), lines * 3 + lines * 3 / 4 * 3);
        EXPECT_EQ(longConverter.LineStart(), lines * 3 / 4 * lineOut.size());
    }
}

TEST_P(LineConverterTest, RetargetsDeclarationsToSimplified)
{
    const std::pair<std::string, std::string> cases[] = {
        {R"(<meta http-equiv="Content-Type" content="text/html; charset=big5">)",
         R"(<meta http-equiv="Content-Type" content="text/html; charset=gb2312">)"},
        {"charset=big5-hkscs", "charset=gb2312-hkscs"},
        // Any letter case, and a quote before the value; the text keeps its own spelling.
        {"Charset=BIG5", "Charset=gb2312"},
        {R"(<meta charset="Big5">)", R"(<meta charset="gb2312">)"},
        {"<meta charset='big5'>", "<meta charset='gb2312'>"},
        {R"(<meta name="language" CONTENT="ZH-TW">)", R"(<meta name="language" content="zh-cn">)"},
        // Two declarations in one line.
        {R"(charset=big5 content="zh-tw charset=big5)", R"(charset=gb2312 content="zh-cn charset=gb2312)"},
        // Left alone: spaced, other quotes, the target already, and other labels.
        {"charset = big5", "charset = big5"},
        {"content='zh-tw'", "content='zh-tw'"},
        {"charset=gb2312", "charset=gb2312"},
        {"charset=\"\"big5", "charset=\"\"big5"},
        {"charset=utf-8", "charset=utf-8"},
        {"charset=big", "charset=big"},
        // Matched anywhere in the text, not only as a word of its own.
        {"chcharset=big5", "chcharset=gb2312"},
    };
    for (const auto& [line, expected] : cases)
        EXPECT_EQ(Convert(kToGb, line), expected) << line;
}

TEST_P(LineConverterTest, RetargetsDeclarationsToTraditionalAndBack)
{
    EXPECT_EQ(Convert(kToBig5, R"(charset=gb2312" content="zh-cn")"), R"(charset=big5" content="zh-tw")");
    EXPECT_EQ(Convert(kToBig5, "CHARSET=GB2312"), "CHARSET=big5");
    EXPECT_EQ(Convert(kToBig5, "charset=big5"), "charset=big5");
    const std::string page = R"(<meta http-equiv="Content-Type" content="text/html; charset=big5">)"
                             R"(<meta http-equiv="Content-Language" content="zh-tw">)";
    EXPECT_EQ(Convert(kToBig5, Convert(kToGb, page)), page);
}

TEST_P(LineConverterTest, DeclarationsStartOnlyWhereACharacterStarts)
{
    // A4 63 is one character whose trail byte is 'c'.
    EXPECT_EQ(Convert(kToGb, Bytes("A5 63") + "harset=big5"), Bytes("A5 63") + "harset=big5");
    // Replaced, it is still one character.
    EXPECT_EQ(Convert(kToGb, Bytes("A4 63") + "harset=big5"), Bytes("B0 A1") + "harset=big5");
    // A character before the declaration does not hide it.
    EXPECT_EQ(Convert(kToGb, Bytes("A4A4") + "charset=big5"), Bytes("D6D0") + "charset=gb2312");
    // Trail bytes that look like ASCII letters around a declaration.
    EXPECT_EQ(Convert(kToGb, Bytes("A1 43") + "content=\"zh-tw"), Bytes("A1 43") + "content=\"zh-cn");
}

TEST_P(LineConverterTest, ConvertsUtf8TextInUtf8)
{
    // Each case alone, and all of them again in one long text, where the kernels take 64 bytes a
    // step: every case at many places of those steps.
    const struct {
        std::string in;
        std::string out;
        std::uint64_t count;
    } cases[] = {
        {"國中a", "国中a", 2},
        {"勺‧Α—", "啊·Α—", 4},
        // No row, a character no code page here holds, four bytes, and the byte order mark.
        {"丰é𠀀\xEF\xBB\xBF", "丰é𠀀\xEF\xBB\xBF", 0},
        // Bytes that are no character pass as they are: a lone continuation byte, overlong forms
        // (of · too), a surrogate, bytes no sequence starts with, a sequence cut short.
        {"\x80\xC0\xB7\xE0\x82\xB7\xED\xA0\x80\xF5\xFF\xE5\x9C國", "\x80\xC0\xB7\xE0\x82\xB7\xED\xA0\x80\xF5\xFF\xE5\x9C国", 1},
        // A page that says charset=utf-8 keeps it; the language is retargeted.
        {R"(<meta charset="utf-8" content="zh-tw">)", R"(<meta charset="utf-8" content="zh-cn">)", 0},
    };
    std::string all;
    std::string allOut;
    std::uint64_t allCount = 0;
    for (const auto& c : cases) {
        std::uint64_t count = 0;
        EXPECT_EQ(ConvertUtf8(kToGb, c.in + "\n", &count), c.out + "\r\n") << c.in;
        EXPECT_EQ(count, c.count) << c.in;
        for (int i = 0; i < 7; ++i) {
            all += std::string(static_cast<std::size_t>(i), 'x') + c.in + (i % 2 ? "\r" : "");
            allOut += std::string(static_cast<std::size_t>(i), 'x') + c.out + (i % 2 ? "\r\n" : "");
            allCount += c.count;
        }
    }
    std::uint64_t count = 0;
    EXPECT_EQ(ConvertUtf8(kToGb, all, &count), allOut + "\r\n");
    EXPECT_EQ(count, allCount);
    // Back, with an overlong form of · among them.
    const std::string back = std::string(70, 'x') + "国中啊·Α—丰\xE0\x82\xB7";
    const std::string backOut = std::string(70, 'x') + "國中勺‧Α—丰\xE0\x82\xB7";
    EXPECT_EQ(ConvertUtf8(kToBig5, back + back, &count), backOut + backOut + "\r\n");
    EXPECT_EQ(count, 12u);

    // A row that names no character fails the line, as in Big5 text, after the replacements before.
    RecordingView view;
    LineConverter converter(kToGb, dictionary_, view, Kernel());
    converter.UseEncoding(fanjian::TextEncoding::Utf8);
    std::string out;
    EXPECT_THROW(converter.ConvertLines(std::string(200, 'x') + "國中擬", true, out), DictionaryError);
    EXPECT_EQ(converter.ConvertedCount(), 2u);
    EXPECT_EQ(view.Texts("ShowCharacterCount").size(), 2u);
}

TEST(CodePageTest, ReadsAndWritesAsTheSystemsConvertersDo)
{
    const fanjian::CodePage& big5 = fanjian::CodePage::Big5();
    EXPECT_EQ(big5.Character(0xA4A4), u'中');
    EXPECT_EQ(big5.Code(u'中'), 0xA4A4);
    EXPECT_EQ(big5.Character(0xA4FF), 0); // no trail byte
    EXPECT_EQ(big5.Code(u'国'), 0);
    const fanjian::CodePage& gb = fanjian::CodePage::Gb();
    EXPECT_EQ(gb.Character(0xB9FA), u'国');
    // GB2312's middle dot and dash read as GBK and browsers read them, and a character only GBK
    // holds.
    EXPECT_EQ(gb.Character(0xA1A4), u'·');
    EXPECT_EQ(gb.Code(u'·'), 0xA1A4);
    EXPECT_EQ(gb.Code(u'—'), 0xA1AA);
    EXPECT_EQ(gb.Code(u'・'), 0);
    EXPECT_EQ(gb.Character(0x8140), u'丂');
    EXPECT_EQ(gb.Code(u'丂'), 0x8140);
}

// Converts `text` handed over in blocks that end at `splits`, each block starting with the tail
// the converter did not take from the one before, as a run reads a file.
std::string ConvertInBlocks(LineConverter& converter, std::string_view text, const std::vector<std::size_t>& splits)
{
    std::string out;
    std::string pending;
    std::size_t from = 0;
    for (std::size_t i = 0; i <= splits.size(); ++i) {
        const std::size_t to = i < splits.size() ? splits[i] : text.size();
        pending += text.substr(from, to - from);
        from = to;
        const std::size_t taken = converter.ConvertLines(pending, false, out);
        EXPECT_LE(pending.size() - taken, LineConverter::kMaxTail);
        pending.erase(0, taken);
    }
    converter.ConvertLines(pending, true, out);
    return out;
}

TEST_P(LineConverterTest, ConvertsLinesWithEveryTerminatorIntoCrLf)
{
    LineConverter converter(kToGb, dictionary_, view_, Kernel());
    std::string out;
    EXPECT_EQ(converter.ConvertLines("a\r\nb\rc\n\nd", true, out), 9u);
    EXPECT_EQ(out, "a\r\nb\r\nc\r\n\r\nd\r\n");
    out.clear();
    converter.ConvertLines("", true, out);
    EXPECT_EQ(out, "");
    // A lead byte before a terminator stands alone; the terminator is no trail byte.
    converter.ConvertLines(Bytes("B0 0D 0A A4 0A"), true, out);
    EXPECT_EQ(out, Bytes("B0 0D 0A A4 0D 0A"));
    out.clear();
    // A declaration does not run across a line end.
    converter.ConvertLines("charset=\nbig5", true, out);
    EXPECT_EQ(out, "charset=\r\nbig5\r\n");
}

TEST_P(LineConverterTest, ShortLinesInALongTextConvertAsEachAlone)
{
    // Long texts are taken 64 bytes at a time, the lines in them one after another; a line of its
    // own is taken byte by byte. Lines of every length up to 70 put each terminator on every place
    // of those 64 bytes (a CR LF across their end too), with characters, a character without a
    // row, 0x80, a lead byte before the terminator, declarations and words that start like one
    // among them.
    const std::string pieces[] = {Bytes("B0EA A4A4"), "ab", Bytes("A5A5"), Bytes("80"), "<meta charset=big5>",
                                  Bytes("A463"), "x", Bytes("B0"), "chosen code", "CONTENT=\"zh-TW\""};
    const std::string terminators[] = {"\n", "\r\n", "\r"};
    for (std::size_t before = 0; before < 64; before += 7) {
        std::string text;
        std::string expected;
        std::size_t piece = 0;
        for (std::size_t length = 0; length <= 70; ++length) {
            std::string line(length == 0 ? before : 0, 'x');
            while (line.size() < length)
                line += pieces[piece++ % std::size(pieces)];
            text += line + terminators[length % 3];
            expected += Convert(kToGb, line) + "\r\n";
        }
        RecordingView view;
        LineConverter converter(kToGb, dictionary_, view, Kernel());
        std::string out;
        EXPECT_EQ(converter.ConvertLines(text, true, out), text.size());
        EXPECT_EQ(out, expected) << before;
        EXPECT_EQ(view.Texts("ShowCharacterCount").size(), converter.ConvertedCount());
    }
}

TEST_P(LineConverterTest, BlocksOfAnySplitGiveWhatTheWholeTextGives)
{
    // The long line runs past the 64 bytes the converter looks at in one step, with double-byte
    // runs of both lengths across 16-byte steps, a trail byte 'c' before "harset", 0x80 and 0xFF,
    // a character without a row, a declaration across a step and a lead byte before the LF.
    const std::string longLine = "<p class=\"x\">" + Bytes("B0EA A4A4 A4A5 B0EA A463") + "harset=big5 " +
                                 Bytes("80 A4A4 B0EA B0EA FF") + "0123456789 <meta charset=big5>" +
                                 Bytes("A4A4 A1 43 B0EA A4A4 A4A4 B0") + "\n";
    const std::string text = Bytes("B0EA") + "a charset=big5 " + Bytes("A463") + "harset=big5\r\n" + Bytes("A4A4") +
                             "CONTENT=\"zh-TW charset='big5' x" + Bytes("B0EA A5") + "\rcharset=\"BIG5\"" +
                             Bytes("A4 0D 0A") + "\n" + longLine + longLine.substr(5) + Bytes("B0") + "charset=big5";
    // The same in UTF-8, with characters of two, three and four bytes, and sequences cut short.
    const std::string utf8Line = "<p class=\"x\">國中丰国中啊·charset=big5 \x80中國國\xFF" "0123456789 <meta content=\"zh-TW\">"
                                 "中\xE5\x9C國中中𠀀\xE5\n";
    const std::string utf8Text = "國a content=\"zh-tw 勺\r\n中\xE5\x9C\r國\xC2\n" + utf8Line + utf8Line.substr(5) + "国";
    for (const auto& [encoding, input] : {std::pair{fanjian::TextEncoding::CodePage, text},
                                          std::pair{fanjian::TextEncoding::Utf8, utf8Text}}) {
        for (const auto direction : {kToGb, kToBig5}) {
            RecordingView wholeView;
            LineConverter whole(direction, dictionary_, wholeView, Kernel());
            whole.UseEncoding(encoding);
            std::string expected;
            whole.ConvertLines(input, true, expected);

            // Every split into two blocks, and many into three.
            for (std::size_t a = 0; a <= input.size(); ++a) {
                for (std::size_t b = a; b <= input.size(); b += (a % 3 == 0 ? 1 : input.size())) {
                    RecordingView view;
                    LineConverter converter(direction, dictionary_, view, Kernel());
                    converter.UseEncoding(encoding);
                    ASSERT_EQ(ConvertInBlocks(converter, input, {a, b}), expected) << "split at " << a << " and " << b;
                    ASSERT_EQ(view.calls, wholeView.calls);
                }
            }
            // One byte at a time.
            std::vector<std::size_t> everyByte;
            for (std::size_t i = 1; i < input.size(); ++i)
                everyByte.push_back(i);
            LineConverter converter(direction, dictionary_, wholeView, Kernel());
            converter.UseEncoding(encoding);
            EXPECT_EQ(ConvertInBlocks(converter, input, everyByte), expected);
        }
    }
}

TEST_P(LineConverterTest, TakesTheLongestPhraseAtEachPlace)
{
    // Simplified -> Traditional phrases over the rows above (国 -> 國, 中 -> 中, 啊 -> 勺, 之 -> 之;
    // 丰 has no row): 之中 -> 之勺, 中之之之之之 -> 勺之之之之之, 国中 -> 國勺, the longer 国中国 ->
    // 勺中國, 中啊 -> 中中, 丰国 -> 中國, and 啊国 -> 勺國, which writes what the rows write but stops
    // 国中 from matching inside it.
    TempDir dir;
    const std::string rows = "CREATE TABLE MERVIK (big5 INTEGER, gb INTEGER);"
                             "INSERT INTO MERVIK VALUES (45290, 47610);"
                             "INSERT INTO MERVIK VALUES (42148, 54992);"
                             "INSERT INTO MERVIK VALUES (42083, 45217);"
                             "INSERT INTO MERVIK VALUES (42151, 54958);"
                             "CREATE TABLE PHRASES (length INTEGER, direction INTEGER, big5 BLOB, gb BLOB);"
                             "INSERT INTO PHRASES VALUES (2, 2, X'A4A7A463', X'D6AED6D0');"
                             "INSERT INTO PHRASES VALUES (6, 2, X'A463A4A7A4A7A4A7A4A7A4A7', X'D6D0D6AED6AED6AED6AED6AE');"
                             "INSERT INTO PHRASES VALUES (2, 2, X'B0EAA463', X'B9FAD6D0');"
                             "INSERT INTO PHRASES VALUES (3, 2, X'A463A4A4B0EA', X'B9FAD6D0B9FA');"
                             "INSERT INTO PHRASES VALUES (2, 2, X'A4A4A4A4', X'D6D0B0A1');"
                             "INSERT INTO PHRASES VALUES (2, 2, X'A4A4B0EA', X'B7E1B9FA');"
                             "INSERT INTO PHRASES VALUES (2, 2, X'A463B0EA', X'B0A1B9FA');";
    WriteDatabase(dir.path() / "mervik.pcx", rows);
    CharacterDictionary dictionary;
    dictionary.Open(dir.str());
    const struct {
        std::string in;
        std::string out;
        std::uint64_t count;
        std::string utf8In; // the same in UTF-8
        std::string utf8Out;
    } cases[] = {
        {"B9FA D6D0", "B0EA A463", 2, "国中", "國勺"},                       // at the line's start and end
        {"B9FA D6D0 B9FA", "A463 A4A4 B0EA", 3, "国中国", "勺中國"},             // the longest of two
        {"B9FA D6D0 B9FA D6D0", "A463 A4A4 B0EA A4A4", 4, "国中国中", "勺中國中"}, // ... and what follows alone
        {"D6D0 B9FA D6D0", "A4A4 B0EA A463", 3, "中国中", "中國勺"},
        {"B0A1 B9FA D6D0", "A463 B0EA A4A4", 3, "啊国中", "勺國中"},             // stopped by the blocker
        {"B7E1 B9FA", "A4A4 B0EA", 2, "丰国", "中國"},                           // a character without a row
        {"B9FA 0A D6D0", "B0EA 0D0A A4A4", 2, "国\n中", "國\r\n中"},             // cut by a line end
        {"B9FA 61 D6D0", "B0EA 61 A4A4", 2, "国a中", "國a中"},                    // ... or a byte of its own
        {"D6D0 D6AE D6AE D6AE D6AE D6AE", "A463 A4A7 A4A7 A4A7 A4A7 A4A7", 6, "中之之之之之", "勺之之之之之"}, // long
    };
    const std::string declaration = "charset=gb2312";
    std::string all;
    std::string allOut;
    std::string allUtf8;
    std::string allUtf8Out;
    std::uint64_t allCount = 0;
    for (const auto& c : cases) {
        RecordingView view;
        LineConverter converter(kToBig5, dictionary, view, Kernel());
        EXPECT_EQ(converter.ConvertLine(Bytes(c.in)), Bytes(c.out)) << c.in;
        EXPECT_EQ(converter.ConvertedCount(), c.count) << c.in;
        EXPECT_EQ(view.Texts("ShowCharacterCount").size(), c.count) << c.in;
        // Beside a declaration, and at many places of the kernels' 64-byte steps.
        for (std::size_t before = 0; before < 9; ++before) {
            all += std::string(before * 7, 'x') + Bytes(c.in) + declaration + "\n";
            allOut += std::string(before * 7, 'x') + Bytes(c.out) + "charset=big5\r\n";
            allUtf8 += std::string(before * 7, 'x') + c.utf8In + declaration + "\n";
            allUtf8Out += std::string(before * 7, 'x') + c.utf8Out + "charset=big5\r\n";
            allCount += c.count;
        }
    }
    // A phrase at the end of a long run of characters, at every place of the 64 bytes the
    // kernels take at a time: 之中 -> 之勺, whose first character no phrase changes, on both
    // sides of their edge too.
    for (std::size_t before = 0; before < 64; ++before) {
        const std::size_t length = 40 + before % 3;
        std::string run;
        std::string runOut;
        std::string utf8Run;
        for (std::size_t i = 0; i < length; ++i) {
            run += Bytes("D6AE");
            runOut += Bytes("A4A7");
            utf8Run += "之";
        }
        all += std::string(before, 'x') + run + Bytes("D6D0") + "\n";
        allOut += std::string(before, 'x') + runOut + Bytes("A463") + "\r\n";
        allUtf8 += std::string(before, 'x') + utf8Run + "中\n";
        allUtf8Out += std::string(before, 'x') + utf8Run + "勺\r\n";
        allCount += length + 1;
    }
    std::vector<std::size_t> splits;
    for (std::size_t at = 5; at < all.size() + allUtf8.size(); at += 23)
        splits.push_back(at);
    for (const auto& [encoding, in, out] :
         {std::tuple{fanjian::TextEncoding::CodePage, all, allOut}, std::tuple{fanjian::TextEncoding::Utf8, allUtf8, allUtf8Out}}) {
        RecordingView view;
        LineConverter converter(kToBig5, dictionary, view, Kernel());
        converter.UseEncoding(encoding);
        std::vector<std::size_t> within;
        for (const std::size_t at : splits)
            if (at < in.size())
                within.push_back(at);
        EXPECT_EQ(ConvertInBlocks(converter, in, within), out);
        EXPECT_EQ(converter.ConvertedCount(), allCount);
        // In one block of more lines than the converter keeps marks for: the kernel stops at a
        // line end in the middle of its 64 bytes, after phrases it matched beyond it.
        LineConverter whole(kToBig5, dictionary, view, Kernel());
        whole.UseEncoding(encoding);
        std::string wholeOut;
        whole.ConvertLines(in + in + in + in, true, wholeOut);
        EXPECT_EQ(wholeOut, out + out + out + out);
        EXPECT_EQ(whole.ConvertedCount(), 4 * allCount);
        // In a block long enough to be cut in two, on two threads and on one, the second time
        // with every answer known, so that the helper converts its part to the end.
        std::string longIn;
        std::string longOut;
        while (longIn.size() < 2 * LineConverter::kSplitSize) {
            longIn += in;
            longOut += out;
        }
        for (const bool twoThreads : {true, false}) {
            RecordingView longView;
            longView.countsOnly = true;
            LineConverter split(kToBig5, dictionary, longView, Kernel());
            split.UseEncoding(encoding);
            split.UseSecondThread(twoThreads);
            for (int pass = 0; pass < 2; ++pass) {
                std::string converted;
                EXPECT_EQ(split.ConvertLines(longIn, true, converted), longIn.size());
                EXPECT_EQ(converted, longOut) << twoThreads;
            }
            EXPECT_EQ(split.ConvertedCount(), 2 * longIn.size() / in.size() * allCount);
            EXPECT_EQ(longView.countCalls, split.ConvertedCount());
        }
    }
    // Tables of odd answers: one that begins below 0x80, of a character that is no trigger (侣 C2C2
    // -> "CD"), beside triggers; and, in the second, one that begins with 0x80, of a trigger (C1C1
    // -> 80 42, but 中勺 in the phrase C1C1 D6D0), which keeps the kernels from telling the
    // triggers by their answers.
    for (const bool oddTrigger : {false, true}) {
        TempDir oddDir;
        WriteDatabase(oddDir.path() / "mervik.pcx",
                      rows + "INSERT INTO MERVIK VALUES (17220, 49858);" +
                          (oddTrigger ? "INSERT INTO MERVIK VALUES (32834, 49601);"
                                        "INSERT INTO PHRASES VALUES (2, 2, X'A4A4A463', X'C1C1D6D0');"
                                      : ""));
        CharacterDictionary odd;
        odd.Open(oddDir.str());
        std::string in = all + Bytes("B9FA C2C2 D6D0 B9FA 0A");
        std::string out = allOut + Bytes("B0EA 4344 A4A4 B0EA 0D0A");
        if (oddTrigger) {
            in += Bytes("C1C1 D6D0 0A C1C1 61 0A");
            out += Bytes("A4A4 A463 0D0A 8042 61 0D0A");
        }
        LineConverter converter(kToBig5, odd, view_, Kernel());
        std::string converted;
        converter.ConvertLines(in + in, true, converted);
        EXPECT_EQ(converted, out + out) << oddTrigger;
    }

    // By character, and in the other direction, where the table has no phrase: the rows alone.
    LineConverter byCharacter(kToBig5, dictionary, view_, Kernel(), fanjian::Phrasing::ByCharacter);
    EXPECT_EQ(byCharacter.ConvertLine(Bytes("B9FA D6D0 B9FA")), Bytes("B0EA A4A4 B0EA"));
    LineConverter toGb(kToGb, dictionary, view_, Kernel());
    EXPECT_EQ(toGb.ConvertLine(Bytes("B0EA A463")), Bytes("B9FA B0A1"));
}

TEST_P(LineConverterTest, TellsUtf8FromBig5AsItReads)
{
    using fanjian::TextEncoding;
    // What each text is taken as, and what it gives; every short text also in blocks of 7 bytes,
    // so that characters are cut between blocks. Each text twice, as files of one run after a
    // file in UTF-8: the second time with every answer known.
    std::string longAscii;
    while (longAscii.size() < 2 * LineConverter::kSplitSize)
        longAscii += std::string(60, 'y') + "\n";
    const struct {
        std::string in;
        TextEncoding encoding;
    } cases[] = {
        {"<meta charset=big5>\nabc", TextEncoding::CodePage},   // ASCII only
        {"abc\n" + Bytes("B0EA A4A4") + "x", TextEncoding::CodePage},
        {"abc\n國中x\n" + std::string(300, 'y') + "國", TextEncoding::Utf8},
        {"\xEF\xBB\xBF<meta charset=big5>", TextEncoding::Utf8}, // the byte order mark
        {"國中" + std::string(300, 'y') + Bytes("B0EA"), TextEncoding::CodePage}, // UTF-8 up to its last bytes
        {"國\xE5\x9C", TextEncoding::CodePage},                   // ... cut short at the end
        // Long enough to be cut in two: the second part, on the helper thread, is the first to
        // hold UTF-8, or a byte that is none after UTF-8, or follows such a byte in the first.
        {longAscii + "國", TextEncoding::Utf8},
        {"國中\n" + longAscii + Bytes("B0EA"), TextEncoding::CodePage},
        {longAscii.substr(0, LineConverter::kSplitSize / 2) + Bytes("B0EA") + longAscii + "國", TextEncoding::CodePage},
    };
    for (const auto& c : cases) {
        for (const std::size_t blockSize : {c.in.size(), std::size_t{7}}) {
            if (blockSize == 7 && c.in.size() > LineConverter::kSplitSize)
                continue;
            std::vector<std::size_t> splits;
            for (std::size_t at = blockSize; at < c.in.size(); at += blockSize)
                splits.push_back(at);
            RecordingView view;
            LineConverter converter(kToGb, dictionary_, view, Kernel());
            converter.UseSecondThread(true);
            LineConverter known(kToGb, dictionary_, view_, Kernel());
            known.UseEncoding(c.encoding);
            std::string utf8File;
            converter.StartFileOfUnknownEncoding();
            converter.ConvertLines("國中\n", true, utf8File);
            const std::uint64_t before = converter.ConvertedCount();
            for (int file = 0; file < 2; ++file) {
                converter.StartFileOfUnknownEncoding();
                std::string out;
                try {
                    out = ConvertInBlocks(converter, c.in, splits);
                } catch (const fanjian::NotUtf8&) {
                    converter.RestartFile();
                    out = ConvertInBlocks(converter, c.in, splits);
                }
                EXPECT_EQ(converter.Encoding(), c.encoding) << c.in.substr(0, 40) << " file " << file;
                std::string expected;
                known.ConvertLines(c.in, true, expected);
                EXPECT_EQ(out, expected) << c.in.substr(0, 40) << " in blocks of " << blockSize;
                EXPECT_EQ(converter.ConvertedCount() - before, known.ConvertedCount()) << c.in.substr(0, 40);
            }
        }
    }
}

TEST_P(LineConverterTest, TellsWhereTheUnfinishedLineStarts)
{
    LineConverter converter(kToGb, dictionary_, view_, Kernel());
    std::string out = "before";
    EXPECT_EQ(converter.ConvertLines("ab\nxy", false, out), 5u);
    EXPECT_EQ(out, "beforeab\r\nxy");
    EXPECT_EQ(converter.LineStart(), 10u);
    // What may still be a declaration, a lead byte and a CR wait for the next block.
    for (const std::string tail : {"char", "\xB0", "\r"}) {
        LineConverter other(kToGb, dictionary_, view_, Kernel());
        std::string ignored;
        EXPECT_EQ(other.ConvertLines("z" + tail, false, ignored), 1u);
    }
    out.clear();
    converter.ConvertLines("ef", false, out);
    EXPECT_EQ(converter.LineStart(), LineConverter::kNoLineStart);
    converter.ConvertLines("\n", false, out);
    EXPECT_EQ(converter.LineStart(), 4u);
    // A failing lookup leaves it pointing at the start of the failing line.
    out.clear();
    EXPECT_THROW(converter.ConvertLines(Bytes("61 0A 62 B0EA C0C0"), true, out), DictionaryError);
    EXPECT_EQ(converter.LineStart(), 3u);
    EXPECT_EQ(out.substr(0, 3), "a\r\n");
}

INSTANTIATE_TEST_SUITE_P(Kernels, LineConverterTest, ::testing::ValuesIn(fanjian::kernel::Kernels().begin(),
                                                                        fanjian::kernel::Kernels().end()),
                         [](const ::testing::TestParamInfo<fanjian::kernel::Kernel>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
