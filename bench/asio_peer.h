// A sender and a receiver of the stream message format written the way a
// Boost.Asio user would: asynchronous operations on one io_context.
#pragma once

#include <string>

// Serves `count` messages on `port`, then returns. Prints "listening" first.
int ReceiveWithAsio(int port, int count);

// Posts `count` messages of `body` from `name` to 127.0.0.1:`port`, one
// after another, each on its own connection; returns how many got "OK".
int PostWithAsio(int port, const std::string& name, const std::string& body, int count);
