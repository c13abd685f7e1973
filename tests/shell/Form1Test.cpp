// The main window: its controls, the links, the folder chooser and whole runs started by clicks.
#include "ShellTestSupport.h"
#include "TestSupport.h"
#include "conversion/ConversionRun.h"
#include "shell/Accessibility.h"
#include "shell/BoxLabel.h"
#include "shell/Form1.h"
#include "shell/Form2.h"
#include "shell/LinkLabel.h"
#include "shell/Names.h"
#include "shell/Reasons.h"
#include "system/FileError.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>

#include <sys/stat.h>

using namespace fanjian;
using namespace fanjian::testing;
namespace fs = std::filesystem;

namespace {

// Big5 and GB2312 codes of 繁 體 轉 換 中.
const std::vector<std::pair<int, int>> kDictionary = {
    {0xC163, 0xB7B1}, {0xC5E9, 0xCCE5}, {0xC2E0, 0xD7AA}, {0xB4AB, 0xBBBB}, {0xA4A4, 0xD6D0}};

// The controls' geometry in twips, as the window was drawn.
const QMap<QString, QRect> kTwips = {
    {"Text1", {0, 120, 4335, 270}},     {"Command1", {4440, 120, 1095, 255}}, {"List1", {0, 480, 2775, 3480}},
    {"List2", {4320, 480, 2895, 3480}}, {"Command2", {2880, 600, 1335, 375}}, {"Command3", {2880, 1200, 1335, 375}},
    {"Label5", {2880, 1680, 1335, 255}}, {"Label6", {2880, 2040, 1335, 735}}, {"Label7", {2880, 2880, 1335, 255}},
    {"Label9", {2880, 3120, 1335, 255}}, {"Frame1", {0, 4080, 7215, 855}},   {"Label1", {120, 240, 5175, 255}},
    {"Label2", {5265, 240, 1810, 255}},  {"Label3", {120, 480, 375, 255}},    {"Label4", {600, 480, 2055, 255}},
};

QStringList Items(const QListWidget* list)
{
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->item(i)->text();
    return items;
}

int OpenChoosers()
{
    int open = 0;
    for (QWidget* window : QApplication::topLevelWidgets())
        open += qobject_cast<Form2*>(window) != nullptr && window->isVisible();
    return open;
}

// The tooltip a list shows over its row `row`, as a user hovering there sees it.
QString ToolTipOver(QListWidget* list, int row)
{
    QToolTip::hideText();
    const QRect rect = list->visualItemRect(list->item(row));
    QHelpEvent event(QEvent::ToolTip, rect.center(), list->viewport()->mapToGlobal(rect.center()));
    QCoreApplication::sendEvent(list->viewport(), &event);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
}

// Types `text` as a keyboard (or an input method) does, whatever its characters.
void Type(QWidget* widget, const QString& text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// Pixels darker than mid-grey in `area` of `image`: the ink of text drawn there.
int InkIn(const QImage& image, const QRect& area)
{
    int ink = 0;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x)
            ink += qGray(image.pixel(x, y)) < 128;
    }
    return ink;
}

// The smallest rectangle of `image` that holds every pixel in which it differs from `other`.
QRect Difference(const QImage& image, const QImage& other)
{
    QRect bounds;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != other.pixel(x, y))
                bounds |= QRect(x, y, 1, 1);
        }
    }
    return bounds;
}

// The lines of text drawn in `image`: the bands of rows with ink, one below the other.
int InkLines(const QImage& image)
{
    int lines = 0;
    bool inLine = false;
    for (int y = 0; y < image.height(); ++y) {
        const bool ink = InkIn(image, QRect(0, y, image.width(), 1)) > 0;
        lines += ink && !inLine;
        inLine = ink;
    }
    return lines;
}

// True when `text`, as `label` draws it at its size, shows whole in the lines the label is high
// for (Label6 three, the others one): drawn in a label as wide but four times as high, it takes no
// more lines, its ink stays above the label's lower edge and off its right edge (where a line too
// long would be cut). `text` must leave ink.
bool LabelFits(QLabel* label, const QString& text)
{
    const QSize size = label->size();
    const QString before = label->text();
    label->setText(text);
    label->resize(size.width(), size.height() * 4);
    const QImage tall = label->grab().toImage();
    label->resize(size);
    label->setText(before);
    const int edge = static_cast<int>(std::ceil(size.height() * tall.devicePixelRatio()));
    const int lines = InkLines(tall);
    return lines > 0 && lines <= (label->objectName() == "Label6" ? 3 : 1) &&
           InkIn(tall, QRect(0, edge, tall.width(), tall.height() - edge)) == 0 &&
           InkIn(tall, QRect(tall.width() - 1, 0, 1, tall.height())) == 0;
}

// True when `button`'s caption, as drawn, lies inside the contents rectangle the style gives the
// button and takes as much room as on a button three times as large (nothing cut off at an edge;
// a centred caption may fall on other fractions of a pixel there, which may make it a pixel wider
// or higher).
bool CaptionFits(QPushButton* button)
{
    const QSize size = button->size();
    const QString caption = button->text();
    auto captionInk = [button, &caption](QSize at) {
        button->resize(at);
        button->setText(caption);
        const QImage with = button->grab().toImage();
        button->setText({});
        const QImage without = button->grab().toImage();
        button->setText(caption);
        return std::pair(Difference(with, without), with.devicePixelRatio());
    };
    const QRect large = captionInk(size * 3).first;
    const auto [ink, ratio] = captionInk(size);
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = caption;
    const QRect inner = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    const QRectF innerPixels(QPointF(inner.topLeft()) * ratio, QSizeF(inner.size()) * ratio);
    const QSize lost = large.size() - ink.size();
    return !ink.isEmpty() && innerPixels.contains(QRectF(ink)) && lost.width() <= 1 && lost.height() <= 1;
}

// Calls `step` at every pass the window makes over its events, from inside a run's yields.
// An event posted during a pass waits for the next one: the probe posts itself again each time.
// (A zero timer would change what it watches: Qt runs zero timers at idle priority, and while one
// is always due every other waiting timer fires at each pass too.)
class EveryEventPass : public QObject {
public:
    explicit EveryEventPass(std::function<void()> step)
        : step_(std::move(step))
    {
        QCoreApplication::postEvent(this, new QEvent(kPass));
    }

protected:
    bool event(QEvent* event) override
    {
        if (event->type() != kPass)
            return QObject::event(event);
        QCoreApplication::postEvent(this, new QEvent(kPass));
        step_();
        return true;
    }

private:
    static inline const QEvent::Type kPass = static_cast<QEvent::Type>(QEvent::registerEventType());
    std::function<void()> step_;
};

} // namespace

class Form1Test : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void centringTruncatesTowardZero();
    void controlsAndStartState();
    void focusStartsInList1AndFollowsTheOrder();
    void hoverSwitchesTheUnderline();
    void linksOpenTheMakersAddresses();
    void linksStayReadableOnEveryPalette_data();
    void linksStayReadableOnEveryPalette();
    void assistiveTechnologyFindsNamesLinksAndOutcomes();
    void chooserOpensOnceAndOkWritesText1();
    void closingTheChooserWritesNothing();
    void closingTheWindowClosesTheChooser();
    void emptyPathIsRejectedByTheRun();
    void runTraditionalToSimplifiedFromCommand2();
    void runSimplifiedToTraditionalFromCommand3();
    void windowStaysLiveAndButtonsDisabledDuringARun();
    void closingTheWindowMidRunEndsTheRun();
    void chooserOnAnUnreadableVolumeWritesNothing();
    void trailingSeparatorIsKeptAsTyped_data();
    void trailingSeparatorIsKeptAsTyped();
    void trailingSpacesNameAnotherFolder_data();
    void trailingSpacesNameAnotherFolder();
    void textsFitAtEveryFontSize_data();
    void textsFitAtEveryFontSize();
    void listsShowTheirItemsAtEveryEventPass();
    void listItemsShowTheEndOfTheirPathAndTheWholeInTheirTooltip();
    void failuresAndRejectionsTellTheirCauseInTooltips_data();
    void failuresAndRejectionsTellTheirCauseInTooltips();
    void failureReasonsNameTheCause_data();
    void failureReasonsNameTheCause();
    void foldersNamedInAnyBytesAreChosenAndConverted_data();
    void foldersNamedInAnyBytesAreChosenAndConverted();

