#include "shell/Form1.h"

#include "conversion/ConversionRun.h"
#include "shell/BoxLabel.h"
#include "shell/Form2.h"
#include "shell/Maker.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>


namespace fanjian {

namespace {

QString FromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

template <class Control>
Control* Place(Control* control, const char* name, const QRect& geometry)
{
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(geometry);
    return control;
}

BoxLabel* MakeLabel(QWidget* parent, const char* name, const QRect& geometry, const QString& text = {},
                    Qt::Alignment horizontal = Qt::AlignLeft)
{
    auto* label = Place(new BoxLabel(text, parent), name, geometry);
    label->setAlignment(horizontal | Qt::AlignTop);
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QRect& geometry, const QString& caption)
{
    auto* button = Place(new QPushButton(caption, parent), name, geometry);
    button->setAutoDefault(false);
    return button;
}

QListWidget* MakeList(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* list = Place(new QListWidget(parent), name, geometry);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setUniformItemSizes(true);
    // Long paths are cut at the right edge, with a scroll bar, rather than shortened with "...".
    list->setTextElideMode(Qt::ElideNone);
    return list;
}

void SetUnderline(QLabel* label, bool underline)
{
    if (label->font().underline() == underline)
        return;
    QFont font = label->font();
    font.setUnderline(underline);
    label->setFont(font);
}

// Disables both conversion buttons while a run lasts, so that no second run can start from a
// click handled inside the first one's yields.
class RunningState {
public:
    RunningState(bool& running, QPushButton* first, QPushButton* second)
        : running_(running)
        , first_(first)
        , second_(second)
    {
        running_ = true;
        first_->setEnabled(false);
        second_->setEnabled(false);
    }
    ~RunningState()
    {
        first_->setEnabled(true);
        second_->setEnabled(true);
        running_ = false;
    }
    RunningState(const RunningState&) = delete;
    RunningState& operator=(const RunningState&) = delete;

private:
    bool& running_;
    QPushButton* first_;
    QPushButton* second_;
};

} // namespace

Form1::Form1(Desktop desktop, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
    , desktop_(std::move(desktop))
    , FFile(WithoutTrailingSeparator(desktop_.programDirectory))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("網站繁簡轉換"));
    setWindowIcon(ProgramIcon());
    setFixedSize(Pixels(7215), Pixels(4965));
    BuildControls();
    List1->setFocus();
    CentreOnScreen(*this);
}

Form1::~Form1()
{
    delete chooser_.data();
}

void Form1::BuildControls()
{
    Text1 = Place(new QLineEdit(this), "Text1", TwipsRect(0, 120, 4335, 270));
    Command1 = MakeButton(this, "Command1", TwipsRect(4440, 120, 1095, 255), QStringLiteral("轉檔路徑"));
    List1 = MakeList(this, "List1", TwipsRect(0, 480, 2775, 3480));
    List2 = MakeList(this, "List2", TwipsRect(4320, 480, 2895, 3480));
    Command2 = MakeButton(this, "Command2", TwipsRect(2880, 600, 1335, 375), QStringLiteral("繁體轉簡體"));
    Command3 = MakeButton(this, "Command3", TwipsRect(2880, 1200, 1335, 375), QStringLiteral("簡體轉繁體"));
    Label5 = MakeLabel(this, "Label5", TwipsRect(2880, 1680, 1335, 255));
    Label6 = MakeLabel(this, "Label6", TwipsRect(2880, 2040, 1335, 735));
    Label7 = MakeLabel(this, "Label7", TwipsRect(2880, 2880, 1335, 255), {}, Qt::AlignHCenter);
    Label9 = MakeLabel(this, "Label9", TwipsRect(2880, 3120, 1335, 255), {}, Qt::AlignHCenter);

    Frame1 = Place(new QGroupBox(QString::fromUtf8(maker::kCaption), this), "Frame1", TwipsRect(0, 4080, 7215, 855));
    // The caption sits on the frame's top line, as a classic frame draws it; the labels inside keep
    // their places below it.
    Frame1->setStyleSheet(QStringLiteral("QGroupBox#Frame1 { border: 1px solid palette(mid); border-radius: 2px;"
                                         " margin-top: 0.5em; }"
                                         "QGroupBox#Frame1::title { subcontrol-origin: margin; left: 6px;"
                                         " padding: 0 2px; }"));
    Label1 = MakeLabel(Frame1, "Label1", TwipsRect(120, 240, 5175, 255), QString::fromUtf8(maker::kContactLine));
    Label2 = MakeLabel(Frame1, "Label2", TwipsRect(5265, 240, 1810, 255), QString::fromUtf8(maker::kMailAddress));
    Label3 = MakeLabel(Frame1, "Label3", TwipsRect(120, 480, 375, 255), QStringLiteral("網站"));
    Label4 = MakeLabel(Frame1, "Label4", TwipsRect(600, 480, 2055, 255), QString::fromUtf8(maker::kWebAddress));

    for (QLabel* link : {Label2, Label4}) {
        QPalette palette = link->palette();
        palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
        link->setPalette(palette);
        link->setCursor(Qt::PointingHandCursor);
    }
    // Movement over the frame's bare surface and over the links switches the underline; movement
    // over the other two labels must not reach the frame.
    for (QWidget* watched : {static_cast<QWidget*>(Frame1), static_cast<QWidget*>(Label2), static_cast<QWidget*>(Label4)}) {
        watched->setMouseTracking(true);
        watched->installEventFilter(this);
    }
    Label1->setAttribute(Qt::WA_NoMousePropagation);
    Label3->setAttribute(Qt::WA_NoMousePropagation);

    setTabOrder(List1, List2);
    setTabOrder(List2, Text1);
    setTabOrder(Text1, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);

    connect(Command1, &QPushButton::clicked, this, &Form1::ShowChooser);
    connect(Command2, &QPushButton::clicked, this, [this] { StartRun(ConversionDirection::TraditionalToSimplified); });
    connect(Command3, &QPushButton::clicked, this, [this] { StartRun(ConversionDirection::SimplifiedToTraditional); });
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
    chooser_ = new Form2(desktop_.workingFolder, desktop_.volumes ? desktop_.volumes() : QStringList());
    connect(chooser_, &Form2::folderChosen, Text1, &QLineEdit::setText);
    chooser_->show();
}

