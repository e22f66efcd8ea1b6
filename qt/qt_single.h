// One window per user and display: a second start hands its folder to the
// running window, which comes forward, and ends.
#pragma once

#include <QLocalServer>
#include <QString>
#include <functional>
#include <string>

namespace zud::qt {

// Where the socket and its lock live: a folder only this user may enter
// ($XDG_RUNTIME_DIR, else "zudsieve-UID" in the temporary folder, made
// with mode 0700 and checked each time). Another user who made that folder
// first, or a folder others may enter, is refused: `refusal` says why and
// the paths are empty.
struct SingleWindowPlace {
    QString socket;
    QString lock;
    std::string refusal;
};
SingleWindowPlace single_window_place();

// The claim of the first window, taken before anything listens or
// connects, so that starts at the same instant agree on one: true when
// this start holds it (kept until the process ends).
bool claim_first_window(const QString& lock);

// What the running window says to a second start.
struct SecondStartAnswer {
    bool taken = false;   // it came forward (and works in the folder named, if any)
    std::string word;     // for the second start's user
};

// The running window's side: answers each second start with what
// `request` returns for the folder it names (empty: none was named). The
// request must not wait for the user: the second start waits for it. A
// peer of another user is neither answered nor heard.
class SingleWindowServer : public QObject {
    Q_OBJECT
public:
    using Request = std::function<SecondStartAnswer(const std::string& folder)>;
    SingleWindowServer(QObject* parent, Request request);
    // False when another window already listens under `name`.
    bool listen(const QString& name);

private:
    void answer(QLocalSocket* socket);

    QLocalServer server_;
    Request request_;
};

// The second start's side: true when a running window of this user took
// the request, with its answer. Nothing a peer of another user sends is
// taken.
bool hand_to_running_window(const QString& name, const std::string& folder, SecondStartAnswer& answer);

// True when the peer of a connected local socket runs as this user.
bool peer_is_this_user(int socket_fd);

}  // namespace zud::qt