private:
    Form1& Show();
    template <class T> T* Control(const char* name) { return form_->findChild<T*>(name); }
    QLabel* Label(const char* name) { return Control<QLabel>(name); }
    QPushButton* Button(const char* name) { return Control<QPushButton>(name); }
    QListWidget* List(const char* name) { return Control<QListWidget>(name); }
    QLineEdit* Text1() { return Control<QLineEdit>("Text1"); }
    void StartRun(const fs::path& folder, const char* button);
    // A site whose first file is long enough for the run to yield many times inside it.
    std::string WriteLongSite(const fs::path& site, int lines);

    std::unique_ptr<TempDir> temp_;
    fs::path program_;
    fs::path site_;
    RecordingDesktop desktop_;
    std::unique_ptr<Form1> form_;
    QFont originalFont_;
    QPalette originalPalette_;
};

void Form1Test::init()
{
    originalFont_ = QApplication::font();
    originalPalette_ = QApplication::palette();
    temp_ = std::make_unique<TempDir>();
    program_ = temp_->path() / "program";
    site_ = temp_->path() / "site";
    MakeFolders(temp_->path(), {"program", "site", "work/one", "work/two"});
    WriteDictionary(program_, kDictionary);
    desktop_ = RecordingDesktop();
    form_ = std::make_unique<Form1>(desktop_.Make(Q(program_), Q(temp_->path() / "work")));
}

void Form1Test::cleanup()
{
    form_.reset();
    temp_.reset();
    QApplication::setFont(originalFont_);
    QApplication::setPalette(originalPalette_);
}

Form1& Form1Test::Show()
{
    form_->show();
    form_->activateWindow();
    if (!QTest::qWaitForWindowActive(form_.get()))
        qWarning("the main window did not become active");
    return *form_;
}

void Form1Test::StartRun(const fs::path& folder, const char* button)
{
    Text1()->setFocus();
    QTest::keyClicks(Text1(), Q(folder));
    QTest::mouseClick(Button(button), Qt::LeftButton);
}

std::string Form1Test::WriteLongSite(const fs::path& site, int lines)
{
    MakeFolders(site, {"sub"});
    std::string input;
    std::string expected;
    for (int i = 0; i < lines; ++i) {
        input += Bytes("C163C5E9C2E0B4ABA4A4 C163C5E9C2E0B4ABA4A4 0A");
        expected += Bytes("B7B1CCE5D7AABBBBD6D0 B7B1CCE5D7AABBBBD6D0 0D0A");
    }
    WriteFile(site / "sub" / "long.htm", input);
    WriteFile(site / "index.htm", Bytes("C163"));
    return expected;
}

void Form1Test::centringTruncatesTowardZero()
{
    // Odd differences lose their half pixel; a window larger than the screen goes negative,
    // rounded toward zero, not down.
    QCOMPARE(CentredPosition(QRect(0, 0, 800, 600), QSize(481, 331)), QPoint(159, 134));
    QCOMPARE(CentredPosition(QRect(1920, 0, 1024, 768), QSize(209, 218)), QPoint(1920 + 407, 275));
    QCOMPARE(CentredPosition(QRect(0, 0, 800, 600), QSize(1001, 603)), QPoint(-100, -1));
    // With 12.5 twips a pixel: 7 pixels are 87 whole twips, 43 of them half, 3.44 pixels: 3.
    QCOMPARE(CentredPosition(QRect(0, 0, 100, 100), QSize(107, 93), 1.2), QPoint(-3, 3));
}

