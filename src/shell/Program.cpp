#include "shell/Program.h"

#include "shell/Form1.h"

#include <QApplication>

#include <utility>

namespace fanjian {

int RunProgram(Desktop desktop)
{
    QGuiApplication::setDesktopFileName(QStringLiteral("fanjian"));
    Form1 window(std::move(desktop));
    window.show();
    return QApplication::exec();
}

} // namespace fanjian
