#include "shell/Accessibility.h"

#include "shell/Form1.h"
#include "shell/Form2.h"
#include "shell/LinkLabel.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>

namespace fanjian {

namespace {

class LinkInterface : public QAccessibleWidget {
public:
    explicit LinkInterface(LinkLabel* link)
        : QAccessibleWidget(link, QAccessible::Link)
    {
    }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name && widget()->accessibleName().isEmpty())
            return link()->text();
        return QAccessibleWidget::text(kind);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.linked = true;
        return state;
    }

    QStringList actionNames() const override { return QStringList(pressAction()) + QAccessibleWidget::actionNames(); }

    void doAction(const QString& action) override
    {
        if (action == pressAction())
            link()->activate();
        else
            QAccessibleWidget::doAction(action);
    }

    QStringList keyBindingsForAction(const QString& action) const override
    {
        if (action == pressAction())
            return {QStringLiteral("Return"), QStringLiteral("Space")};
        return QAccessibleWidget::keyBindingsForAction(action);
    }

private:
    LinkLabel* link() const { return static_cast<LinkLabel*>(widget()); }
};

class NoticeInterface : public QAccessibleWidget {
public:
    explicit NoticeInterface(Notice* notice)
        : QAccessibleWidget(notice, QAccessible::Notification)
    {
    }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name)
            return static_cast<const Notice*>(widget())->message();
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface* Interface(const QString& className, QObject* object)
{
    // The program's windows are windows (AT-SPI: frames) named by their titles, not panes.
    if (className == QLatin1String(Form1::staticMetaObject.className()) ||
        className == QLatin1String(Form2::staticMetaObject.className()))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    if (className == QLatin1String(LinkLabel::staticMetaObject.className()))
        return new LinkInterface(static_cast<LinkLabel*>(object));
    if (className == QLatin1String(Notice::staticMetaObject.className()))
        return new NoticeInterface(static_cast<Notice*>(object));
    return nullptr;
}

class EnterPresses : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<const QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (!enter || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        if (!key->isAutoRepeat())
            static_cast<QAbstractButton*>(watched)->click();
        return true;
    }
};

} // namespace

void InstallAccessibleInterfaces()
{
    static const bool installed = [] {
        QAccessible::installFactory(&Interface);
        return true;
    }();
    (void)installed;
}

Notice::Notice(QWidget* parent)
    : QWidget(parent)
{
    InstallAccessibleInterfaces();
    setObjectName(QStringLiteral("Notice"));
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(0, 0, 0, 0);
}

void Notice::announce(const QString& message)
{
    message_ = message;
    QAccessibleEvent named(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&named);
    QAccessibleEvent shown(this, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
    emit announced(message);
}

void PressWithEnter(QAbstractButton& button)
{
    button.installEventFilter(new EnterPresses(&button));
}

} // namespace fanjian
