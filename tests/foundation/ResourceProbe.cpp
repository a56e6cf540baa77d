// Prints where this program, wherever it was copied to, finds each file
// named on its command line: one line each, empty when it finds none;
// "--icon" stands for the application icon.
#include "platform/core/Resources.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    for (const QString& name : QCoreApplication::arguments().mid(1)) {
        const QString path =
            name == QLatin1String("--icon") ? pondra::applicationIconPath() : pondra::resourcePath(name);
        std::printf("%s\n", qPrintable(path));
    }
    return 0;
}
