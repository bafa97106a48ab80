// The end of a TLS client's connection: a server may send records nobody
// asked for (session tickets) at any time after the handshake, and one that
// arrives after the close makes the system answer with a reset, which
// throws away whatever the server had not read yet of what was sent to it.
#pragma once

namespace ferro::net {

// Ends the sending side of `fd` (everything sent goes, then the end), then
// reads and drops what still comes until the peer ends its side, the
// connection fails, or `ms` milliseconds have passed; the descriptor stays
// open for the caller to close.
void LingerUntilPeerEnds(int fd, int ms);

} // namespace ferro::net
