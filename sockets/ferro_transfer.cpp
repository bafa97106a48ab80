// Data transfer on the connected socket: the write and read waits, texts,
// lines, whole streams and the command-and-reply transaction.
#include <ferrolink/ferro.h>

#include "winsock.h"

#include <cctype>
#include <chrono>
#include <memory>
#include <cstring>
#include <limits>

namespace ferro {

using namespace winsock;

namespace {

constexpr int kPartSize = 255; // the most any call but SendFile moves; a short string
constexpr int kReadLnAttempts = 100;
constexpr int kStreamChunk = 256 * 1024; // SendStream's chunk: few calls, and little memory
constexpr int kProgressMs = 50;          // SendStream's progress: a smooth bar, not a hook per chunk

std::string TooLong(const std::string& what, std::size_t value, const std::string& limit)
{
    return what + " (" + std::to_string(value) + ", " + limit + ")";
}

} // namespace

void TFerrolink::WaitForWrite()
{
    RaiseUnlessDone(AwaitCompletion(FD_WRITE), {"Write Timed Out", "Write Canceled", "Write Failed"});
}

void TFerrolink::WaitForData()
{
    CheckThread();
    TimerOn();
    TWait wait(*this);
    int lastError = 0;
    for (;;) {
        // Data is mostly a moment away: waiting that moment in the receive
        // costs less than a turn of the event loop with a readiness watch,
        // which the loop must register and unregister. Events wait that long.
        char byte;
        const int peeked = recv(FHandle, &byte, 1, MSG_PEEK | ext::MSG_WAITMOMENT);
        if (peeked == SOCKET_ERROR)
            lastError = WSAGetLastError();
        // Data, the end of the stream or a real error: the receive that
        // follows deals with it. The timer keeps running.
        if (lastError != WSAEWOULDBLOCK)
            return;
        // Nothing waiting: sleep in the event loop until an event comes or the
        // socket turns readable, unless the wait is over already.
        if (peeked == SOCKET_ERROR && !wait.Over())
            wait.SleepOrReadable();
        else
            wait.Pass();
        if (peeked >= 0 || wait.Over())
            break;
    }
    TimerOff();
    if (wait.Over())
        Raise(wait.End() == TWaitEnd::TimedOut ? (FTimedOutText.empty() ? "Read Timed Out" : FTimedOutText) : "Read Canceled", 0);
}

void TFerrolink::SendBuffer(const char* text, std::uint16_t length)
{
    CheckThread();
    StatusMessage(kLevelSocketStep, "Sending Buffer");
    const std::size_t available = std::strlen(text);
    if (length == 0)
        length = static_cast<std::uint16_t>(std::min<std::size_t>(available, 0xFFFF));
    if (length > kPartSize)
        Raise(TooLong("Send Buffer Too Long", length, "at most 255 bytes"), 0);
    if (length > available)
        Raise(TooLong("Send Buffer Beyond Its Text", length, "text holds " + std::to_string(available)), 0);

    int position = 0;
    int remaining = length;
    while (remaining > 0) {
        WaitForWrite();
        const int sent = send(FHandle, text + position, remaining, FHoldWrites ? ext::MSG_MORE : 0);
        if (sent == SOCKET_ERROR) {
            ErrorManager(kToleratedError); // would-block: offer the same bytes again
            continue;
        }
        position += sent;
        remaining -= sent;
    }
}

void TFerrolink::RaiseIfTextTooLong(const std::string& text)
{
    // What would go out ends at the first NUL; more than one call carries
    // is refused whole rather than cut.
    const std::size_t length = std::strlen(text.c_str());
    if (length > kPartSize)
        Raise("Text Too Long (" + std::to_string(length) + " bytes, at most 255)", 0);
}

void TFerrolink::Write(const std::string& text)
{
    StatusMessage(kLevelOperation, "Write");
    RaiseIfTextTooLong(text);
    const std::string part = CutShort(text);
    std::memcpy(FSendBuffer.get(), part.c_str(), part.size() + 1);
    SendBuffer(FSendBuffer.get(), 0);
}

void TFerrolink::WriteLn(const std::string& text)
{
    StatusMessage(kLevelOperation, "WriteLn");
    RaiseIfTextTooLong(text);
    // Each addition is cut at 255: 254 characters go out with CR only, 255
    // with no line end at all.
    const std::string line = CutShort(CutShort(CutShort(text) + '\r') + '\n');
    std::memcpy(FSendBuffer.get(), line.c_str(), line.size() + 1);
    SendBuffer(FSendBuffer.get(), 0);
}

void TFerrolink::SendFile(TStream& stream)
{
    CheckThread();
    stream.SetPosition(0);
    StatusMessage(kLevelOperation, "Send File");
    char chunk[kPartSize];
    SendChunks(stream, chunk, kPartSize, 0, {});
}

void TFerrolink::SendStream(TStream& stream, const TSentBytesEvent& sent)
{
    CheckThread();
    stream.SetPosition(0);
    StatusMessage(kLevelOperation, "Send Stream");
    const auto buffer = std::make_unique_for_overwrite<char[]>(kStreamChunk);
    SendChunks(stream, buffer.get(), kStreamChunk, kProgressMs, sent);
}

void TFerrolink::SendChunks(TStream& stream, char* buffer, int chunk, int progressMs, const TSentBytesEvent& sent)
{
    FBytesRecvd = 0;
    const std::int64_t size = stream.Size();
    FBytesTotal = size;

    std::int64_t position = 0;
    bool complete = false;
    auto lastProgress = std::chrono::steady_clock::now();
    const TLife life = FAlive;
    try {
        do {
            WaitForWrite();
            const bool last = size <= position + chunk;
            const int length = last ? static_cast<int>(size - position) : chunk;
            stream.ReadBuffer(buffer, length);
            // Chunks before the last may travel together; the last pushes them out.
            const int taken = SendChunk(buffer, length, last ? 0 : ext::MSG_MORE);
            if (taken < length)
                stream.Seek(taken - length, TSeekOrigin::soCurrent);
            if (taken > 0 && sent)
                sent(buffer, static_cast<std::size_t>(taken));
            complete = last && taken == length;
            position += taken;
            FBytesRecvd += taken;
            const auto now = std::chrono::steady_clock::now();
            if (OnPacketRecvd && (complete || now - lastProgress >= std::chrono::milliseconds(progressMs))) {
                lastProgress = now;
                OnPacketRecvd(this);
                RaiseIfDestroyed(life);
            }
        } while (!complete && !BeenCanceled && !FBeenTimedOut);
    } catch (const EComponentDestroyed&) {
        throw;
    } catch (...) {
        PushHeldChunks();
        throw;
    }
    if (!complete)
        PushHeldChunks();
}

void TFerrolink::SendBytes(const void* data, std::size_t length)
{
    CheckThread();
    StatusMessage(kLevelSocketStep, "Sending Bytes");
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        WaitForWrite();
        const int part = static_cast<int>(std::min<std::size_t>(length, kStreamChunk));
        const int sent = send(FHandle, bytes, part, FHoldWrites ? ext::MSG_MORE : 0);
        if (sent == SOCKET_ERROR) {
            ErrorManager(kToleratedError); // would-block: offer the same bytes again
            continue;
        }
        bytes += sent;
        length -= static_cast<std::size_t>(sent);
    }
}

