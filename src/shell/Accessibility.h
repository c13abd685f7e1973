#pragma once

#include <QString>
#include <QWidget>

class QAbstractButton;

namespace fanjian {

// Makes Qt give assistive technology (screen readers, through AT-SPI) the program's own
// interfaces, beyond those of Qt's controls:
// - the main window and the folder chooser are windows named by their titles;
// - a LinkLabel is a link named by its text, with a press action that opens it;
// - a Notice is a notification named by its message.
// Called by the constructors of all of them, before anything asks for their interfaces; once is
// enough.
void InstallAccessibleInterfaces();

// A control without area that tells assistive technology the newest message of its window. Each
// message shows the notice anew (AT-SPI: object:state-changed:showing), and screen readers speak
// a notification that shows, wherever the focus is: so a message is heard once, when it comes.
class Notice : public QWidget {
    Q_OBJECT
public:
    explicit Notice(QWidget* parent);

    const QString& message() const noexcept { return message_; }
    // Makes `message` the notice's name and shows it to assistive technology anew.
    void announce(const QString& message);

signals:
    void announced(const QString& message);

private:
    QString message_;
};

// Enter (also the keypad's) presses `button` while it has the focus, as Space does. The button
// does not become a default button: Enter elsewhere in its window does not press it.
void PressWithEnter(QAbstractButton& button);

} // namespace fanjian
