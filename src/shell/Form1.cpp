#include "shell/Form1.h"

#include "conversion/ConversionRun.h"
#include "conversion/ShownText.h"
#include "shell/Accessibility.h"
#include "shell/BoxLabel.h"
#include "shell/Form2.h"
#include "shell/LinkLabel.h"
#include "shell/Maker.h"
#include "shell/Names.h"
#include "shell/ProgressList.h"
#include "shell/Reasons.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>

#include <cstdio>

namespace fanjian {

namespace {

QString FromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

constexpr std::string_view kFileNamePrefix = "檔名 ";

void SetUnderline(QLabel* label, bool underline)
{
    if (label->font().underline() == underline)
        return;
    QFont font = label->font();
    font.setUnderline(underline);
    label->setFont(font);
}

// Disables both conversion buttons while a run lasts, so that no second run can start from a
// click handled inside the first one's yields. A button pressed from the keyboard gets the focus
// back afterwards, unless the user moved it during the run: disabled, it loses the focus to the
// next control in the tab order.
class RunningState {
public:
    RunningState(bool& running, QPushButton* first, QPushButton* second)
        : running_(running)
        , first_(first)
        , second_(second)
    {
        running_ = true;
        QWidget* focused = QApplication::focusWidget();
        first_->setEnabled(false);
        second_->setEnabled(false);
        if (focused == first_ || focused == second_) {
            focusedButton_ = focused;
            focusedInstead_ = QApplication::focusWidget();
        }
    }
    ~RunningState()
    {
        first_->setEnabled(true);
        second_->setEnabled(true);
        running_ = false;
        if (focusedButton_ != nullptr && QApplication::focusWidget() == focusedInstead_)
            focusedButton_->setFocus(Qt::OtherFocusReason);
    }
    RunningState(const RunningState&) = delete;
    RunningState& operator=(const RunningState&) = delete;

private:
    bool& running_;
    QPushButton* first_;
    QPushButton* second_;
    QWidget* focusedButton_ = nullptr;
    QPointer<QWidget> focusedInstead_;
};

} // namespace

Form1::Form1(Desktop desktop, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
    , desktop_(std::move(desktop))
    , FFile(WithoutTrailingSeparator(desktop_.programDirectory))
{
    InstallAccessibleInterfaces();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("網站繁簡轉換"));
    setWindowIcon(ProgramIcon());
    BuildControls();
    LayOut();

    sourceList_->setFocus();
    CentreOnScreen(*this, twips_.factor());
}

void Form1::LayOut()
{
    // The chooser's OK button in the application's font and style, for its caption's sake.
    const QPushButton chooserOk(QString::fromUtf8(Form2::kOkCaption));
    twips_ = Twips(FittingFactor(TextBoxes(chooserOk)));
    for (const Placed& placed : placed_)
        placed.control->setGeometry(twips_.Rect(placed.twips.x(), placed.twips.y(), placed.twips.width(), placed.twips.height()));
    setFixedSize(twips_.Size(7215, 4965));
    if (chooser_)
        chooser_->LayOut(twips_);
}

void Form1::StyleMakerFrame()
{
    // The caption sits on the frame's top line, as a classic frame draws it; the labels inside keep
    // their places below it. A widget under a style sheet keeps the palette it had when the sheet
    // was set: set anew, it takes the desktop's palette of now.
    makerFrame_->setStyleSheet({});
    makerFrame_->setStyleSheet(QStringLiteral("QGroupBox#Frame1 { border: 1px solid palette(mid); border-radius: 2px;"
                                              " margin-top: 0.5em; }"
                                              "QGroupBox#Frame1::title { subcontrol-origin: margin; left: 6px;"
                                              " padding: 0 2px; }"));
}

void Form1::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // The desktop's font changed while the program runs: the controls have theirs already.
    if (event->type() == QEvent::FontChange)
        LayOut();
    // Its palette changed (a dark one, or back): the frame and its labels, the links included,
    // take it too.
    if (event->type() == QEvent::PaletteChange)
        StyleMakerFrame();
}

Form1::~Form1()
{
    delete chooser_.data();
}

template <class Control>
Control* Form1::Place(Control* control, const char* name, const QRect& twips)
{
    control->setObjectName(QString::fromLatin1(name));
    placed_.push_back({control, twips});
    return control;
}