void Form1Test::controlsAndStartState()
{
    Show();
    QVERIFY(!form_->windowTitle().isEmpty());
    QVERIFY(!form_->windowIcon().isNull());
    QCOMPARE(form_->windowIcon().availableSizes().value(0), QSize(16, 16));
    // Twips become pixels by a factor from the font, never below 1 (see textsFitAtEveryFontSize).
    const double factor = form_->twips().factor();
    QVERIFY(factor >= 1);
    auto pixels = [factor](int twips) { return static_cast<int>(std::lround(twips * factor / 15)); };
    QCOMPARE(form_->size(), QSize(pixels(7215), pixels(4965)));
    QCOMPARE(form_->minimumSize(), form_->maximumSize());
    QVERIFY(!(form_->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    const QRect screen = form_->screen()->geometry();
    QCOMPARE(form_->frameGeometry().topLeft(), CentredPosition(screen, form_->size(), factor));
    QCOMPARE(form_->programDirectory(), Q(program_));

    // Name, kind, geometry (in twips as drawn, and at 15 twips a pixel in pixels; Label1 to Label4
    // inside Frame1), caption where it is fixed.
    struct Expected {
        const char* name;
        const char* kind;
        QRect pixels;
        QString text = {};
    };
    const Expected windowControls[] = {
        {"Text1", "QLineEdit", {0, 8, 289, 18}},
        {"Command1", "QPushButton", {296, 8, 73, 17}, "轉檔路徑"},
        {"List1", "QListWidget", {0, 32, 185, 232}},
        {"List2", "QListWidget", {288, 32, 193, 232}},
        {"Command2", "QPushButton", {192, 40, 89, 25}, "繁體轉簡體"},
        {"Command3", "QPushButton", {192, 80, 89, 25}, "簡體轉繁體"},
        {"Label5", "QLabel", {192, 112, 89, 17}},
        {"Label6", "QLabel", {192, 136, 89, 49}},
        {"Label7", "QLabel", {192, 192, 89, 17}},
        {"Label9", "QLabel", {192, 208, 89, 17}},
        {"Frame1", "QGroupBox", {0, 272, 481, 57}},
    };
    const Expected frameControls[] = {
        {"Label1", "QLabel", {8, 16, 345, 17}},
        {"Label2", "QLabel", {351, 16, 121, 17}},
        {"Label3", "QLabel", {8, 32, 25, 17}, "網站"},
        {"Label4", "QLabel", {40, 32, 137, 17}},
    };
    auto check = [&](const Expected& expected, const QWidget* parent) {
        const QWidget* control = Control<QWidget>(expected.name);
        QVERIFY2(control != nullptr && control->inherits(expected.kind), expected.name);
        QVERIFY2(control->parentWidget() == parent, expected.name);
        const QRect t = kTwips.value(expected.name);
        QVERIFY2(control->geometry() == QRect(pixels(t.x()), pixels(t.y()), pixels(t.width()), pixels(t.height())),
                 expected.name);
        QVERIFY2(Twips(1).Rect(t.x(), t.y(), t.width(), t.height()) == expected.pixels, expected.name);
        QVERIFY2(expected.text.isNull() || control->property("text").toString() == expected.text, expected.name);
    };
    for (const Expected& expected : windowControls)
        check(expected, form_.get());
    for (const Expected& expected : frameControls)
        check(expected, Control<QWidget>("Frame1"));
    QCOMPARE(Twips(1).Size(7215, 4965), QSize(481, 331));

    // Empty path box, lists and progress labels; the maker's texts in place; links in pure blue.
    QVERIFY(Text1()->text().isEmpty());
    QCOMPARE(List("List1")->count(), 0);
    QCOMPARE(List("List2")->count(), 0);
    for (const char* name : {"Label5", "Label6", "Label7", "Label9"})
        QVERIFY2(Label(name)->text().isEmpty(), name);
    for (const char* name : {"Label1", "Label2", "Label4"})
        QVERIFY2(!Label(name)->text().isEmpty(), name);
    QVERIFY(!Control<QGroupBox>("Frame1")->title().isEmpty());
    for (const char* name : {"Label2", "Label4"}) {
        QCOMPARE(Label(name)->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        QVERIFY(!Label(name)->font().underline());
    }
    QCOMPARE(Label("Label7")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    QCOMPARE(Label("Label9")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    QCOMPARE(Label("Label6")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);

    // The texts a font must draw for both windows, all drawn by the installed fonts; a character
    // that no font has is found.
    const QString texts = form_->texts();
    for (const char* text : {"網站繁簡轉換", "選擇資料夾", "確定", "繁轉簡轉換完成", "系統資料已損毀！", "請重新安裝！", "未輸入轉換路徑",
                             "第 99999999 字", "網站繁簡轉換由 fanjian 開發團隊製作"})
        QVERIFY2(texts.contains(QString::fromUtf8(text)), text);
    QCOMPARE(UndrawableCharacters(texts, form_->font()), QString());
    QCOMPARE(UndrawableCharacters(texts + QChar(0x0378) + QChar(0x0378), form_->font()), QString(QChar(0x0378)));

    // The program directory keeps no trailing separator, except the root's.
    QCOMPARE(Form1(desktop_.Make("/opt/fanjian/", "/")).programDirectory(), QStringLiteral("/opt/fanjian"));
    QCOMPARE(Form1(desktop_.Make("/", "/")).programDirectory(), QStringLiteral("/"));
}

void Form1Test::focusStartsInList1AndFollowsTheOrder()
{
    Show();
    QCOMPARE(QApplication::focusWidget(), List("List1"));
    // The links come after the six controls.
    for (const char* next : {"List2", "Text1", "Command1", "Command2", "Command3", "Label2", "Label4", "List1"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QString::fromLatin1(next));
    }
    // Enter in the path box starts nothing.
    Text1()->setFocus();
    QTest::keyClicks(Text1(), Q(site_));
    QTest::keyClick(Text1(), Qt::Key_Return);
    QCOMPARE(List("List1")->count(), 0);
    QVERIFY(Label("Label5")->text().isEmpty());
    // Enter presses the button that has the focus, the keypad's too.
    Button("Command3")->setFocus();
    QTest::keyClick(Button("Command3"), Qt::Key_Return);
    QCOMPARE(Label("Label5")->text(), QStringLiteral("簡轉繁轉換完成"));
    QCOMPARE(QApplication::focusWidget(), Button("Command3")); // back after the run disabled it
    Button("Command1")->setFocus();
    QTest::keyClick(Button("Command1"), Qt::Key_Enter, Qt::KeypadModifier);
    QVERIFY(form_->chooser() != nullptr);
}

void Form1Test::hoverSwitchesTheUnderline()
{
    Show();
    QLabel* mail = Label("Label2");
    QLabel* web = Label("Label4");
    QWidget* frame = Control<QWidget>("Frame1");
    auto moveOver = [](QWidget* widget, QPoint at = {-1, -1}) {
        QTest::mouseMove(widget, at == QPoint(-1, -1) ? widget->rect().center() : at);
    };

    moveOver(mail);
    QVERIFY(mail->font().underline());
    QVERIFY(!web->font().underline());
    moveOver(Label("Label1")); // unchanged over the other labels
    QVERIFY(mail->font().underline());
    moveOver(web);
    QVERIFY(mail->font().underline());
    QVERIFY(web->font().underline());
    moveOver(Label("Label3"));
    moveOver(form_.get(), QPoint(240, 250)); // the window outside the frame
    moveOver(form_.get(), QPoint(600, -40)); // outside the window
    QVERIFY(mail->font().underline());
    QVERIFY(web->font().underline());

    moveOver(frame, QPoint(300, 45)); // the frame's bare surface
    QVERIFY(!mail->font().underline());
    QVERIFY(!web->font().underline());
    moveOver(web);
    moveOver(frame, QPoint(5, 5)); // the caption row is the frame's surface too
    QVERIFY(!web->font().underline());

    QCOMPARE(mail->palette().color(QPalette::WindowText), QColor(0, 0, 255));
}

void Form1Test::linksOpenTheMakersAddresses()
{
    Show();
    QTest::mouseClick(Label("Label1"), Qt::LeftButton);
    QTest::mouseClick(Label("Label3"), Qt::LeftButton);
    QVERIFY(desktop_.openedLinks.isEmpty());

    QTest::mouseClick(Label("Label2"), Qt::LeftButton);
    QTest::mouseClick(Label("Label4"), Qt::LeftButton);
    QTest::mouseClick(Label("Label4"), Qt::RightButton);
    QCOMPARE(desktop_.openedLinks.size(), 2);
    QCOMPARE(desktop_.openedLinks[0].scheme(), QStringLiteral("mailto"));
    QCOMPARE(desktop_.openedLinks[0].path(), Label("Label2")->text());
    QVERIFY(desktop_.openedLinks[1].isValid());
    QVERIFY(desktop_.openedLinks[1].toString().contains(Label("Label4")->text()));
    QVERIFY(desktop_.openedLinks[1].scheme().startsWith(QStringLiteral("http")));

    // From the keyboard: Enter or Space on the link that has the focus; other keys open nothing.
    Label("Label2")->setFocus();
    QTest::keyClick(Label("Label2"), Qt::Key_Return);
    QTest::keyClick(Label("Label2"), Qt::Key_A);
    Label("Label4")->setFocus();
    QTest::keyClick(Label("Label4"), Qt::Key_Space);
    QTest::keyClick(Label("Label4"), Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(desktop_.openedLinks.mid(2), desktop_.openedLinks.mid(0, 2));
}

void Form1Test::linksStayReadableOnEveryPalette_data()
{
    // The window's background and the palette's link colour; the links' colour where it is fixed,
    // else none: the palette's link made lighter or darker, its hue kept, until it stands out.
    QTest::addColumn<QColor>("window");
    QTest::addColumn<QColor>("link");
    QTest::addColumn<QColor>("expected");
    QTest::newRow("light") << QColor("#efefef") << QColor("#2a82da") << QColor(0, 0, 255);
    QTest::newRow("dark, a link that stands out") << QColor("#31363b") << QColor("#3daee9") << QColor("#3daee9");
    QTest::newRow("qt6ct darker, its link too dark") << QColor("#222020") << QColor("#0986d3") << QColor();
    QTest::newRow("black, a blue link") << QColor(Qt::black) << QColor(0, 0, 255) << QColor();
    QTest::newRow("mid grey, a blue link") << QColor("#808080") << QColor(0, 0, 255) << QColor();
}

void Form1Test::linksStayReadableOnEveryPalette()
{
    QFETCH(QColor, window);
    QFETCH(QColor, link);
    QFETCH(QColor, expected);
    Show();
    // The desktop's palette changes while the window is open.
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::Link, link);
    QApplication::setPalette(palette);
    QCoreApplication::sendPostedEvents();
    for (const char* name : {"Label2", "Label4"}) {
        const QColor shown = Label(name)->palette().color(QPalette::WindowText);
        QVERIFY2(ContrastRatio(shown, window) >= 4.5, qPrintable(shown.name()));
        if (expected.isValid())
            QCOMPARE(shown, expected);
        else
            QVERIFY2(std::abs(shown.hsvHue() - link.hsvHue()) <= 2 && shown != link, qPrintable(shown.name()));
        // The label draws its text in it.
        const QImage drawn = Label(name)->grab().toImage();
        bool inColour = false;
        for (int y = 0; y < drawn.height() && !inColour; ++y) {
            for (int x = 0; x < drawn.width() && !inColour; ++x)
                inColour = drawn.pixelColor(x, y) == shown;
        }
        QVERIFY(inColour);
    }
    // The other labels keep the palette's text colour; pure blue comes back with a light palette.
    QCOMPARE(Label("Label1")->palette().color(QPalette::WindowText), palette.color(QPalette::WindowText));
    QApplication::setPalette(originalPalette_);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(Label("Label4")->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    // From the qt6ct "darker" scheme: pure blue had 1.9 : 1 on its background.
    QVERIFY(std::abs(ContrastRatio(QColor(0, 0, 255), QColor("#222020")) - 1.9) < 0.05);
}

void Form1Test::assistiveTechnologyFindsNamesLinksAndOutcomes()
{
    Show();
    auto accessible = [this](const char* name) { return QAccessible::queryAccessibleInterface(Control<QWidget>(name)); };
    QCOMPARE(QAccessible::queryAccessibleInterface(form_.get())->role(), QAccessible::Window);
    QCOMPARE(QAccessible::queryAccessibleInterface(form_.get())->text(QAccessible::Name), form_->windowTitle());
    // The controls without text of their own have names; labels are named by their text.
    QCOMPARE(accessible("Text1")->text(QAccessible::Name), QStringLiteral("要轉換的資料夾路徑"));
    QCOMPARE(accessible("List1")->text(QAccessible::Name), QStringLiteral("來源檔案"));
    QCOMPARE(accessible("List2")->text(QAccessible::Name), QStringLiteral("轉換後的檔案"));
    QCOMPARE(accessible("Label1")->text(QAccessible::Name), Label("Label1")->text());
    QCOMPARE(accessible("Label3")->text(QAccessible::Name), QStringLiteral("網站"));
    QCOMPARE(accessible("Command2")->text(QAccessible::Name), QStringLiteral("繁體轉簡體"));

    // The links are links, named by their text, with an action that opens them.
    for (const char* name : {"Label2", "Label4"}) {
        QAccessibleInterface* link = accessible(name);
        QCOMPARE(link->role(), QAccessible::Link);
        QCOMPARE(link->text(QAccessible::Name), Label(name)->text());
        QVERIFY(link->state().focusable);
        QAccessibleActionInterface* actions = link->actionInterface();
        QVERIFY(actions != nullptr);
        QCOMPARE(actions->actionNames().value(0), QAccessibleActionInterface::pressAction());
        actions->doAction(QAccessibleActionInterface::pressAction());
    }
    QCOMPARE(desktop_.openedLinks.size(), 2);
    QCOMPARE(desktop_.openedLinks[0].toString(), QStringLiteral("mailto:") + Label("Label2")->text());

    // How each run ended is announced once, at its end, with its cause: a path rejected (which
    // leaves Label5 as it was), a run completed, a run failed. A screen reader hears the window's
    // notice, a notification named by the message.
    auto* notice = form_->findChild<Notice*>("Notice");
    QSignalSpy announced(notice, &Notice::announced);
    QTest::mouseClick(Button("Command2"), Qt::LeftButton);
    StartRun(site_, "Command2");
    WriteFile(program_ / "mervik.pcx", "not a dictionary");
    QTest::mouseClick(Button("Command3"), Qt::LeftButton);
    const QString failure = "系統資料已損毀。" + Label("Label5")->toolTip();
    QCOMPARE(announced.count(), 3);
    QCOMPARE(announced[0][0].toString(), QStringLiteral("未輸入轉換路徑。請輸入以 / 開頭的完整資料夾路徑"));
    QCOMPARE(announced[1][0].toString(), QStringLiteral("繁轉簡轉換完成"));
    QCOMPARE(announced[2][0].toString(), failure);
    QVERIFY(failure.contains(QStringLiteral("字典檔已損毀")));
    QAccessibleInterface* heard = QAccessible::queryAccessibleInterface(notice);
    QCOMPARE(heard->role(), QAccessible::Notification);
    QCOMPARE(heard->text(QAccessible::Name), failure);
    QCOMPARE(notice->size(), QSize(0, 0));
    QCOMPARE(accessible("Label5")->text(QAccessible::Name), QStringLiteral("系統資料已損毀"));
}

void Form1Test::chooserOpensOnceAndOkWritesText1()
{
    Show();
    const QString work = Q(temp_->path() / "work");
    QTest::mouseClick(Button("Command1"), Qt::LeftButton);
    QPointer<Form2> chooser = form_->chooser();
    QVERIFY(chooser != nullptr);
    QVERIFY(chooser->isVisible());
    QVERIFY(chooser->parentWidget() == nullptr);
    auto* dir1 = chooser->findChild<DirectoryList*>("Dir1");
    QCOMPARE(dir1->path(), work);

    // The user goes on in the chooser, then presses Command1 again: the same chooser, as left.
    QVERIFY(QTest::qWaitForWindowExposed(chooser));
    DoubleClickEntry(*dir1, EntryFor(*dir1, work + "/two"));
    ClickEntry(*dir1, dir1->topLevelItem(0));
    form_->activateWindow();
    QTest::mouseClick(Button("Command1"), Qt::LeftButton);
    QCOMPARE(form_->chooser(), chooser.data());
    QCOMPARE(OpenChoosers(), 1);
    QCOMPARE(dir1->path(), work + "/two");
    QVERIFY(Text1()->text().isEmpty()); // only OK writes

    // OK writes the folder the list stands in, not the highlighted "/", and closes the chooser.
    QTest::mouseClick(chooser->findChild<QPushButton*>("Command1"), Qt::LeftButton);
    QCOMPARE(Text1()->text(), work + "/two");
    QTRY_VERIFY(chooser.isNull());
    QVERIFY(form_->chooser() == nullptr);

    // The next opening starts afresh in the working folder.
    QTest::mouseClick(Button("Command1"), Qt::LeftButton);
    QCOMPARE(form_->chooser()->findChild<DirectoryList*>("Dir1")->path(), work);
    QCOMPARE(OpenChoosers(), 1);
}

void Form1Test::closingTheChooserWritesNothing()
{
    Show();
    QTest::keyClicks(Text1(), "typed");
    QTest::mouseClick(Button("Command1"), Qt::LeftButton);
    QPointer<Form2> chooser = form_->chooser();
    QVERIFY(chooser->close());
    QTRY_VERIFY(chooser.isNull());
    QCOMPARE(Text1()->text(), QStringLiteral("typed"));
    QVERIFY(form_->chooser() == nullptr);
    QCOMPARE(desktop_.endProgramCalls, 0);

    // A closed chooser is not shown again; Command1 brings a new one.
    QTest::mouseClick(Button("Command1"), Qt::LeftButton);
    QVERIFY(form_->chooser() != nullptr);
}

void Form1Test::closingTheWindowClosesTheChooser()
{
    Show();
    QTest::keyClicks(Text1(), "typed");
    QTest::mouseClick(Button("Command1"), Qt::LeftButton);
    QPointer<Form2> chooser = form_->chooser();
    QVERIFY(form_->close());
    QCOMPARE(desktop_.endProgramCalls, 1);
    QVERIFY(chooser.isNull() || !chooser->isVisible());
    QCOMPARE(OpenChoosers(), 0);
    QCOMPARE(Text1()->text(), QStringLiteral("typed"));
}

void Form1Test::emptyPathIsRejectedByTheRun()
{
    Show();
    QTest::mouseClick(Button("Command2"), Qt::LeftButton);
    QCOMPARE(Items(List("List1")), QStringList({"未輸入轉換路徑"}));
    QCOMPARE(List("List2")->count(), 0);
    QVERIFY(Label("Label5")->text().isEmpty());
    QVERIFY(Button("Command2")->isEnabled());
}

void Form1Test::runTraditionalToSimplifiedFromCommand2()
{
    MakeFolders(site_, {"news", "empty"});
    WriteFile(site_ / "news" / "a.htm", "<meta charset=big5>\r\n" + Bytes("C163C5E9 0A"));
    WriteFile(site_ / "index.htm", Bytes("C2E0B4AB 616263"));
    WriteFile(site_ / "README", Bytes("C163"));
    Show();
    StartRun(site_, "Command2");

    const QString site = Q(site_);
    QCOMPARE(Items(List("List1")), QStringList({site + "/news/a.htm", site + "/index.htm"}));
    QCOMPARE(Items(List("List2")), QStringList({site + "/GB/news/a.htm", site + "/GB/index.htm"}));
    QCOMPARE(Label("Label5")->text(), QStringLiteral("繁轉簡轉換完成"));
    QCOMPARE(Label("Label6")->text(), QStringLiteral("檔名 index.htm"));
    QCOMPARE(Label("Label7")->text(), QStringLiteral("第 2 檔案"));
    QCOMPARE(Label("Label9")->text(), QStringLiteral("第 4 字"));
    QCOMPARE(ReadFile(site_ / "GB" / "news" / "a.htm"), "<meta charset=gb2312>\r\n" + Bytes("B7B1CCE5 0D0A"));
    QCOMPARE(ReadFile(site_ / "GB" / "index.htm"), Bytes("D7AABBBB 616263 0D0A"));
    QVERIFY(!fs::exists(site_ / "GB" / "empty"));
    QVERIFY(!fs::exists(site_ / "GB" / "README"));
    QVERIFY(Button("Command2")->isEnabled());
    QVERIFY(Button("Command3")->isEnabled());
}

void Form1Test::runSimplifiedToTraditionalFromCommand3()
{
    MakeFolders(site_, {"x"});
    WriteFile(site_ / "x" / "b.txt", "<meta http-equiv=\"Content-Language\" content=\"zh-cn\">\n" + Bytes("B7B1CCE5D6D0"));
    Show();
    StartRun(site_, "Command3");

    const QString site = Q(site_);
    QCOMPARE(Items(List("List1")), QStringList({site + "/x/b.txt"}));
    QCOMPARE(Items(List("List2")), QStringList({site + "/BIG5/x/b.txt"}));
    QCOMPARE(Label("Label5")->text(), QStringLiteral("簡轉繁轉換完成"));
    QCOMPARE(Label("Label6")->text(), QStringLiteral("檔名 b.txt"));
    QCOMPARE(Label("Label7")->text(), QStringLiteral("第 1 檔案"));
    QCOMPARE(Label("Label9")->text(), QStringLiteral("第 3 字"));
    QCOMPARE(ReadFile(site_ / "BIG5" / "x" / "b.txt"),
             "<meta http-equiv=\"Content-Language\" content=\"zh-tw\">\r\n" + Bytes("C163C5E9A4A4 0D0A"));

    // A second run starts with empty lists and its own counts.
    Text1()->clear();
    WriteFile(site_ / "x" / "b.txt", Bytes("D6D0"));
    StartRun(site_, "Command3");
    QCOMPARE(Items(List("List2")), QStringList({site + "/BIG5/x/b.txt"}));
    QCOMPARE(Label("Label9")->text(), QStringLiteral("第 1 字"));
}

void Form1Test::windowStaysLiveAndButtonsDisabledDuringARun()
{
    const std::string expected = WriteLongSite(site_, 20000);
    Show();
    form_->setEventPassInterval({});
    int passesDuringRun = 0;
    bool buttonEnabledDuringRun = false;
    QString statusDuringRun;
    QPointer<Form2> chooser;
    EveryEventPass probe([&] {
        if (!form_->isRunning())
            return;
        ++passesDuringRun;
        buttonEnabledDuringRun |= Button("Command2")->isEnabled() || Button("Command3")->isEnabled();
        statusDuringRun = Label("Label5")->text();
        if (passesDuringRun == 3) {
            QTest::mouseClick(Button("Command3"), Qt::LeftButton); // refused: no second run
            QTest::mouseClick(Button("Command1"), Qt::LeftButton); // the chooser opens mid-run
            chooser = form_->chooser();
        }
    });
    StartRun(site_, "Command2");

    QVERIFY(passesDuringRun > 3);
    QVERIFY(!buttonEnabledDuringRun);
    QCOMPARE(statusDuringRun, QStringLiteral("繁轉簡轉換中"));
    QVERIFY(chooser != nullptr && chooser->isVisible());
    QCOMPARE(Label("Label5")->text(), QStringLiteral("繁轉簡轉換完成"));
    QCOMPARE(Label("Label9")->text(), QStringLiteral("第 200001 字"));
    QVERIFY(!fs::exists(site_ / "BIG5"));
    QVERIFY(ReadFile(site_ / "GB" / "sub" / "long.htm") == expected);
    QVERIFY(Button("Command2")->isEnabled());
    QVERIFY(Button("Command3")->isEnabled());
}

void Form1Test::closingTheWindowMidRunEndsTheRun()
{
    const std::string expected = WriteLongSite(site_, 20000);
    const std::string line = expected.substr(0, expected.find("\r\n") + 2);
    Show();
    form_->setEventPassInterval({});
    QTest::mouseClick(Button("Command1"), Qt::LeftButton);
    QPointer<Form2> chooser = form_->chooser();
    bool closed = false;
    EveryEventPass closer([&] {
        // Some way into the first file, the user closes the window.
        if (!closed && form_->isRunning() && Label("Label9")->text().section(' ', 1, 1).toInt() > 1000) {
            closed = true;
            form_->close();
        }
    });
    StartRun(site_, "Command2");

    QVERIFY(closed);
    QCOMPARE(desktop_.endProgramCalls, 1);
    QVERIFY(!form_->isVisible());
    QVERIFY(chooser.isNull() || !chooser->isVisible());
    QCOMPARE(Text1()->text(), Q(site_));
    QCOMPARE(Label("Label5")->text(), QStringLiteral("繁轉簡轉換中")); // no completion text
    QCOMPARE(List("List2")->count(), 0);

    // The file in progress keeps the whole lines written before the close; nothing comes after it.
    const std::string partial = ReadFile(site_ / "GB" / "sub" / "long.htm");
    QVERIFY(partial.size() >= 1000 / 20 * line.size());
    QVERIFY(partial.size() < expected.size());
    QCOMPARE(partial.size() % line.size(), std::size_t{0});
    QVERIFY(partial == expected.substr(0, partial.size()));
    QVERIFY(!fs::exists(site_ / "GB" / "index.htm"));
}

void Form1Test::chooserOnAnUnreadableVolumeWritesNothing()
{
    const QString work = Q(temp_->path() / "work");
    const QString gone = Q(temp_->path() / "gone");
    form_ = std::make_unique<Form1>(desktop_.Make(Q(program_), work, {"/", work, gone}));
    Show();
    QTest::mouseClick(Button("Command1"), Qt::LeftButton);
    QPointer<Form2> chooser = form_->chooser();
    QVERIFY(chooser != nullptr);
    auto* drive1 = chooser->findChild<QComboBox*>("Drive1");
    auto* dir1 = chooser->findChild<DirectoryList*>("Dir1");
    QVERIFY(QTest::qWaitForWindowExposed(chooser));

    // A volume that has gone: the chooser stays open in its folder; the path box stays empty.
    QVERIFY(PickEntry(*drive1, gone));
    QCOMPARE(form_->chooser(), chooser.data());
    QCOMPARE(dir1->path(), work);
    QCOMPARE(drive1->currentText(), work);
    QVERIFY(Text1()->text().isEmpty());
    QVERIFY(chooser->close());
    QTRY_VERIFY(chooser.isNull());
    QVERIFY(Text1()->text().isEmpty());

    // The same in a new chooser, then OK: the folder Dir1 stands in, which exists.
    QTest::mouseClick(Button("Command1"), Qt::LeftButton);
    chooser = form_->chooser();
    QVERIFY(QTest::qWaitForWindowExposed(chooser));
    QVERIFY(PickEntry(*chooser->findChild<QComboBox*>("Drive1"), gone));
    QVERIFY(Text1()->text().isEmpty());
    QTest::mouseClick(chooser->findChild<QPushButton*>("Command1"), Qt::LeftButton);
    QCOMPARE(Text1()->text(), work);
    QTRY_VERIFY(chooser.isNull());
}

void Form1Test::trailingSeparatorIsKeptAsTyped_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::newRow("one /") << "/";
    QTest::newRow("two /") << "//";
}

void Form1Test::trailingSeparatorIsKeptAsTyped()
{
    // The path goes to the run as typed: the output paths in List2 carry the typed separators
    // before the output folder, the input paths in List1 are shown short, the site converts.
    QFETCH(QString, suffix);
    MakeFolders(site_, {"news"});
    WriteFile(site_ / "news" / "a.htm", Bytes("C163C5E9 0A"));
    WriteFile(site_ / "index.htm", Bytes("C2E0B4AB"));
    Show();
    const QString typed = Q(site_) + suffix;
    StartRun(typed.toStdString(), "Command2");

    const QString site = Q(site_);
    QCOMPARE(Text1()->text(), typed);
    QCOMPARE(Items(List("List1")), QStringList({site + "/news/a.htm", site + "/index.htm"}));
    QCOMPARE(Items(List("List2")), QStringList({typed + "/GB/news/a.htm", typed + "/GB/index.htm"}));
    QVERIFY(Items(List("List2")).first().contains(suffix + "/GB/"));
    QCOMPARE(Label("Label5")->text(), QStringLiteral("繁轉簡轉換完成"));
    QCOMPARE(ReadFile(site_ / "GB" / "news" / "a.htm"), Bytes("B7B1CCE5 0D0A"));
    QCOMPARE(ReadFile(site_ / "GB" / "index.htm"), Bytes("D7AABBBB 0D0A"));
}

void Form1Test::trailingSpacesNameAnotherFolder_data()
{
    QTest::addColumn<QString>("spaces");
    QTest::addColumn<bool>("folderExists");
    QTest::newRow("one space, no such folder") << " " << false;
    QTest::newRow("two spaces, no such folder") << "  " << false;
    QTest::newRow("one space, folder there") << " " << true;
    QTest::newRow("two spaces, folder there") << "  " << true;
}

void Form1Test::trailingSpacesNameAnotherFolder()
{
    // "site " is not "site": a path typed with trailing spaces names the folder whose name ends in
    // them. The folder without them is never touched.
    QFETCH(QString, spaces);
    QFETCH(bool, folderExists);
    MakeFolders(site_, {"news"});
    WriteFile(site_ / "news" / "a.htm", Bytes("C163"));
    WriteFile(site_ / "index.htm", Bytes("C163"));
    const fs::path spaced = site_.string() + spaces.toStdString();
    if (folderExists) {
        MakeFolders(spaced, {"sub"});
        WriteFile(spaced / "sub" / "b.txt", Bytes("C2E0B4AB 0D0A A4A4"));
    }
    Show();
    const QString typed = Q(spaced);
    StartRun(spaced, "Command2");

    QCOMPARE(Text1()->text(), typed);
    QVERIFY(!fs::exists(site_ / "GB"));
    if (folderExists) {
        QCOMPARE(Items(List("List1")), QStringList({typed + "/sub/b.txt"}));
        QCOMPARE(Items(List("List2")), QStringList({typed + "/GB/sub/b.txt"}));
        QCOMPARE(Label("Label5")->text(), QStringLiteral("繁轉簡轉換完成"));
        QCOMPARE(ReadFile(spaced / "GB" / "sub" / "b.txt"), Bytes("D7AABBBB 0D0A D6D0 0D0A"));
    } else {
        QCOMPARE(Label("Label5")->text(), QStringLiteral("系統資料已損毀"));
        QCOMPARE(Items(List("List1")), QStringList({"系統資料已損毀！", "請重新安裝！"}));
        QCOMPARE(List("List2")->count(), 0);
        QVERIFY(!fs::exists(spaced));
    }
    QVERIFY(Button("Command2")->isEnabled());
    QVERIFY(Button("Command3")->isEnabled());
}

void Form1Test::textsFitAtEveryFontSize_data()
{
    QTest::addColumn<int>("points");
    for (int points : {8, 10, 11, 12, 14})
        QTest::addRow("%d pt", points) << points;
}

void Form1Test::textsFitAtEveryFontSize()
{
    // Every text the window can show fits whole in its control at the desktop's font size (also at
    // another QT_SCALE_FACTOR: ctest runs this again at 1.5 and 2).
    QFETCH(int, points);
    // The window made before the font changes, with its chooser open, follows it.
    const std::unique_ptr<Form1> earlier = std::move(form_);
    earlier->show();
    QTest::mouseClick(earlier->findChild<QPushButton*>("Command1"), Qt::LeftButton);
    QVERIFY(earlier->chooser() != nullptr);
    QFont font = QApplication::font();
    font.setPointSize(points);
    QApplication::setFont(font);
    form_ = std::make_unique<Form1>(desktop_.Make(Q(program_), Q(temp_->path() / "work")));
    Show();
    QCOMPARE(Label("Label5")->font().pointSize(), points);
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
        QCOMPARE(form_->devicePixelRatioF(), qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());
    const double factor = form_->twips().factor();
    QVERIFY(factor >= 1);
    QCOMPARE(earlier->twips().factor(), factor);
    QCOMPARE(earlier->size(), form_->size());
    for (const QWidget* control : form_->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        QCOMPARE(earlier->findChild<QWidget*>(control->objectName())->geometry(), control->geometry());
    QCOMPARE(earlier->chooser()->size(), Twips(factor).Size(3135, 3270));

    // Each text shows whole as its label draws it (see LabelFits).
    const struct {
        const char* label;
        QStringList texts;
    } labelTexts[] = {
        {"Label5", {"繁轉簡轉換中", "簡轉繁轉換中", "繁轉簡轉換完成", "簡轉繁轉換完成", "系統資料已損毀"}},
        // The longest name, and one as long whose last line reaches below the baseline.
        {"Label6", {"檔名 index.htm", "檔名 taipei-city-news-archive-2024-spring.htm", "檔名 中華民國一百一十三年度預算書.htm",
                    "檔名 " + QString::fromLatin1(Form1::kLongestShownName), "檔名 abcdefghijklmnopqrstuvwxyz0123456789.jsp"}},
        {"Label7", {"第 1 檔案", "第 99999 檔案"}},
        {"Label9", {"第 1 字", "第 99999999 字"}},
        {"Label1", {Label("Label1")->text()}},
        {"Label2", {Label("Label2")->text()}},
        {"Label3", {"網站"}},
        {"Label4", {Label("Label4")->text()}},
    };
    for (const auto& [name, texts] : labelTexts) {
        for (const QString& text : texts)
            QVERIFY2(LabelFits(Label(name), text), qPrintable(QStringLiteral("%1: %2 at %3 pt").arg(name, text).arg(points)));
    }
    // The maker's texts are the defaults, which must fit.
    QCOMPARE(Label("Label1")->text(), QStringLiteral("網站繁簡轉換由 fanjian 開發團隊製作，意見請來信："));
    QCOMPARE(Label("Label2")->text(), QStringLiteral("dev@fanjian.test"));
    QCOMPARE(Label("Label4")->text(), QStringLiteral("www.fanjian.test"));

    // Each caption as drawn lies inside the frame the style draws (see CaptionFits).
    for (const char* name : {"Command1", "Command2", "Command3"})
        QVERIFY2(CaptionFits(Button(name)), name);
    QTest::mouseClick(Button("Command1"), Qt::LeftButton);
    Form2* chooser = form_->chooser();
    QVERIFY(chooser != nullptr);
    QVERIFY(CaptionFits(chooser->findChild<QPushButton*>("Command1")));
    // The chooser follows the same factor.
    QCOMPARE(chooser->size(), Twips(factor).Size(3135, 3270));
    QCOMPARE(chooser->findChild<QPushButton*>("Command1")->geometry(), Twips(factor).Rect(2520, 120, 615, 375));

    // The factor is the smallest that fits these texts and the name of 40 characters the program
    // sizes Label6 for: a 64th less and one of them would not fit.
    if (factor > 1) {
        const Twips less(factor - 1.0 / 64);
        Form1 smaller(desktop_.Make(Q(program_), "/"));
        bool allFit = true;
        for (const auto& [name, texts] : labelTexts) {
            auto* label = smaller.findChild<QLabel*>(name);
            label->resize(less.Size(kTwips.value(name).width(), kTwips.value(name).height()));
            for (const QString& text : texts)
                allFit &= LabelFits(label, text);
        }
        for (const char* name : {"Command1", "Command2", "Command3"}) {
            auto* button = smaller.findChild<QPushButton*>(name);
            button->resize(less.Size(kTwips.value(name).width(), kTwips.value(name).height()));
            allFit &= CaptionFits(button);
        }
        QVERIFY2(!allFit, qPrintable(QString::number(factor)));
    }
}

void Form1Test::listsShowTheirItemsAtEveryEventPass()
{
    // A run over many files: at every pass over the events, both lists show on screen every item
    // they held at the pass before, as far as the rows reach (the lists do not scroll by themselves).
    for (const char* sub : {"a", "b", "c"}) {
        MakeFolders(site_, {sub});
        for (int i = 0; i < 40; ++i)
            WriteFile(site_ / sub / ("page" + std::to_string(i) + ".htm"), Bytes("C163C5E9 0A"));
    }
    Show();
    form_->setEventPassInterval({});
    QListWidget* lists[] = {List("List1"), List("List2")};
    lists[0]->addItem("x");
    const int rowHeight = lists[0]->visualItemRect(lists[0]->item(0)).height();
    lists[0]->clear();
    QVERIFY(rowHeight > 0);

    int counts[2] = {0, 0};
    int passes = 0;
    int checkedRows = 0;
    QStringList unpainted;
    EveryEventPass probe([&] {
        if (!form_->isRunning())
            return;
        ++passes;
        const QImage screen = form_->screen()->grabWindow(form_->winId()).toImage();
        for (int l = 0; l < 2; ++l) {
            QListWidget* list = lists[l];
            QVERIFY(list->verticalScrollBar()->value() == 0);
            const QPoint origin = list->viewport()->mapTo(form_.get(), QPoint(0, 0));
            const int visibleRows = std::min(counts[l], list->viewport()->height() / rowHeight);
            for (int row = 0; row < visibleRows; ++row) {
                ++checkedRows;
                if (InkIn(screen, QRect(origin + QPoint(0, row * rowHeight), QSize(list->viewport()->width(), rowHeight))) == 0)
                    unpainted << QStringLiteral("pass %1: %2 row %3").arg(passes).arg(list->objectName()).arg(row);
            }
            counts[l] = list->count();
        }
    });
    StartRun(site_, "Command2");

    QCOMPARE(Label("Label5")->text(), QStringLiteral("繁轉簡轉換完成"));
    QCOMPARE(List("List2")->count(), 120);
    QVERIFY(passes > 100);
    QVERIFY(checkedRows > 1000);
    QVERIFY2(unpainted.isEmpty(), qPrintable(unpainted.mid(0, 10).join('\n')));
}

void Form1Test::listItemsShowTheEndOfTheirPathAndTheWholeInTheirTooltip()
{
    // Long paths: each row shows the file's name at its end, not the common start of all paths,
    // without a sideways scroll bar; the item's text and its tooltip are the whole path.
    const fs::path deep = site_ / "a-folder-with-a-rather-long-name" / "and-another-one-inside-it";
    const fs::path sub = site_ / "section-with-a-long-name";
    MakeFolders(site_, {"section-with-a-long-name"});
    WriteFile(sub / "first-page.htm", Bytes("C163"));
    WriteFile(sub / "second-page.htm", Bytes("C163"));
    WriteFile(sub / "third-page-in-utf-16.txt", std::string("\xFF\xFE" "a\0", 4));
    Show();
    StartRun(site_, "Command2");
    const QString first = Q(sub / "first-page.htm");
    const QString third = Q(sub / "third-page-in-utf-16.txt");
    const QString skipped = QStringLiteral("略過 UTF-16 檔案 ") + third;
    QCOMPARE(Items(List("List1")), QStringList({first, Q(sub / "second-page.htm"), third, skipped}));

    for (QListWidget* list : {List("List1"), List("List2")}) {
        QVERIFY(list->horizontalScrollBar()->maximum() == 0 || !list->horizontalScrollBar()->isVisible());
        QCOMPARE(list->textElideMode(), Qt::ElideLeft);
        QVERIFY(list->visualItemRect(list->item(0)).right() <= list->viewport()->rect().right());
        QCOMPARE(ToolTipOver(list, 0), list->item(0)->text());
        QCOMPARE(ToolTipOver(list, 1), list->item(1)->text());
    }
    // On screen, the row's right end shows ink (the name) and its text does not fit whole.
    QListWidget* list = List("List1");
    QVERIFY(QFontMetrics(list->font()).horizontalAdvance(first) > list->viewport()->width());
    const QImage shown = list->viewport()->grab().toImage();
    const QRect row = list->visualItemRect(list->item(0));
    QVERIFY(InkIn(shown, QRect(row.right() - row.width() / 4, row.top(), row.width() / 4 - 4, row.height())) > 0);
    // A row that says why a file was left out starts with the reason (a character's ink), where a
    // path's row starts with an ellipsis (three dots' ink).
    QVERIFY(QFontMetrics(list->font()).horizontalAdvance(skipped) > list->viewport()->width());
    const int em = QFontMetrics(list->font()).height();
    const QRect reasonRow = list->visualItemRect(list->item(3));
    const int reasonInk = InkIn(shown, QRect(reasonRow.left() + 2, reasonRow.top(), em, reasonRow.height()));
    QVERIFY2(reasonInk > 2 * InkIn(shown, QRect(row.left() + 2, row.top(), em, row.height())),
             qPrintable(QStringLiteral("ink at the start of the row: %1").arg(reasonInk)));

    // Focus shows in the empty list at start: the empty list looks different with the focus.
    form_ = std::make_unique<Form1>(desktop_.Make(Q(program_), Q(temp_->path() / "work")));
    Show();
    QListWidget* empty = List("List1");
    QCOMPARE(QApplication::focusWidget(), empty);
    const QImage focused = empty->viewport()->grab().toImage();
    List("List2")->setFocus();
    const QImage unfocused = empty->viewport()->grab().toImage();
    QVERIFY(focused != unfocused);
    List("List1")->setFocus();
    QCOMPARE(empty->viewport()->grab().toImage(), focused);
}

void Form1Test::failuresAndRejectionsTellTheirCauseInTooltips_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("cause");
    QTest::newRow("nothing typed") << "empty" << "請輸入以 / 開頭的完整資料夾路徑";
    QTest::newRow("a relative path") << "relative" << "「site」不是完整路徑：請輸入以 / 開頭的完整資料夾路徑";
    QTest::newRow("the root") << "root" << "不能轉換根資料夾「/」：請輸入 / 底下的資料夾的完整路徑";
    QTest::newRow("a folder that is not there") << "missing" << "找不到這個資料夾或檔案：%1/nowhere";
    QTest::newRow("a file named GB") << "file GB" << "路徑中有一項不是資料夾：%1/GB";
    QTest::newRow("a damaged dictionary") << "dictionary" << "字典檔已損毀或無法讀取";
    QTest::newRow("an output that is a FIFO") << "fifo" << "這不是一般檔案（是資料夾、FIFO、socket 或裝置）：%1/GB/a.htm";
}

void Form1Test::failuresAndRejectionsTellTheirCauseInTooltips()
{
    // The texts stay as they are; their tooltips name the cause.
    QFETCH(QString, kind);
    QFETCH(QString, cause);
    cause = cause.arg(Q(site_), Q(program_));
    WriteFile(site_ / "a.htm", Bytes("C163"));
    QString typed = Q(site_);
    if (kind == "empty")
        typed.clear();
    else if (kind == "relative")
        typed = "site";
    else if (kind == "root")
        typed = "/";
    else if (kind == "missing")
        typed = Q(site_ / "nowhere");
    else if (kind == "file GB")
        WriteFile(site_ / "GB", "a file");
    else if (kind == "dictionary")
        WriteFile(program_ / "mervik.pcx", "not a dictionary at all, just text");
    else if (kind == "fifo") {
        MakeFolders(site_, {"GB"});
        QVERIFY(::mkfifo((site_ / "GB" / "a.htm").c_str(), 0600) == 0);
    }
    Show();
    Text1()->setFocus();
    QTest::keyClicks(Text1(), typed);
    QTest::mouseClick(Button("Command2"), Qt::LeftButton);

    QListWidget* list1 = List("List1");
    const bool rejected = kind == "empty" || kind == "relative" || kind == "root";
    if (rejected) {
        QCOMPARE(Items(list1), QStringList({"未輸入轉換路徑"}));
        QCOMPARE(ToolTipOver(list1, 0), cause);
        QVERIFY(Label("Label5")->text().isEmpty());
        return;
    }
    QCOMPARE(Label("Label5")->text(), QStringLiteral("系統資料已損毀"));
    QCOMPARE(Items(list1).mid(list1->count() - 2), QStringList({"系統資料已損毀！", "請重新安裝！"}));
    // The dictionary's path where the run names it.
    const QString tip = Label("Label5")->toolTip();
    QVERIFY2(tip == cause || (kind == "dictionary" && tip.startsWith(cause + "：")), qPrintable(tip));
    QCOMPARE(ToolTipOver(list1, list1->count() - 2), tip);
    QCOMPARE(ToolTipOver(list1, list1->count() - 1), tip);
    // The next run starts without the old cause.
    Text1()->clear();
    QTest::mouseClick(Button("Command2"), Qt::LeftButton);
    QVERIFY(Label("Label5")->toolTip().isEmpty());
}

void Form1Test::failureReasonsNameTheCause_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("problem");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reason");
    const int file = static_cast<int>(RunFailure::Kind::File);
    QTest::newRow("disk full") << file << ENOSPC << false << "/s/GB/a.htm" << "磁碟空間不足：/s/GB/a.htm";
    QTest::newRow("quota") << file << EDQUOT << false << "/s/GB/a.htm" << "磁碟空間不足：/s/GB/a.htm";
    QTest::newRow("permission") << file << EACCES << false << "/s/b" << "沒有權限：/s/b";
    QTest::newRow("not found") << file << ENOENT << false << "/s" << "找不到這個資料夾或檔案：/s";
    QTest::newRow("read-only") << file << EROFS << false << "/s/GB" << "磁碟是唯讀的：/s/GB";
    QTest::newRow("a link at the output") << file << static_cast<int>(FileProblem::LinkAtPath) << true << "/s/GB/a.htm"
                                          << "輸出的位置是符號連結：/s/GB/a.htm";
    QTest::newRow("an input as output") << file << static_cast<int>(FileProblem::InputFile) << true << "/s/GB/a.htm"
                                         << "輸出會寫到要轉換的檔案上：/s/GB/a.htm";
    QTest::newRow("a Big5 name") << file << EIO << false << std::string("/s/\\xA4\\xA4.htm").c_str()
                                 << "磁碟讀寫錯誤：/s/中.htm";
    QTest::newRow("an unknown error") << file << EXDEV << false << "/s" << "系統錯誤 18（Invalid cross-device link）：/s";
    QTest::newRow("dictionary") << static_cast<int>(RunFailure::Kind::Dictionary) << 0 << false << "/p/mervik.pcx"
                                << "字典檔已損毀或無法讀取：/p/mervik.pcx";
    QTest::newRow("dictionary row") << static_cast<int>(RunFailure::Kind::Dictionary) << 0 << false << ""
                                    << "字典檔已損毀或無法讀取";
}

void Form1Test::failureReasonsNameTheCause()
{
    QFETCH(int, kind);
    QFETCH(int, error);
    QFETCH(bool, problem);
    QFETCH(QString, path);
    QFETCH(QString, reason);
    RunFailure failure{static_cast<RunFailure::Kind>(kind), "a message", path.toStdString(), {}};
    if (path.contains("\\x"))
        failure.path = "/s/" + Bytes("A4A4") + ".htm";
    if (error != 0)
        failure.error = problem ? make_error_code(static_cast<FileProblem>(error)) : std::error_code(error, std::generic_category());
    QCOMPARE(FailureReason(failure), reason);
}

void Form1Test::foldersNamedInAnyBytesAreChosenAndConverted_data()
{
    // A folder named in Big5, in GB2312 or in bytes valid in neither, with a file and a subfolder
    // of Big5 names: listed and chosen in the chooser, shown readably, converted to the exact bytes.
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("typed");
    QTest::newRow("Big5, chosen") << QByteArray::fromHex("C163C5E9BAF4AFB8") << "繁體網站" << false;
    QTest::newRow("GB2312, chosen") << QByteArray::fromHex("BCF2CCE5CDF8D5BE") << "简体网站" << false;
    QTest::newRow("invalid bytes, chosen") << QByteArray("site\xFF\xFE\x80!") << "site\\xFF\\xFE\\x80!" << false;
    QTest::newRow("UTF-8, chosen") << QByteArray("網站") << "網站" << false;
    QTest::newRow("Big5, typed as shown") << QByteArray::fromHex("C163C5E9BAF4AFB8") << "繁體網站" << true;
    QTest::newRow("invalid bytes, typed as shown") << QByteArray("site\xFF\xFE") << "site\\xFF\\xFE" << true;
}

void Form1Test::foldersNamedInAnyBytesAreChosenAndConverted()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, shown);
    QFETCH(bool, typed);
    const fs::path work = temp_->path() / "work";
    const fs::path folder = work / name.toStdString();
    const fs::path sub = folder / Bytes("A4A4A4E5"); // 中文, in Big5
    const std::string file = Bytes("BAF4AFB8") + ".htm"; // 網站.htm, in Big5
    fs::create_directories(sub);
    WriteFile(sub / file, Bytes("C163C5E9 0A"));
    WriteFile(folder / "index.htm", Bytes("C2E0B4AB"));
    Show();
    const QString workPath = Q(work);

    if (typed) {
        Text1()->setFocus();
        Type(Text1(), workPath + "/" + shown);
    } else {
        QTest::mouseClick(Button("Command1"), Qt::LeftButton);
        Form2* chooser = form_->chooser();
        QVERIFY(QTest::qWaitForWindowExposed(chooser));
        auto* dir1 = chooser->findChild<DirectoryList*>("Dir1");
        QTreeWidgetItem* entry = EntryFor(*dir1, workPath + "/" + ExactPath(name.toStdString()));
        QVERIFY(entry != nullptr);
        QCOMPARE(entry->text(0), shown);
        DoubleClickEntry(*dir1, entry);
        QTreeWidgetItem* subEntry = EntryFor(*dir1, dir1->path() + "/" + ExactPath(Bytes("A4A4A4E5")));
        QVERIFY(subEntry != nullptr);
        QCOMPARE(subEntry->text(0), QStringLiteral("中文"));
        QTest::mouseClick(chooser->findChild<QPushButton*>("Command1"), Qt::LeftButton);
    }
    QCOMPARE(Text1()->text(), workPath + "/" + shown);
    QTest::mouseClick(Button("Command2"), Qt::LeftButton);

    QCOMPARE(Label("Label5")->text(), QStringLiteral("繁轉簡轉換完成"));
    const QString site = workPath + "/" + shown;
    QCOMPARE(Items(List("List1")), QStringList({site + "/中文/網站.htm", site + "/index.htm"}));
    QCOMPARE(Items(List("List2")), QStringList({site + "/GB/中文/網站.htm", site + "/GB/index.htm"}));
    QCOMPARE(Label("Label6")->text(), QStringLiteral("檔名 index.htm"));
    QCOMPARE(ReadFile(folder / "GB" / Bytes("A4A4A4E5") / file), Bytes("B7B1CCE5 0D0A"));
    QCOMPARE(ReadFile(folder / "GB" / "index.htm"), Bytes("D7AABBBB 0D0A"));

    // Edited in the box: a subfolder typed after the chosen or typed folder converts too, the
    // folder's bytes still the chosen ones.
    Text1()->setFocus();
    Text1()->end(false);
    Type(Text1(), "/中文");
    QTest::mouseClick(Button("Command3"), Qt::LeftButton);
    QCOMPARE(Label("Label5")->text(), QStringLiteral("簡轉繁轉換完成"));
    QCOMPARE(Items(List("List2")), QStringList({site + "/中文/BIG5/網站.htm"}));
    QVERIFY(fs::exists(sub / "BIG5" / file));
}

QTEST_MAIN(Form1Test)
#include "Form1Test.moc"
