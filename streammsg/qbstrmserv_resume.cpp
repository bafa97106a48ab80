// TQBStrmServ's part in naming and resuming files: the path of the large
// form's version 2, and the part of a cut-off body kept for the next send.
#include <ferrolink/qbstrmserv.h>

#include <ferrolink/largeform.h>

#include <algorithm>
#include <memory>

namespace ferro {

std::string TQBStrmServ::ReadPath()
{
    char field[2];
    ReadExactly(field, sizeof field);
    std::string path(qbmsg::ReadBigEndian(field, sizeof field), '\0');
    if (path.size() > qbmsg::kMaxPathLength)
        Raise("Invalid file name length (" + std::to_string(path.size()) + ", at most " + std::to_string(qbmsg::kMaxPathLength) + ")", 0);
    ReadExactly(path.data(), path.size());
    return path;
}

std::unique_ptr<TStream> TQBStrmServ::KeptPart()
{
    if (FLabel.Path.empty() || !KeptBody)
        return nullptr;
    std::unique_ptr<TStream> kept;
    try {
        kept = KeptBody(FLabel);
        // Nothing kept, or more than this body: nothing to offer.
        if (kept && (kept->Size() <= 0 || static_cast<std::uint64_t>(kept->Size()) > FLabel.Size))
            kept.reset();
    } catch (const std::exception&) {
        kept.reset(); // a part that cannot be read is sent again
    }
    return kept;
}

std::uint64_t TQBStrmServ::OfferResume(TStream& kept, qbmsg::TBodyCheck& check)
{
    const auto size = static_cast<std::uint64_t>(kept.Size());
    constexpr std::size_t kPiece = 256 * 1024;
    const auto buffer = std::make_unique_for_overwrite<char[]>(kPiece);
    kept.SetPosition(0);
    for (std::uint64_t left = size; left > 0;) {
        const auto piece = static_cast<std::int64_t>(std::min<std::uint64_t>(left, kPiece));
        kept.ReadBuffer(buffer.get(), piece);
        check.Add(buffer.get(), static_cast<std::size_t>(piece));
        left -= static_cast<std::uint64_t>(piece);
    }
    const std::string offer = qbmsg::EncodeResumeOffer(size, check.Value());
    SendBytes(offer.data(), offer.size());
    char field[qbmsg::kLargeLengthSize];
    ReadExactly(field, sizeof field);
    const std::uint64_t from = qbmsg::ReadBigEndian(field, sizeof field);
    if (from != 0 && from != size)
        Raise("Invalid resume offset (" + std::to_string(from) + ", offered " + std::to_string(size) + ")", 0);
    return from;
}

void TQBStrmServ::ReadBodyKeepingCut(std::unique_ptr<TStream>& body, std::uint64_t left, qbmsg::TBodyCheck& check)
{
    FCutKeepable = !FLabel.Path.empty() && OnBodyCut;
    try {
        ReadLargeBody(*body, left, check);
    } catch (const EComponentDestroyed&) {
        throw;
    } catch (...) {
        if (FCutKeepable) {
            try {
                OnBodyCut(FLabel, std::move(body));
            } catch (...) {
                // Keeping is a courtesy to the next send: the cut is what
                // the caller needs to hear of.
            }
        }
        throw;
    }
}

} // namespace ferro
