#pragma once

class QTcpSocket;

namespace trackers {

// Aborts the connection when nothing was received or sent on it for `ms` milliseconds: an idle
// tracker, or one dribbling a byte now and then slower than that, holds no memory for long.
void closeWhenIdle(QTcpSocket* socket, int ms);

} // namespace trackers
