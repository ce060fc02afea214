#include "mainwindow.h"
#include "uitranslations.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // Source literals, C strings and file texts are UTF-8 by default in Qt 6: there are no codecs to
    // install for the Chinese labels to come out right.
    UiTranslations::install(app);
    auto* window = new MainWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    return app.exec();
}
