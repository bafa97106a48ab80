// TQBStrmServ: the receiving end of stream messages. A listening server that
// reads one message from each connection, answers it and raises OnMSG.
#pragma once

#include <ferrolink/qbgeneralserver.h>

namespace ferro {

// The sender's name, and the body: a memory stream holding exactly the body's
// bytes at position 0, owned by the component and gone when the handler
// returns.
using TStrmEvent = std::function<void(TComponent* sender, const std::string& sFrom, TStream& strm)>;

class TQBStrmServ : public TQBGeneralServer {
public:
    explicit TQBStrmServ(TComponent* owner);

    // Called once for each message read completely and answered.
    TStrmEvent OnMSG;

    // Reads one message from the connection being served (the component's
    // OnClientContact). Raises EConvertError for a length field that is no
    // number, ESockError for an invalid name length, a connection that ends
    // before the message is whole ("Read Failed"), or a failed read or write.
    void ReadMessage(TComponent* sender);

private:
    std::int32_t ReadLength();
    std::string ReadName();
    void ReadBody(TMemoryStream& body);
};

} // namespace ferro
