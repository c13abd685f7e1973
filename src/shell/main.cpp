#include "shell/Program.h"

int main(int argc, char* argv[])
{
    return fanjian::ProgramMain(argc, argv);
}
