// The main window: its controls, the links, the folder chooser and whole runs started by clicks.
#include "ShellTestSupport.h"
#include "TestSupport.h"
#include "shell/Form1.h"
#include "shell/Form2.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <memory>

using namespace fanjian;
using namespace fanjian::testing;
namespace fs = std::filesystem;

namespace {

// Big5 and GB2312 codes of 繁 體 轉 換 中.
const std::vector<std::pair<int, int>> kDictionary = {
    {0xC163, 0xB7B1}, {0xC5E9, 0xCCE5}, {0xC2E0, 0xD7AA}, {0xB4AB, 0xBBBB}, {0xA4A4, 0xD6D0}};

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

// Calls `step` at every pass the window makes over its events, from inside a run's yields.
class EveryEventPass {
public:
    explicit EveryEventPass(std::function<void()> step)
    {
        QObject::connect(&timer_, &QTimer::timeout, std::move(step));
        timer_.start(0);
    }

private:
    QTimer timer_;
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
};

void Form1Test::init()
{
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
}

void Form1Test::controlsAndStartState()
{
    Show();
    QVERIFY(!form_->windowTitle().isEmpty());
    QVERIFY(!form_->windowIcon().isNull());
    QCOMPARE(form_->windowIcon().availableSizes().value(0), QSize(16, 16));
    QCOMPARE(form_->size(), QSize(481, 331));
    QCOMPARE(form_->minimumSize(), form_->maximumSize());
    QVERIFY(!(form_->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    const QRect screen = form_->screen()->geometry();
    QCOMPARE(form_->frameGeometry().topLeft(),
             screen.topLeft() + QPoint((screen.width() - 481) / 2, (screen.height() - 331) / 2));
    QCOMPARE(form_->programDirectory(), Q(program_));

    // Name, kind, geometry in pixels (Label1 to Label4 inside Frame1), caption where it is fixed.
    struct Expected {
        const char* name;
        const char* kind;
        QRect geometry;
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
    auto check = [this](const Expected& expected, const QWidget* parent) {
        const QWidget* control = Control<QWidget>(expected.name);
        QVERIFY2(control != nullptr && control->inherits(expected.kind), expected.name);
        QVERIFY2(control->parentWidget() == parent, expected.name);
        QVERIFY2(control->geometry() == expected.geometry, expected.name);
        QVERIFY2(expected.text.isNull() || control->property("text").toString() == expected.text, expected.name);
    };
    for (const Expected& expected : windowControls)
        check(expected, form_.get());
    for (const Expected& expected : frameControls)
        check(expected, Control<QWidget>("Frame1"));

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

    // The program directory keeps no trailing separator, except the root's.
    QCOMPARE(Form1(desktop_.Make("/opt/fanjian/", "/")).programDirectory(), QStringLiteral("/opt/fanjian"));
    QCOMPARE(Form1(desktop_.Make("/", "/")).programDirectory(), QStringLiteral("/"));
}

void Form1Test::focusStartsInList1AndFollowsTheOrder()
{
    Show();
    QCOMPARE(QApplication::focusWidget(), List("List1"));
    for (const char* next : {"List2", "Text1", "Command1", "Command2", "Command3", "List1"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QString::fromLatin1(next));
    }
    // Enter in the path box starts nothing.
    Text1()->setFocus();
    QTest::keyClicks(Text1(), Q(site_));
    QTest::keyClick(Text1(), Qt::Key_Return);
    QCOMPARE(List("List1")->count(), 0);
    QVERIFY(Label("Label5")->text().isEmpty());
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

QTEST_MAIN(Form1Test)
#include "Form1Test.moc"
