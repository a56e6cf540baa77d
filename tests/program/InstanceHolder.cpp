// A running copy as far as the single-instance lock is concerned, for tests
// that need one in a process of its own: it claims the lock of the settings
// file named on its command line and reports on standard output, one line
// each: "claimed" or "held" (another copy has it), "asked" for each request
// to come forward, and "quitting" once it has quit. On standard input it takes
// "quit", which quits its event loop as the program's Quit command does; it
// then holds the lock, as a copy tearing down its windows and state does,
// until "exit".
#include "program/SingleInstance.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <optional>
#include <string>

#include <unistd.h>

using namespace pondra;

namespace {

void say(const char* line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

/// The next line on standard input, without its end; none at its end.
std::optional<std::string> readLine()
{
    std::string line;
    char c = 0;
    while (::read(STDIN_FILENO, &c, 1) == 1) {
        if (c == '\n')
            return line;
        line += c;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    SingleInstanceGuard guard(QString::fromLocal8Bit(argv[1]));
    if (!guard.claim()) {
        say("held");
        return 1;
    }
    QObject::connect(&guard, &SingleInstanceGuard::bringForwardRequested, &app, [] { say("asked"); });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [] {
        const std::optional<std::string> line = readLine();
        if (!line || *line == "quit")
            QCoreApplication::quit();
    });
    say("claimed");
    app.exec();
    input.setEnabled(false);
    say("quitting");
    while (const std::optional<std::string> line = readLine()) {
        if (*line == "exit")
            break;
    }
    return 0;
}
