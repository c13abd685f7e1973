#include "shell/Program.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    return fanjian::RunProgram(fanjian::SystemDesktop());
}