int TFerrolink::SendChunk(const char* chunk, int length, int flags)
{
    const int sent = send(FHandle, chunk, length, flags);
    if (sent != SOCKET_ERROR)
        return sent;
    // A full buffer counts as nothing sent and is waited out; a broken
    // connection would take nothing forever, so it raises.
    if (WSAGetLastError() != WSAEWOULDBLOCK)
        ErrorManager(kToleratedError);
    return 0;
}

void TFerrolink::PushHeldChunks()
{
    // Chunks counted as sent may wait to travel with the next one; when
    // there is none, they leave now. A failure shows in the next operation.
    ext::PushHeld(FHandle);
}

bool TFerrolink::PeerHasSpoken()
{
    char byte;
    return recv(FHandle, &byte, 1, MSG_PEEK) > 0;
}

std::string TFerrolink::Read(std::uint16_t count)
{
    char buffer[kPartSize];
    const int received = ReadInto(buffer, count);
    return std::string(buffer, static_cast<std::size_t>(received));
}

int TFerrolink::ReadInto(char* into, std::uint16_t count)
{
    if (count > kPartSize)
        Raise(TooLong("Read Count Too Large", count, "at most 255"), 0);
    if (Reports(kLevelTrace))
        StatusMessage(kLevelTrace, "Read( " + std::to_string(count) + " )");
    // 0: once, whatever is waiting.
    return static_cast<int>(count == 0 ? ReceiveUpTo(into, kPartSize, true) : ReceiveUpTo(into, count, false));
}

