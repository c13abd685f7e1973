// Builds the input of the speed benchmark from the encoded corpus (Big5 or GB2312 lines, one a
// line, as bench/make_corpus.sh writes them). Everything is bytes: lines are taken whole, so every
// double-byte character stays whole, and the same corpus gives the same input.
//
//   fanjian_bench_input tree CORPUS FOLDER BYTES CHARSET   a site: pages and text files of 1-50 kB
//                                                          in FOLDER and ten subfolders
//   fanjian_bench_input text CORPUS FILE BYTES             running text, LF lines
//   fanjian_bench_input line CORPUS FILE BYTES CHARSET     one line without terminator, of whole
//                                                          characters, ending in "</p>"
//   fanjian_bench_input repeat FILE TIMES                  FILE written TIMES times to stdout
//
// CHARSET is big5 or gb2312; it names the declarations the pages carry.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

namespace {

class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string Reason(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

std::string ReadFile(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        throw Failure(Reason("cannot open", path));
    std::string bytes;
    char buffer[1 << 16];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, got);
    const bool failed = std::ferror(file);
    std::fclose(file);
    if (failed)
        throw Failure(Reason("cannot read", path));
    return bytes;
}

class Output {
public:
    explicit Output(std::string path) : path_(std::move(path)), file_(std::fopen(path_.c_str(), "wb"))
    {
        if (!file_)
            throw Failure(Reason("cannot create", path_));
    }
    explicit Output(std::FILE* stream, std::string name) : path_(std::move(name)), file_(stream), owned_(false) {}
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output()
    {
        if (file_ && owned_)
            std::fclose(file_);
    }

    void Write(std::string_view bytes)
    {
        if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
            throw Failure(Reason("cannot write", path_));
    }
    void Close()
    {
        const int flushed = std::fflush(file_);
        const int closed = owned_ ? std::fclose(file_) : 0;
        file_ = nullptr;
        if (flushed != 0 || closed != 0)
            throw Failure(Reason("cannot write", path_));
    }

private:
    std::string path_;
    std::FILE* file_;
    bool owned_ = true;
};

void MakeFolder(const std::string& path)
{
    if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
        throw Failure(Reason("cannot create", path));
}

// splitmix64: the same numbers on every platform, unlike the standard distributions.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
        return z ^ (z >> 31);
    }
    // A number in [low, high].
    std::size_t Between(std::size_t low, std::size_t high) { return low + Next() % (high - low + 1); }
    bool OneIn(std::size_t n) { return Next() % n == 0; }

private:
    std::uint64_t state_;
};

// The corpus lines, without terminators, read in order from a moving position.
class Corpus {
public:
    explicit Corpus(const std::string& path) : bytes_(ReadFile(path))
    {
        std::string_view rest(bytes_);
        while (!rest.empty()) {
            const std::size_t end = std::min(rest.find('\n'), rest.size());
            std::string_view line = rest.substr(0, end);
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            if (!line.empty())
                lines_.push_back(line);
            rest.remove_prefix(std::min(end + 1, rest.size()));
        }
        if (lines_.empty())
            throw Failure("the corpus " + path + " holds no line");
    }

    std::string_view Next()
    {
        const std::string_view line = lines_[next_];
        next_ = (next_ + 1) % lines_.size();
        return line;
    }
    void MoveTo(std::size_t position) { next_ = position % lines_.size(); }
    std::size_t LineCount() const { return lines_.size(); }

private:
    std::string bytes_;
    std::vector<std::string_view> lines_;
    std::size_t next_ = 0;
};

struct Charset {
    std::string_view name;     // big5, gb2312
    std::string_view language; // zh-tw, zh-cn
};

Charset CharsetNamed(std::string_view name)
{
    if (name == "big5")
        return {"big5", "zh-tw"};
    if (name == "gb2312")
        return {"gb2312", "zh-cn"};
    throw Failure("unknown charset " + std::string(name) + " (big5 or gb2312)");
}

