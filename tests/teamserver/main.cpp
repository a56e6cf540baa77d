#include "TeamServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pondra-team-server"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Local Pondra team server (loopback only)."));
    parser.addHelpOption();
    QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port to listen on (0: any free port)."),
                                  QStringLiteral("port"), QStringLiteral("8787"));
    QCommandLineOption tokenOption(QStringLiteral("token"),
                                   QStringLiteral("API token that clients must present (empty: no check)."),
                                   QStringLiteral("token"), QStringLiteral(PONDRA_DEFAULT_API_TOKEN));
    QCommandLineOption commandsOption(QStringLiteral("commands"),
                                      QStringLiteral("Read scripted-fault commands from standard input."));
    parser.addOptions({portOption, tokenOption, commandsOption});
    parser.process(app);

    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535) {
        std::fprintf(stderr, "Invalid port\n");
        return 2;
    }
    pondra::teamserver::TeamServer server(parser.value(tokenOption));
    if (!server.listen(quint16(port))) {
        std::fprintf(stderr, "Cannot listen on 127.0.0.1:%u\n", port);
        return 1;
    }
    if (parser.isSet(commandsOption))
        server.watchCommands(STDIN_FILENO);
    return app.exec();
}