std::size_t TFerrolink::ReadBytes(void* into, std::size_t count)
{
    if (Reports(kLevelTrace))
        StatusMessage(kLevelTrace, "Read( " + std::to_string(count) + " )");
    return count == 0 ? 0 : ReceiveUpTo(static_cast<char*>(into), count, false);
}

std::size_t TFerrolink::ReceiveUpTo(char* into, std::size_t count, bool once)
{
    std::size_t total = 0;
    bool closed = false;
    do {
        WaitForData();
        const int wanted = static_cast<int>(std::min<std::size_t>(count - total, std::numeric_limits<int>::max()));
        const int received = recv(FHandle, into + total, wanted, 0);
        if (received == SOCKET_ERROR) {
            if (FResetEndsRead && WSAGetLastError() == WSAECONNRESET)
                break;
            ErrorManager(kToleratedError);
            continue;
        }
        closed = received == 0;
        total += static_cast<std::size_t>(received);
        FReceivedTotal += static_cast<std::size_t>(received);
        if (received > 0 && FReceivedHook)
            FReceivedHook(this);
    } while (!once && !closed && total != count && !BeenCanceled && !FBeenTimedOut);
    Deselect();
    return total;
}

std::string TFerrolink::ReadLn()
{
    WaitForData();
    char buffer[kPartSize];
    int peeked = 0;
    int lineEnd = 0; // 1-based position of the first LF, 0 for none
    const TLife life = FAlive;
    for (int attempts = 1;; ++attempts) {
        peeked = recv(FHandle, buffer, kPartSize, MSG_PEEK);
        if (peeked == SOCKET_ERROR)
            return NothingUnlessBroken();
        ProcessMessages();
        RaiseIfDestroyed(life);
        const void* lf = std::memchr(buffer, '\n', static_cast<std::size_t>(peeked));
        lineEnd = lf ? static_cast<int>(static_cast<const char*>(lf) - buffer) + 1 : 0;
        if (peeked == kPartSize || lineEnd > 0 || BeenCanceled || attempts == kReadLnAttempts)
            break;
    }
    const int received = recv(FHandle, buffer, lineEnd > 0 ? lineEnd : kPartSize, 0);
    if (received == SOCKET_ERROR)
        return NothingUnlessBroken();
    return std::string(buffer, static_cast<std::size_t>(received));
}

void TFerrolink::RaiseIfBroken()
{
    char byte;
    if (recv(FHandle, &byte, 1, MSG_PEEK) == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK)
        ErrorManager(kToleratedError);
}

std::string TFerrolink::NothingUnlessBroken()
{
    // Nothing waiting yet is an empty line; a broken connection is no line
    // at all, and says so.
    if (WSAGetLastError() != WSAEWOULDBLOCK)
        ErrorManager(kToleratedError);
    return {};
}

void TFerrolink::Transaction(const std::string& command, std::string& reply)
{
    FReplyCode = 0;
    WriteLn(command);
    FTransactionReply = ReadLn();
    if (!FTransactionReply.empty()) {
        StatusMessage(kLevelReply, FTransactionReply);
        std::int64_t code = 0;
        std::size_t digits = 0;
        while (digits < 10 && digits < FTransactionReply.size() && std::isdigit(static_cast<unsigned char>(FTransactionReply[digits])))
            code = code * 10 + (FTransactionReply[digits++] - '0');
        if (digits > 0) {
            if (code > std::numeric_limits<std::int32_t>::max())
                code = 0;
            if (code > std::numeric_limits<std::int16_t>::max())
                throw ERangeError();
            FReplyCode = static_cast<std::int16_t>(code);
        }
    }
    reply = FTransactionReply;
}

} // namespace ferro
