// The floor the program's idle cost is measured against: a bare Qt tray
// program with one small window, one WebSocket to the team server and a 1 s
// timer, doing nothing else.
#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QTime>
#include <QTimer>
#include <QWebSocket>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("PondraBenchFloor"));
    app.setQuitOnLastWindowClosed(false);

    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(Qt::black);
        painter.drawEllipse(3, 3, 16, 16);
    }
    QSystemTrayIcon tray{QIcon(pixmap)};
    tray.show();

    QLabel window;
    window.setWindowTitle(QStringLiteral("Floor"));
    window.resize(200, 80);
    window.show();

    QWebSocket socket;
    const QString url = app.arguments().value(1);
    QObject::connect(&socket, &QWebSocket::connected, &socket, [&socket] {
        socket.sendTextMessage(QStringLiteral(R"({"type":"join","team":"Bench"})"));
    });
    if (!url.isEmpty())
        socket.open(QUrl(url));

    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &window, [&window] {
        window.setText(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
    });
    tick.start(1000);
    return app.exec();
}
