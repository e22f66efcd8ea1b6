// The local socket between a second start and the running window.
#include "ui/qt/qt_single.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <unistd.h>

namespace zud::qt {

namespace {

constexpr int kWaitMs = 5000;

// One line each way: the folder (empty for none), then the answer.
QByteArray line_of(const std::string& text)
{
    return QByteArray::fromStdString(text).replace('\n', ' ') + '\n';
}

}  // namespace

QString single_window_name()
{
    QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (display.isEmpty())
        display = qEnvironmentVariable("DISPLAY");
    display.replace(QLatin1Char('/'), QLatin1Char('_'));
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + QStringLiteral("/zudsieve-%1-%2").arg(::getuid()).arg(display);
}

SingleWindowServer::SingleWindowServer(QObject* parent, Request request)
    : QObject(parent), server_(this), request_(std::move(request))
{
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { answer(socket); });
            if (socket->canReadLine())
                answer(socket);
        }
    });
}

bool SingleWindowServer::listen(const QString& name)
{
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(1000))
        return false;
    // What is left is a socket of a window that was killed: nobody answers.
    QLocalServer::removeServer(name);
    // Only this user may connect (the runtime folder is private as well).
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    return server_.listen(name);
}

void SingleWindowServer::answer(QLocalSocket* socket)
{
    if (!socket->canReadLine())
        return;
    const std::string folder = socket->readLine().trimmed().toStdString();
    socket->write(line_of(request_ ? request_(folder) : std::string()));
    socket->flush();
}

bool hand_to_running_window(const QString& name, const std::string& folder, std::string& reply)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(1000))
        return false;
    socket.write(line_of(folder));
    if (!socket.waitForBytesWritten(kWaitMs))
        return false;
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(kWaitMs))
            return false;
    reply = socket.readLine().trimmed().toStdString();
    return true;
}

}  // namespace zud::qt
