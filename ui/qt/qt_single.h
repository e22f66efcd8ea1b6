// One window per user and display: a second start hands its folder to the
// running window, which comes forward, and ends.
#pragma once

#include <QLocalServer>
#include <QString>
#include <functional>
#include <string>

namespace zud::qt {

// The socket's path: in the runtime folder, named after the user and the
// display, so that another display (or user) gets a window of its own.
QString single_window_name();

// The running window's side: answers each second start with the text that
// `request` returns for the folder it names (empty: none was named). The
// request must not wait for the user: the second start waits for it.
class SingleWindowServer : public QObject {
    Q_OBJECT
public:
    using Request = std::function<std::string(const std::string& folder)>;
    SingleWindowServer(QObject* parent, Request request);
    // False when another window already listens under `name`.
    bool listen(const QString& name);

private:
    void answer(QLocalSocket* socket);

    QLocalServer server_;
    Request request_;
};

// The second start's side: true when a running window took the request;
// `reply` then holds its answer ("" when it came forward as asked).
bool hand_to_running_window(const QString& name, const std::string& folder, std::string& reply);

}  // namespace zud::qt
