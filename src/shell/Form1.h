#pragma once

#include "dictionary/ConversionDirection.h"
#include "conversion/ClockPacer.h"
#include "conversion/ProgressView.h"
#include "shell/Desktop.h"
#include "shell/Twips.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <chrono>
#include <exception>
#include <string>
#include <vector>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace fanjian {

class Form2;
class LinkLabel;
class Notice;
class ProgressList;
struct RunResult;

// Thrown out of ProcessPendingEvents when the main window was closed during a run: it unwinds the
// run (which closes its files) back to the click that started it. It is no run failure.
class ProgramClosing : public std::exception {
public:
    const char* what() const noexcept override { return "the main window was closed"; }
};

// The main window: the folder path, the two conversion buttons, the progress of a run, the folder
// chooser button and the maker's links. It is the run's ProgressView.
class Form1 : public QWidget, public ProgressView {
    Q_OBJECT
public:
    explicit Form1(Desktop desktop = SystemDesktop(), QWidget* parent = nullptr);
    ~Form1() override;

    // The program directory (exact form), read once at start-up; every run finds the dictionary there.
    const QString& programDirectory() const noexcept { return FFile; }
    // A file name of 40 characters, the longest Label6 shows whole (after "檔名 "): every letter
    // and digit once. The twips factor makes room for it.
    static constexpr char kLongestShownName[] = "abcdefghijklmnopqrstuvwxyz0123456789.htm";
    // Twips to pixels for both windows, from the application font when the window was made.
    const Twips& twips() const noexcept { return twips_; }

    // Every text either window can show, one after the other (a font must be able to draw them).
    QString texts() const;

    // The folder chooser while it is open, else null.
    Form2* chooser() const;
    bool isRunning() const noexcept { return running_; }

    // ProgressView. Texts are shown as given, paths and names in readable form (see Names.h).
    // List items wait for the next pass over the events, which shows them.
    void ClearSourceList() override;
    void AddSourceListItem(std::string_view text) override;
    void ClearResultList() override;
    void AddResultListItem(std::string_view text) override;
    void ShowStatus(std::string_view text) override;
    void ShowFileName(std::string_view text) override;
    void ShowFileCount(std::string_view text) override;
    // ShowFileName, ShowFileCount and ShowCharacterCount keep the newest text only; it reaches its
    // label at the next pass over the events.
    void ShowCharacterCount(std::string_view text) override;
    // The pairs of count and pass before the clock is next read change nothing on the screen.
    bool SkipsQuietCounts() const override { return true; }
    std::uint64_t TakeQuietCounts(std::uint64_t available) override;
    // Handles the waiting events unless the last pass was less than kEventPassInterval ago.
    // Throws ProgramClosing when the window was closed meanwhile.
    void ProcessPendingEvents() override;

    // A run calls ShowCharacterCount and ProcessPendingEvents once per replaced character, millions
    // of times, at a few nanoseconds apart. The window handles its events at most this often,
    // which keeps it repainting and taking input while costing the run next to nothing.
    static constexpr std::chrono::milliseconds kEventPassInterval{10};
    // For tests that act from inside a run's yields without running for long: 0 makes every call
    // a pass, and puts the lists' new items in at every pass.
    void setEventPassInterval(std::chrono::microseconds interval);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void BuildControls();
    void StyleMakerFrame();
    // Sizes the window and places its controls for the application's font, and the chooser's.
    void LayOut();
    template <class Control>
    Control* Place(Control* control, const char* name, const QRect& twips);
    // After a run: the causes of a failure or rejection, and what a screen reader hears.
    void ShowOutcome(const RunResult& result, const std::string& folderPath);
    void ShowAddedItems(bool now = false);
    // Every text a control of either window can show, with the control's box in twips.
    std::vector<TextBox> TextBoxes(const QWidget& chooserOk) const;
    void StartRun(ConversionDirection direction);
    void ShowChooser();
    void OpenLink(const LinkLabel* link);
    void KeepCharacterCount();
    void ShowPendingTexts();
    void OtherTextShown();

    Desktop desktop_;
    const QString FFile;
    Twips twips_;
    // Every control with its geometry in twips.
    struct Placed {
        QWidget* control;
        QRect twips;
    };
    std::vector<Placed> placed_;
    // The last folder the chooser wrote into Text1, in exact form: the bytes of the names Text1
    // still shows from it.
    QString chosenFolder_;

    // Controls; their object names are the ones the window was drawn with.
    QLineEdit* pathBox_;                // Text1
    QPushButton* chooserButton_;        // Command1
    ProgressList* sourceList_;          // List1
    ProgressList* resultList_;          // List2
    QPushButton* toSimplifiedButton_;   // Command2
    QPushButton* toTraditionalButton_;  // Command3
    QLabel* statusLabel_;               // Label5
    QLabel* fileNameLabel_;             // Label6
    QLabel* fileCountLabel_;            // Label7
    QLabel* characterCountLabel_;       // Label9
    QGroupBox* makerFrame_;             // Frame1
    QLabel* contactLabel_;              // Label1
    LinkLabel* mailLink_;               // Label2
    QLabel* webCaption_;                // Label3
    LinkLabel* webLink_;                // Label4
    // Tells assistive technology how each run ended.
    Notice* notice_;

    QPointer<Form2> chooser_;
    bool running_ = false;
    bool closed_ = false;

    // The newest text for Label9, not kept yet; the run keeps it valid until its next count or
    // until it returns.
    std::string_view characterCount_;
    bool characterCountPending_ = false;
    // Texts for Label6, Label7 and Label9 not shown yet. A run changes them for every file and
    // every character, far more often than the window passes over its events; setting a label's
    // text costs more than copying it, so each label takes the newest at the next pass.
    struct PendingText {
        std::string text;
        bool pending = false;
    };
    PendingText fileName_;
    PendingText fileCount_;
    PendingText characterCountShown_;

    // ProcessPendingEvents reads the clock about every half millisecond; any other progress text
    // makes the next call read it.
    ClockPacer pacer_{std::chrono::microseconds(500), 1024};
    std::chrono::steady_clock::duration eventPassInterval_ = kEventPassInterval;
    std::chrono::steady_clock::time_point lastEventPass_{};
};

} // namespace fanjian
