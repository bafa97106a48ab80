// The application's loop where a Qt application object runs the program.
#include "loop.h"
#include "wine.h"

#include <QCoreApplication>

void RunApplication()
{
    QCoreApplication::exec();
}

void QuitApplication()
{
    QCoreApplication::quit();
}

bool RunsUnderWine()
{
    return false;
}

bool OnWindows()
{
    return false;
}
