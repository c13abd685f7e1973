#include "shell/Names.h"

#include <QStringList>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <memory>
#include <optional>
#include <vector>

#include <dirent.h>
#include <iconv.h>
#include <sys/stat.h>

namespace fanjian {

namespace {

// One iconv conversion from `charset` to UTF-16 in the machine's byte order, opened once per thread.
class Decoder {
public:
    explicit Decoder(const char* charset)
        : handle_(iconv_open(std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE", charset))
    {
    }
    ~Decoder()
    {
        if (handle_ != kFailed)
            iconv_close(handle_);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Decodes `bytes` from their start: appends the characters of the longest valid beginning to
    // `text` and gives its length in bytes.
    std::size_t DecodeValid(std::string_view bytes, QString& text)
    {
        if (handle_ == kFailed || bytes.empty())
            return 0;
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        std::vector<char16_t> out(bytes.size() + 1); // never more UTF-16 units than bytes, for these charsets
        char* in = const_cast<char*>(bytes.data());
        std::size_t inLeft = bytes.size();
        char* outPointer = reinterpret_cast<char*>(out.data());
        std::size_t outLeft = out.size() * sizeof(char16_t);
        // Stops at an invalid or cut-short sequence (EILSEQ, EINVAL): what came before is valid.
        iconv(handle_, &in, &inLeft, &outPointer, &outLeft);
        const auto units = static_cast<qsizetype>((out.size() * sizeof(char16_t) - outLeft) / sizeof(char16_t));
        text.append(QStringView(out.data(), units));
        return bytes.size() - inLeft;
    }

    // The whole of `bytes` decoded, or nothing when any of it is not valid in the charset.
    std::optional<QString> DecodeAll(std::string_view bytes)
    {
        QString text;
        if (DecodeValid(bytes, text) != bytes.size())
            return std::nullopt;
        return text;
    }

private:
    static inline const iconv_t kFailed = reinterpret_cast<iconv_t>(-1);
    iconv_t handle_;
};

Decoder& Utf8() { thread_local Decoder decoder("UTF-8"); return decoder; }
Decoder& Big5() { thread_local Decoder decoder("CP950"); return decoder; }
Decoder& Gb2312() { thread_local Decoder decoder("GB2312"); return decoder; }

bool IsAscii(std::string_view bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool IsControl(QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; }

void AppendEscaped(QString& text, unsigned char byte)
{
    text += QStringLiteral("\\x") + QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
}

// Control characters written as \xHH: a name holding a line feed or an escape stays on its line.
QString WithControlsEscaped(const QString& text)
{
    if (std::none_of(text.begin(), text.end(), IsControl))
        return text;
    QString shown;
    for (const QChar c : text) {
        if (IsControl(c))
            AppendEscaped(shown, static_cast<unsigned char>(c.unicode()));
        else
            shown += c;
    }
    return shown;
}

// How many double-byte characters of `name` lie outside the part of the charset that everyday
// names use: for Big5 the symbols (A1–A3) and the less common characters (C6 on); for GB2312 the
// symbols, kana and other scripts (A1–AF) and the second level (D8 on). Bytes valid in both
// charsets are read in the one that makes fewer such characters of them.
int UncommonCharacters(std::string_view name, bool big5)
{
    int uncommon = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto lead = static_cast<unsigned char>(name[i]);
        if (lead < 0x80)
            continue;
        ++i; // the trail byte
        uncommon += big5 ? (lead < 0xA4 || lead >= 0xC6) : (lead < 0xB0 || lead >= 0xD8);
    }
    return uncommon;
}

// The bytes decoded as UTF-8 where valid, each other byte passed to `other`.
template <class OtherByte>
QString DecodeUtf8(std::string_view bytes, OtherByte other)
{
    QString text;
    std::size_t at = 0;
    while (at < bytes.size()) {
        at += Utf8().DecodeValid(bytes.substr(at), text);
        if (at < bytes.size())
            other(text, static_cast<unsigned char>(bytes[at++]));
    }
    return text;
}

} // namespace

QString ExactPath(std::string_view bytes)
{
    if (IsAscii(bytes))
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return DecodeUtf8(bytes, [](QString& text, unsigned char byte) { text += QChar(0xDC00 + byte); });
}

std::string PathBytes(const QString& exact)
{
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(exact.size()));
    qsizetype start = 0; // of the run of text not yet encoded
    auto encodeRun = [&](qsizetype end) {
        bytes += QStringView(exact).mid(start, end - start).toUtf8().toStdString();
    };
    for (qsizetype i = 0; i < exact.size(); ++i) {
        const char16_t unit = exact.at(i).unicode();
        const bool lowSurrogate = unit >= 0xDC80 && unit <= 0xDCFF;
        const bool paired = i > 0 && exact.at(i - 1).isHighSurrogate();
        if (lowSurrogate && !paired) {
            encodeRun(i);
            bytes += static_cast<char>(unit - 0xDC00);
            start = i + 1;
        }
    }
    encodeRun(exact.size());
    return bytes;
}

QString ReadableName(std::string_view name, QString* charset)
{
    auto readIn = [charset](const char* name, const QString& text) {
        if (charset != nullptr)
            *charset = QString::fromLatin1(name);
        return WithControlsEscaped(text);
    };
    if (IsAscii(name))
        return readIn("UTF-8", QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
    if (std::optional<QString> text = Utf8().DecodeAll(name))
        return readIn("UTF-8", *text);
    std::optional<QString> big5 = Big5().DecodeAll(name);
    std::optional<QString> gb2312 = Gb2312().DecodeAll(name);
    if (big5 && gb2312 && UncommonCharacters(name, false) < UncommonCharacters(name, true))
        big5.reset();
    if (big5)
        return readIn("Big5", *big5);
    if (gb2312)
        return readIn("GB2312", *gb2312);
    return readIn("", DecodeUtf8(name, AppendEscaped));
}

QString ReadablePath(std::string_view path)
{
    // Most paths are plain ASCII or UTF-8 as a whole.
    auto hasControls = [](const QString& text) { return std::any_of(text.begin(), text.end(), IsControl); };
    if (IsAscii(path)) {
        QString text = QString::fromLatin1(path.data(), static_cast<qsizetype>(path.size()));
        if (!hasControls(text))
            return text;
    } else if (std::optional<QString> text = Utf8().DecodeAll(path); text && !hasControls(*text)) {
        return *text;
    }
    QString text;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find('/', start);
        text += ReadableName(path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
        if (slash == std::string_view::npos)
            return text;
        text += QLatin1Char('/');
        start = slash + 1;
    }
}

namespace {

bool Exists(const std::string& path)
{
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

// The one entry of `folder` whose readable name is `name`; none where there are none or several,
// or where the folder cannot be listed.
std::optional<std::string> EntryNamed(const std::string& folder, const QString& name)
{
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.empty() ? "/" : folder.c_str()), &::closedir);
    if (!dir)
        return std::nullopt;
    std::optional<std::string> found;
    int matches = 0;
    errno = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view entryName(entry->d_name);
        if (entryName != "." && entryName != ".." && ReadableName(entryName) == name) {
            found = std::string(entryName);
            ++matches;
        }
        errno = 0;
    }
    if (errno != 0 || matches != 1)
        return std::nullopt; // a listing cut short may have missed another match
    return found;
}

} // namespace

std::string FolderPathBytes(const QString& typed, const QString& chosen)
{
    if (!typed.startsWith(QLatin1Char('/')))
        return PathBytes(typed);
    const QStringList chosenNames = chosen.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    qsizetype followed = 0; // names of `chosen` the typed path has followed so far
    bool following = !chosen.isEmpty();
    std::string bytes;
    std::string folder; // the bytes of the path up to the current name
    const QStringList pieces = typed.split(QLatin1Char('/'));
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            bytes += '/';
        const QString& piece = pieces[i];
        if (piece.isEmpty())
            continue;
        std::string name;
        if (following && followed < chosenNames.size() &&
            ReadablePath(chosenNames[followed]) == piece) {
            name = PathBytes(chosenNames[followed++]);
        } else {
            following = false;
            name = PathBytes(piece);
            if (piece != QLatin1String(".") && piece != QLatin1String("..") && !Exists(folder + '/' + name)) {
                if (std::optional<std::string> entry = EntryNamed(folder, piece))
                    name = std::move(*entry);
            }
        }
        bytes += name;
        folder += '/';
        folder += name;
    }
    return bytes;
}

} // namespace fanjian
