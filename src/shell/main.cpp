#include "shell/Form1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("fanjian"));
    fanjian::Form1 window;
    window.show();
    return application.exec();
}