void Form1::BuildControls()
{
    auto label = [this](QWidget* parent, const char* name, const QRect& twips, const QString& text = {},
                        Qt::Alignment horizontal = Qt::AlignLeft) {
        auto* control = Place(new BoxLabel(text, parent), name, twips);
        control->setAlignment(horizontal | Qt::AlignTop);
        return control;
    };
    auto button = [this](const char* name, const QRect& twips, const QString& caption) {
        auto* control = Place(new QPushButton(caption, this), name, twips);
        control->setAutoDefault(false);
        PressWithEnter(*control);
        return control;
    };
    auto link = [this](const char* name, const QRect& twips, const QString& text) {
        auto* control = Place(new LinkLabel(text, makerFrame_), name, twips);
        control->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        connect(control, &LinkLabel::activated, this, [this, control] { OpenLink(control); });
        return control;
    };
    pathBox_ = Place(new QLineEdit(this), "Text1", QRect(0, 120, 4335, 270));
    chooserButton_ = button("Command1", QRect(4440, 120, 1095, 255), QStringLiteral("轉檔路徑"));
    sourceList_ = Place(new ProgressList(this), "List1", QRect(0, 480, 2775, 3480));
    resultList_ = Place(new ProgressList(this), "List2", QRect(4320, 480, 2895, 3480));
    toSimplifiedButton_ = button("Command2", QRect(2880, 600, 1335, 375), QStringLiteral("繁體轉簡體"));
    toTraditionalButton_ = button("Command3", QRect(2880, 1200, 1335, 375), QStringLiteral("簡體轉繁體"));
    statusLabel_ = label(this, "Label5", QRect(2880, 1680, 1335, 255));
    fileNameLabel_ = label(this, "Label6", QRect(2880, 2040, 1335, 735));
    // A file name is one long word: its lines fill up to the edge.
    static_cast<BoxLabel*>(fileNameLabel_)->setWrapMode(QTextOption::WrapAnywhere);
    fileCountLabel_ = label(this, "Label7", QRect(2880, 2880, 1335, 255), {}, Qt::AlignHCenter);
    characterCountLabel_ = label(this, "Label9", QRect(2880, 3120, 1335, 255), {}, Qt::AlignHCenter);

    makerFrame_ = Place(new QGroupBox(QString::fromUtf8(maker::kCaption), this), "Frame1", QRect(0, 4080, 7215, 855));
    StyleMakerFrame();
    contactLabel_ = label(makerFrame_, "Label1", QRect(120, 240, 5175, 255), QString::fromUtf8(maker::kContactLine));
    mailLink_ = link("Label2", QRect(5265, 240, 1810, 255), QString::fromUtf8(maker::kMailAddress));
    webCaption_ = label(makerFrame_, "Label3", QRect(120, 480, 375, 255), QStringLiteral("網站"));
    webLink_ = link("Label4", QRect(600, 480, 2055, 255), QString::fromUtf8(maker::kWebAddress));
    notice_ = new Notice(this);

    // What a screen reader says of the controls that show no text of their own; the labels are
    // named by their text.
    pathBox_->setAccessibleName(QStringLiteral("要轉換的資料夾路徑"));
    sourceList_->setAccessibleName(QStringLiteral("來源檔案"));
    resultList_->setAccessibleName(QStringLiteral("轉換後的檔案"));
    // Movement over the frame's bare surface and over the links switches the underline; movement
    // over the other two labels must not reach the frame.
    for (QWidget* watched : {static_cast<QWidget*>(makerFrame_), static_cast<QWidget*>(mailLink_), static_cast<QWidget*>(webLink_)}) {
        watched->setMouseTracking(true);
        watched->installEventFilter(this);
    }
    contactLabel_->setAttribute(Qt::WA_NoMousePropagation);
    webCaption_->setAttribute(Qt::WA_NoMousePropagation);

    setTabOrder(sourceList_, resultList_);
    setTabOrder(resultList_, pathBox_);
    setTabOrder(pathBox_, chooserButton_);
    setTabOrder(chooserButton_, toSimplifiedButton_);
    setTabOrder(toSimplifiedButton_, toTraditionalButton_);
    setTabOrder(toTraditionalButton_, mailLink_);
    setTabOrder(mailLink_, webLink_);

    connect(chooserButton_, &QPushButton::clicked, this, &Form1::ShowChooser);
    connect(toSimplifiedButton_, &QPushButton::clicked, this, [this] { StartRun(ConversionDirection::TraditionalToSimplified); });
    connect(toTraditionalButton_, &QPushButton::clicked, this, [this] { StartRun(ConversionDirection::SimplifiedToTraditional); });
}

