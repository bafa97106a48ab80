// A sender and a receiver of the stream message format written the way a Qt
// user would: QTcpSocket and QTcpServer, driven by signals and slots.
#pragma once

#include <QByteArray>

// Serves `count` messages on `port`, then returns. Prints "listening" first.
int ReceiveWithQt(int port, int count);

// Posts `count` messages of `body` from `name` to 127.0.0.1:`port`, one
// after another; returns how many got the "OK" reply.
int PostWithQt(int port, const QByteArray& name, const QByteArray& body, int count);