void Form1::StartRun(ConversionDirection direction)
{
    if (running_)
        return;
    const std::string folderPath = QFile::encodeName(Text1->text()).toStdString();
    const std::string programDirectory = QFile::encodeName(FFile).toStdString();
    {
        const RunningState running(running_, Command2, Command3);
        characterCountPending_ = false;
        // The run's first yield handles the events at once.
        lastClockCheck_ = std::chrono::steady_clock::now();
        lastEventPass_ = lastClockCheck_ - eventPassInterval_;
        callsPerClockCheck_ = 1;
        callsUntilClockCheck_ = 1;
        try {
            ConversionRun().Run(direction, folderPath, programDirectory, *this);
        } catch (const ProgramClosing&) {
            return; // the window is closed and the program is ending
        }
    }
}

void Form1::ClearSourceList()
{
    List1->clear();
    OtherTextShown();
}

void Form1::AddSourceListItem(std::string_view text)
{
    List1->addItem(FromUtf8(text));
    OtherTextShown();
}

void Form1::ClearResultList()
{
    List2->clear();
    OtherTextShown();
}

void Form1::AddResultListItem(std::string_view text)
{
    List2->addItem(FromUtf8(text));
    OtherTextShown();
}

void Form1::ShowStatus(std::string_view text)
{
    Label5->setText(FromUtf8(text));
    OtherTextShown();
}

void Form1::ShowFileName(std::string_view text)
{
    Label6->setText(FromUtf8(text));
    OtherTextShown();
}

void Form1::ShowFileCount(std::string_view text)
{
    Label7->setText(FromUtf8(text));
    OtherTextShown();
}

void Form1::ShowCharacterCount(std::string_view text)
{
    // The run keeps this text valid until its next count or its end; it is read when shown.
    characterCount_ = text;
    characterCountPending_ = true;
}

void Form1::FlushCharacterCount()
{
    if (!characterCountPending_)
        return;
    characterCountPending_ = false;
    Label9->setText(FromUtf8(characterCount_));
}

void Form1::OtherTextShown()
{
    // Any other text may be the run's last: show the newest count while its text is still valid.
    FlushCharacterCount();
    CheckClockSoon();
}

void Form1::ProcessPendingEvents()
{
    if (--callsUntilClockCheck_ > 0)
        return;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point now = Clock::now();
    const Clock::duration sinceCheck = now - lastClockCheck_;
    lastClockCheck_ = now;
    if (sinceCheck < kClockCheckInterval / 2 && callsPerClockCheck_ < kMaxCallsPerClockCheck)
        callsPerClockCheck_ *= 2;
    else if (sinceCheck > kClockCheckInterval * 2 && callsPerClockCheck_ > 1)
        callsPerClockCheck_ /= 2;
    callsUntilClockCheck_ = callsPerClockCheck_;
    if (now - lastEventPass_ < eventPassInterval_)
        return;

    FlushCharacterCount();
    QCoreApplication::processEvents();
    lastEventPass_ = Clock::now();
    if (closed_)
        throw ProgramClosing();
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseMove:
        if (watched == Label2 || watched == Label4) {
            SetUnderline(static_cast<QLabel*>(watched), true);
            return true;
        }
        if (watched == Frame1) {
            SetUnderline(Label2, false);
            SetUnderline(Label4, false);
        }
        break;
    case QEvent::MouseButtonPress:
        if ((watched == Label2 || watched == Label4) && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            return true;
        break;
    case QEvent::MouseButtonRelease:
        if (watched == Label2 || watched == Label4) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const auto* link = static_cast<QLabel*>(watched);
            if (mouse->button() == Qt::LeftButton && link->rect().contains(mouse->position().toPoint()))
                OpenLink(link);
            return true;
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::OpenLink(const QLabel* link)
{
    if (!desktop_.openLink)
        return;
    if (link == Label2)
        desktop_.openLink(QUrl(QStringLiteral("mailto:") + Label2->text()));
    else
        desktop_.openLink(QUrl::fromUserInput(Label4->text()));
}

void Form1::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (chooser_ != nullptr) {
        // The chooser goes with the window and writes nothing.
        disconnect(chooser_, nullptr, Text1, nullptr);
        chooser_->hide();
        chooser_->deleteLater();
    }
    if (running_)
        closed_ = true; // the run ends at its next pass over the events
    if (desktop_.endProgram)
        desktop_.endProgram();
}

} // namespace fanjian