std::vector<TextBox> Form1::TextBoxes(const QWidget& chooserOk) const
{
    auto placed = [this](const QWidget* control) {
        for (const Placed& entry : placed_) {
            if (entry.control == control)
                return entry.twips;
        }
        return QRect();
    };
    auto box = [&placed](const QWidget* control, QStringList texts) { return TextBox{control, placed(control), std::move(texts)}; };
    auto own = [](const QWidget* control) { return control->property("text").toString(); };
    const QString status[] = {FromUtf8(texts::Status(ConversionDirection::TraditionalToSimplified)),
                              FromUtf8(texts::Status(ConversionDirection::SimplifiedToTraditional)),
                              FromUtf8(texts::Completion(ConversionDirection::TraditionalToSimplified)),
                              FromUtf8(texts::Completion(ConversionDirection::SimplifiedToTraditional)),
                              FromUtf8(texts::kFailureStatus)};
    return {
        box(chooserButton_, {own(chooserButton_)}),
        box(toSimplifiedButton_, {own(toSimplifiedButton_)}),
        box(toTraditionalButton_, {own(toTraditionalButton_)}),
        box(statusLabel_, QStringList(std::begin(status), std::end(status))),
        box(fileNameLabel_, {FromUtf8(kFileNamePrefix) + QLatin1String(kLongestShownName)}),
        box(fileCountLabel_, {QStringLiteral("第 99999 檔案")}),
        box(characterCountLabel_, {QStringLiteral("第 99999999 字")}),
        box(contactLabel_, {own(contactLabel_)}),
        box(mailLink_, {own(mailLink_)}),
        box(webCaption_, {own(webCaption_)}),
        box(webLink_, {own(webLink_)}),
        TextBox{&chooserOk, Form2::kOkTwips, {own(&chooserOk)}},
    };
}

QString Form1::texts() const
{
    const QPushButton chooserOk(QString::fromUtf8(Form2::kOkCaption));
    QStringList all = {windowTitle(), makerFrame_->title(), QString::fromUtf8(Form2::kTitle)};
    for (const std::string_view item : {texts::kPathMissing, texts::kFailureItem, texts::kReinstallItem})
        all.append(FromUtf8(item));
    for (const TextBox& box : TextBoxes(chooserOk))
        all.append(box.texts);
    return all.join(QString());
}

Form2* Form1::chooser() const
{
    return chooser_ != nullptr && chooser_->isVisible() ? chooser_.data() : nullptr;
}

void Form1::ShowChooser()
{
    if (Form2* open = chooser()) {
        open->setWindowState(open->windowState() & ~Qt::WindowMinimized);
        open->raise();
        open->activateWindow();
        return;
    }
    // A chooser that was closed is deleted by Qt in its own time; a new one starts afresh.
    chooser_ = new Form2(desktop_.workingFolder, desktop_.volumes ? desktop_.volumes() : QStringList(), twips_);
    connect(chooser_, &Form2::folderChosen, this, [this](const QString& folder) {
        chosenFolder_ = folder;
        pathBox_->setText(ReadablePath(folder));
    });
    chooser_->show();
}

void Form1::StartRun(ConversionDirection direction)
{
    if (running_)
        return;
    const std::string folderPath = FolderPathBytes(pathBox_->text(), chosenFolder_);
    const std::string programDirectory = PathBytes(FFile);
    statusLabel_->setToolTip({});
    const RunningState running(running_, toSimplifiedButton_, toTraditionalButton_);
    characterCountPending_ = false;
    fileName_.pending = fileCount_.pending = characterCountShown_.pending = false;
    // The run's first yield handles the events at once.
    const auto start = std::chrono::steady_clock::now();
    pacer_.Restart(start);
    lastEventPass_ = start - eventPassInterval_;
    RunResult result{RunOutcome::Completed, {}};
    try {
        result = ConversionRun().Run(direction, folderPath, programDirectory, *this);
    } catch (const ProgramClosing&) {
        ShowPendingTexts();
        ShowAddedItems(true);
        return; // the window is closed and the program is ending
    }
    ShowPendingTexts();
    ShowAddedItems(true);
    ShowOutcome(result, folderPath);
}

void Form1::ShowOutcome(const RunResult& result, const std::string& folderPath)
{
    // The texts stay as the run showed them; the cause goes into their tooltips and, for whoever
    // started the program from a terminal or reads its log, onto standard error. A screen reader
    // hears the last text of the run, with the cause.
    std::string line;
    QString heard = statusLabel_->text();
    if (result.outcome == RunOutcome::PathRejected) {
        const QString reason = RejectionReason(folderPath);
        sourceList_->setLastItemToolTip(reason);
        if (const QListWidgetItem* item = sourceList_->item(sourceList_->count() - 1))
            heard = item->text() + QStringLiteral("。") + reason;
        line = RejectionMessage(folderPath);
    } else if (result.outcome == RunOutcome::Failed && result.failure) {
        const QString reason = FailureReason(*result.failure);
        statusLabel_->setToolTip(reason);
        for (int row = sourceList_->count() - 2; row < sourceList_->count(); ++row) {
            if (QListWidgetItem* item = sourceList_->item(row))
                item->setToolTip(reason);
        }
        heard += QStringLiteral("。") + reason;
        line = result.failure->message;
    }
    notice_->announce(heard);
    if (line.empty())
        return;
    // Names are shown, never obeyed, also by a terminal that shows the log later.
    line = "fanjian: " + EscapeControls(line) + "\n";
    // Nothing more can be done where standard error takes no more.
    if (std::fwrite(line.data(), 1, line.size(), stderr) == line.size())
        std::fflush(stderr);
}

