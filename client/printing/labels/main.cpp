#include "labelscommand.h"

#include <QGuiApplication>

int main(int argc, char* argv[])
{
    // A command for scripts: it draws into PDF files and needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    return runLabelsCommand(app.arguments(), out, err);
}