std::string Upper(std::string_view text)
{
    std::string upper(text);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

constexpr std::size_t kSmallestFile = 1024;
constexpr std::size_t kLargestFile = 50 * 1024;

// One file of the site. `kind` picks the layout; lines end in `eol`.
class Page {
public:
    Page(std::string_view eol) : eol_(eol) {}
    void Line(std::string_view a, std::string_view b = {}, std::string_view c = {})
    {
        text_ += a;
        text_ += b;
        text_ += c;
        text_ += eol_;
    }
    std::size_t Size() const { return text_.size(); }
    const std::string& Text() const { return text_; }

private:
    std::string_view eol_;
    std::string text_;
};

enum class Kind { Html, Text, Script };

// Adds corpus lines through `add` until the page reaches `target` bytes, never passing the largest
// file size (lines are at most a few hundred bytes; `reserve` keeps room for the page's end).
template <class Add>
void Fill(Page& page, Corpus& corpus, std::size_t target, std::size_t reserve, Add add)
{
    while (page.Size() + reserve < target) {
        const std::string_view line = corpus.Next();
        if (page.Size() + reserve + line.size() + 32 > kLargestFile)
            break;
        add(line);
    }
}

std::string MakePage(Kind kind, Corpus& corpus, Random& random, const Charset& charset, std::size_t target,
                     const std::vector<std::string>& links)
{
    Page page(random.OneIn(2) ? "\r\n" : "\n");
    corpus.MoveTo(random.Next());
    if (kind == Kind::Text) {
        Fill(page, corpus, target, 0, [&](std::string_view line) { page.Line(line); });
        return page.Text();
    }
    if (kind == Kind::Script) {
        page.Line("// ", corpus.Next());
        Fill(page, corpus, target, 0, [&](std::string_view line) { page.Line("document.writeln('<p>", line, "</p>');"); });
        return page.Text();
    }

    page.Line("<html>");
    page.Line("<head>");
    switch (random.Between(0, 3)) {
    case 0:
        page.Line(R"(<meta http-equiv="Content-Type" content="text/html; charset=)", charset.name, "\">");
        break;
    case 1:
        page.Line(R"(<META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=)", Upper(charset.name), "\">");
        break;
    case 2:
        page.Line(R"(<meta charset=")", charset.name, "\">");
        break;
    default:
        page.Line(R"(<meta http-equiv="content-type" content='text/html; charset=')", charset.name, "'>");
        break;
    }
    page.Line(R"(<meta http-equiv="Content-Language" content=")", charset.language, "\">");
    page.Line("<title>", corpus.Next(), "</title>");
    page.Line(R"(<link rel="stylesheet" href="/style.css" type="text/css">)");
    page.Line("</head>");
    page.Line(R"(<body bgcolor="#FFFFFF">)");
    page.Line("<h1>", corpus.Next(), "</h1>");
    std::size_t sinceBreak = 0;
    Fill(page, corpus, target, 64, [&](std::string_view line) {
        if (++sinceBreak == 12) {
            sinceBreak = 0;
            const std::string& link = links[random.Next() % links.size()];
            page.Line(R"(<h2><a href=")", link, "\">");
            page.Line(line, "</a></h2>");
        } else {
            page.Line("<p>", line, "</p>");
        }
    });
    page.Line("</body>");
    page.Line("</html>");
    return page.Text();
}

// Pages get .htm or .html, some server pages .php or .asp; text files .txt; scripts .js.
struct FileName {
    Kind kind;
    std::string name;
};

FileName NameFile(Random& random, std::size_t number)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04zu", number);
    const std::size_t pick = random.Between(0, 99);
    if (pick < 40)
        return {Kind::Html, std::string("page") + digits + ".htm"};
    if (pick < 60)
        return {Kind::Html, std::string("page") + digits + ".html"};
    if (pick < 65)
        return {Kind::Html, std::string("show") + digits + ".php"};
    if (pick < 70)
        return {Kind::Html, std::string("list") + digits + ".asp"};
    if (pick < 95)
        return {Kind::Text, std::string("note") + digits + ".txt"};
    return {Kind::Script, std::string("menu") + digits + ".js"};
}

