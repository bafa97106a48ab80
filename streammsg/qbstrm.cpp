#include <ferrolink/qbstrm.h>

#include <ferrolink/wireformat.h>

namespace ferro {

TQBStrm::TQBStrm(TComponent* owner) : TFerrolink(owner)
{
    Port = qbmsg::kPort;
}

TQBStrm::~TQBStrm()
{
    if (FPosting)
        ResetOnClose();
}

std::string TQBStrm::PostIt(TStream& stream)
{
    const std::int64_t size = stream.Size();
    if (std::string problem = qbmsg::EncodingProblem(FromName, size); !problem.empty())
        Raise(problem, 0);
    Connect();
    std::string reply;
    FPosting = true;
    try {
        // The two fields travel with the body; the body's last chunk hands
        // them over, a failure resets the connection.
        HoldWrites(true);
        Write(qbmsg::EncodeHeader(FromName));
        Write(qbmsg::EncodeBodyLength(size));
        HoldWrites(false);
        SendFile(stream);
        reply = Read(qbmsg::kReplySize);
    } catch (const EComponentDestroyed&) {
        throw; // the destructor has reset the connection
    } catch (...) {
        FPosting = false;
        HoldWrites(false);
        // The receiver must not take what it got for a whole message: a post
        // reported as failed is never delivered later.
        try {
            AbortConnection();
        } catch (const ESockError&) {
            // The first failure is the one the caller needs to see.
        }
        throw;
    }
    FPosting = false;
    Disconnect();
    return reply;
}

} // namespace ferro
