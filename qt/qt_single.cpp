// The local socket between a second start and the running window.
#include "qt/qt_single.h"

#include <QDir>
#include <QLocalSocket>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zud::qt {

namespace {

constexpr int kWaitMs = 5000;

// One line each way: the folder (empty for none), then "1 " (taken) or
// "0 " and the word.
QByteArray line_of(const std::string& text)
{
    return QByteArray::fromStdString(text).replace('\n', ' ') + '\n';
}

// A folder of this user that nobody else may enter; why not, else empty.
std::string private_folder_refusal(const std::string& folder)
{
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0)
        return "the folder '" + folder + "' cannot be read (" + std::strerror(errno) + ")";
    if (!S_ISDIR(info.st_mode))
        return "'" + folder + "' is not a folder";
    if (info.st_uid != ::getuid())
        return "the folder '" + folder + "' belongs to another user";
    if ((info.st_mode & 077) != 0)
        return "other users may enter the folder '" + folder + "'";
    return {};
}

QString display_part()
{
    QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (display.isEmpty())
        display = qEnvironmentVariable("DISPLAY");
    display.replace(QLatin1Char('/'), QLatin1Char('_'));
    return display;
}

}  // namespace

SingleWindowPlace single_window_place()
{
    SingleWindowPlace place;
    std::string folder = qEnvironmentVariable("XDG_RUNTIME_DIR").toStdString();
    if (folder.empty() || folder[0] != '/' || !private_folder_refusal(folder).empty()) {
        // The shared temporary folder: a folder of our own in it, which
        // another user may have made first.
        folder = QDir::tempPath().toStdString() + "/zudsieve-" + std::to_string(::getuid());
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            place.refusal = "the folder '" + folder + "' cannot be made (" + std::strerror(errno) + ")";
            return place;
        }
        place.refusal = private_folder_refusal(folder);
        if (!place.refusal.empty())
            return place;
    }
    const QString base = QString::fromStdString(folder) + QStringLiteral("/zudsieve-") + display_part();
    place.socket = base;
    place.lock = base + QStringLiteral(".lock");
    return place;
}

bool claim_first_window(const QString& lock)
{
    const int fd = ::open(lock.toLocal8Bit().constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return true;   // nothing to agree on: this start goes on alone
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return true;   // the descriptor stays open: the claim lasts as long as the process
    ::close(fd);
    return false;
}

bool peer_is_this_user(int socket_fd)
{
    struct ucred peer {};
    socklen_t size = sizeof peer;
    return socket_fd >= 0 && ::getsockopt(socket_fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
           peer.uid == ::getuid();
}

SingleWindowServer::SingleWindowServer(QObject* parent, Request request)
    : QObject(parent), server_(this), request_(std::move(request))
{
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            if (!peer_is_this_user(static_cast<int>(socket->socketDescriptor()))) {
                socket->abort();
                continue;
            }
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
    // Only this user may connect (the folder is private as well).
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    return server_.listen(name);
}

void SingleWindowServer::answer(QLocalSocket* socket)
{
    if (!socket->canReadLine())
        return;
    const std::string folder = socket->readLine().trimmed().toStdString();
    const SecondStartAnswer answer = request_ ? request_(folder) : SecondStartAnswer{true, {}};
    socket->write(line_of((answer.taken ? "1 " : "0 ") + answer.word));
    socket->flush();
}

bool hand_to_running_window(const QString& name, const std::string& folder, SecondStartAnswer& answer)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(1000))
        return false;
    if (!peer_is_this_user(static_cast<int>(socket.socketDescriptor())))
        return false;
    socket.write(line_of(folder));
    if (!socket.waitForBytesWritten(kWaitMs))
        return false;
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(kWaitMs))
            return false;
    const std::string reply = socket.readLine().trimmed().toStdString();
    answer.taken = reply.compare(0, 1, "1") == 0;
    answer.word = reply.size() > 2 ? reply.substr(2) : std::string();
    return true;
}

}  // namespace zud::qt