void Form1::ShowAddedItems(bool now)
{
    sourceList_->showAddedItems(now);
    resultList_->showAddedItems(now);
}

void Form1::setEventPassInterval(std::chrono::microseconds interval)
{
    eventPassInterval_ = interval;
    const auto showInterval = interval.count() == 0 ? std::chrono::milliseconds(0) : ProgressList::kShowInterval;
    sourceList_->setShowInterval(showInterval);
    resultList_->setShowInterval(showInterval);
}

void Form1::ClearSourceList()
{
    sourceList_->clearItems();
    OtherTextShown();
}

void Form1::AddSourceListItem(std::string_view text)
{
    sourceList_->addItemLater(ReadablePath(text));
    OtherTextShown();
}

void Form1::ClearResultList()
{
    resultList_->clearItems();
    OtherTextShown();
}

void Form1::AddResultListItem(std::string_view text)
{
    resultList_->addItemLater(ReadablePath(text));
    OtherTextShown();
}

void Form1::ShowStatus(std::string_view text)
{
    statusLabel_->setText(FromUtf8(text));
    OtherTextShown();
}

void Form1::ShowFileName(std::string_view text)
{
    fileName_.text.assign(text);
    fileName_.pending = true;
    OtherTextShown();
}

void Form1::ShowFileCount(std::string_view text)
{
    fileCount_.text.assign(text);
    fileCount_.pending = true;
    OtherTextShown();
}

void Form1::ShowCharacterCount(std::string_view text)
{
    // The run keeps this text valid until its next count or its end; it is read when shown.
    characterCount_ = text;
    characterCountPending_ = true;
}

void Form1::KeepCharacterCount()
{
    if (!characterCountPending_)
        return;
    characterCountPending_ = false;
    characterCountShown_.text.assign(characterCount_);
    characterCountShown_.pending = true;
}

void Form1::ShowPendingTexts()
{
    KeepCharacterCount();
    if (fileName_.pending) {
        // "檔名 " and the file's name, which is bytes.
        const std::string_view text = fileName_.text;
        if (text.starts_with(kFileNamePrefix))
            fileNameLabel_->setText(FromUtf8(kFileNamePrefix) + ReadableName(text.substr(kFileNamePrefix.size())));
        else
            fileNameLabel_->setText(ReadableName(text));
    }
    if (fileCount_.pending)
        fileCountLabel_->setText(FromUtf8(fileCount_.text));
    if (characterCountShown_.pending)
        characterCountLabel_->setText(FromUtf8(characterCountShown_.text));
    fileName_.pending = fileCount_.pending = characterCountShown_.pending = false;
}

void Form1::OtherTextShown()
{
    // Any other text may be the run's last: keep the newest count while its text is still valid.
    KeepCharacterCount();
    pacer_.ReadSoon();
}

std::uint64_t Form1::TakeQuietCounts(std::uint64_t available)
{
    const auto quiet = std::min<std::uint64_t>(available, static_cast<std::uint64_t>(pacer_.QuietCalls()));
    pacer_.Skip(static_cast<int>(quiet));
    return quiet;
}

void Form1::ProcessPendingEvents()
{
    if (!pacer_.Due())
        return;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point now = Clock::now();
    pacer_.Read(now);
    if (now - lastEventPass_ < eventPassInterval_)
        return;

    ShowPendingTexts();
    ShowAddedItems();
    QCoreApplication::processEvents();
    lastEventPass_ = Clock::now();
    if (closed_)
        throw ProgramClosing();
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseMove:
        if (watched == mailLink_ || watched == webLink_) {
            SetUnderline(static_cast<QLabel*>(watched), true);
            return true;
        }
        if (watched == makerFrame_) {
            SetUnderline(mailLink_, false);
            SetUnderline(webLink_, false);
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::OpenLink(const LinkLabel* link)
{
    if (!desktop_.openLink)
        return;
    if (link == mailLink_)
        desktop_.openLink(QUrl(QStringLiteral("mailto:") + mailLink_->text()));
    else
        desktop_.openLink(QUrl::fromUserInput(webLink_->text()));
}

void Form1::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (chooser_ != nullptr) {
        // The chooser goes with the window and writes nothing.
        disconnect(chooser_, nullptr, this, nullptr);
        chooser_->hide();
        chooser_->deleteLater();
    }
    if (running_)
        closed_ = true; // the run ends at its next pass over the events
    if (desktop_.endProgram)
        desktop_.endProgram();
}

} // namespace fanjian
