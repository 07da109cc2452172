// Feeds arbitrary datagrams through the DNS client's reply checks and record
// decoding, as if they had arrived for a query with identifier 0x1234.
#include "resolve/dns/IdDNSResolver.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    // The client never receives more than its buffer holds.
    const int Len = Size > 8192 ? 8192 : int(Size);
    const QByteArray Reply(reinterpret_cast<const char*>(Data), Len);
    TIdDNSResolver Resolver;
    try {
        Resolver.ProcessReply(Reply, 0x1234);
    } catch (const EIdException&) {
    }
    // Touch what decoding produced so the sanitizers see every field.
    size_t Sum = 0;
    for (int I = 0; I < Resolver.QueryResult().Count(); ++I) {
        const TResultRecord* Rec = Resolver.QueryResult().GetItem(I);
        Sum += size_t(Rec->Name().size()) + size_t(Rec->RData().size()) + Rec->RecType();
        if (const auto* A = dynamic_cast<const TARecord*>(Rec))
            Sum += size_t(A->IPAddress().size());
        if (const auto* N = dynamic_cast<const TNAMERecord*>(Rec))
            Sum += size_t(N->HostName().size());
        if (const auto* T = dynamic_cast<const TTextRecord*>(Rec))
            Sum += size_t(T->Text().join(QString()).size());
    }
    return Sum == size_t(-1) ? 1 : 0;
}