void MakeTree(const std::string& corpusPath, const std::string& folder, std::size_t bytes, const Charset& charset)
{
    static constexpr const char* kSubfolders[] = {"news",  "about", "products", "support", "download",
                                                  "docs",  "forum", "faq",      "links",   "archive"};
    constexpr std::size_t kPlaces = std::size(kSubfolders) + 1; // the subfolders and the folder itself

    Corpus corpus(corpusPath);
    Random random(charset.name == "big5" ? 5 : 2312);
    MakeFolder(folder);
    for (const char* subfolder : kSubfolders)
        MakeFolder(folder + "/" + subfolder);

    // Names first, so that pages can link to any of them.
    std::vector<std::string> paths;
    std::vector<FileName> names;
    std::vector<std::size_t> sizes;
    std::size_t total = 0;
    while (total < bytes) {
        const std::size_t size = random.Between(kSmallestFile, kLargestFile);
        const std::size_t place = random.Next() % kPlaces;
        FileName name = NameFile(random, names.size() + 1);
        paths.push_back(place < std::size(kSubfolders) ? std::string(kSubfolders[place]) + "/" + name.name : name.name);
        names.push_back(std::move(name));
        sizes.push_back(size);
        total += size;
    }
    std::vector<std::string> links;
    for (std::size_t i = 0; i < paths.size(); i += 7)
        links.push_back("/" + paths[i]);

    for (std::size_t i = 0; i < paths.size(); ++i) {
        Output output(folder + "/" + paths[i]);
        output.Write(MakePage(names[i].kind, corpus, random, charset, sizes[i], links));
        output.Close();
    }
}

void MakeText(const std::string& corpusPath, const std::string& path, std::size_t bytes)
{
    Corpus corpus(corpusPath);
    Output output(path);
    std::string block;
    std::size_t total = 0;
    while (total < bytes) {
        const std::string_view line = corpus.Next();
        block += line;
        block += '\n';
        total += line.size() + 1;
        if (block.size() >= (1 << 20)) {
            output.Write(block);
            block.clear();
        }
    }
    output.Write(block);
    output.Close();
}

// One line of at least `bytes` bytes: corpus lines as paragraphs, with page declarations every
// few kilobytes, so that a piece boundary lands inside characters and declarations alike. It ends
// in "</p>", so that copies of it put side by side convert as each one does alone.
void MakeLine(const std::string& corpusPath, const std::string& path, std::size_t bytes, const Charset& charset)
{
    Corpus corpus(corpusPath);
    Random random(charset.name == "big5" ? 55 : 23122);
    corpus.MoveTo(random.Next());
    std::string line;
    std::size_t nextDeclaration = 0;
    while (line.size() < bytes) {
        if (line.size() >= nextDeclaration) {
            line += random.OneIn(2) ? R"(<meta http-equiv="Content-Type" content="text/html; charset=)"
                                    : R"(<meta http-equiv="Content-Type" content="text/html; CHARSET=")";
            line += random.OneIn(2) ? std::string(charset.name) : Upper(charset.name);
            line += R"("><meta http-equiv="Content-Language" content=")";
            line += charset.language;
            line += "\">";
            nextDeclaration = line.size() + random.Between(1024, 4096);
        }
        line += "<p>";
        line += corpus.Next();
        line += "</p>";
    }
    Output output(path);
    output.Write(line);
    output.Close();
}

void Repeat(const std::string& path, std::size_t times)
{
    const std::string bytes = ReadFile(path);
    Output output(stdout, "standard output");
    for (std::size_t i = 0; i < times; ++i)
        output.Write(bytes);
    output.Close();
}

std::size_t Count(const char* text)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value == 0)
        throw Failure(std::string("not a positive number: ") + text);
    return static_cast<std::size_t>(value);
}

int Usage()
{
    std::fputs("usage: fanjian_bench_input tree CORPUS FOLDER BYTES big5|gb2312\n"
               "       fanjian_bench_input text CORPUS FILE BYTES\n"
               "       fanjian_bench_input line CORPUS FILE BYTES big5|gb2312\n"
               "       fanjian_bench_input repeat FILE TIMES\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        const std::string_view mode = argc > 1 ? argv[1] : "";
        if (mode == "tree" && argc == 6)
            MakeTree(argv[2], argv[3], Count(argv[4]), CharsetNamed(argv[5]));
        else if (mode == "text" && argc == 5)
            MakeText(argv[2], argv[3], Count(argv[4]));
        else if (mode == "line" && argc == 6)
            MakeLine(argv[2], argv[3], Count(argv[4]), CharsetNamed(argv[5]));
        else if (mode == "repeat" && argc == 4)
            Repeat(argv[2], Count(argv[3]));
        else
            return Usage();
    } catch (const Failure& failure) {
        std::fprintf(stderr, "fanjian_bench_input: %s\n", failure.what());
        return 1;
    }
    return 0;
}
