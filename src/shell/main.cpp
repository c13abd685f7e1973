#include "shell/Program.h"
#include "system/Process.h"

int main(int argc, char* argv[])
{
    // Before the toolkit opens its connections and files.
    if (!fanjian::PrepareProcess())
        return 1;
    return fanjian::ProgramMain(argc, argv);
}
