#pragma once
// EGAIS documents for the simulators: what the UTM hands out on its out side (waybills, form 2
// registrations, tickets, rests) and what the server queues for the UTM's in side. The content is
// drawn from a seeded generator, so a given seed yields the same documents; only dates follow the
// clock. Not thread-safe: the owner serialises calls.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace egaiss::sim {

struct TEgaisDocument {
    std::string Type;  // as in the UTM paths: "WayBill_v4", "QueryRests_v2", ...
    std::string Xml;
};

class TDocumentFactory {
public:
    TDocumentFactory(std::string fsrar_id, std::uint64_t seed);

    // The next document EGAIS sends to the shop, the types taking turns.
    TEgaisDocument NextIncoming();
    // An out-side document of `type`; a type without a template gets a small document of its own name.
    TEgaisDocument Incoming(const std::string& type);
    // The receipt for a document the shop sent.
    TEgaisDocument Ticket(const std::string& doc_type, const std::string& transport_id);

    // The next document the shop sends, the types taking turns.
    TEgaisDocument NextOutgoing();
    TEgaisDocument Outgoing(const std::string& type);

    // A random GUID as the UTM writes transport ids (lower case, with hyphens).
    std::string Guid();
    // A random signature in hexadecimal, as the UTM returns with an accepted document.
    std::string Signature();

    const std::string& FsrarId() const { return FFsrarId; }

    static const std::vector<std::string>& IncomingTypes();
    static const std::vector<std::string>& OutgoingTypes();

private:
    std::string Digits(int count);
    int Between(int low, int high);

    std::string WayBill();
    std::string Form2RegInfo();
    std::string TtnHistory();
    std::string Rests();
    std::string NoAnswerTtn();
    std::string WayBillAct();
    std::string QueryRests();
    std::string QueryNattn();
    std::string QueryResendDoc();

    std::string FFsrarId;
    std::mt19937_64 FRandom;
    std::size_t FNextIncoming = 0;
    std::size_t FNextOutgoing = 0;
    int FNumber = 0;  // running number of waybills and acts
};

// True for a name usable as a document type in a UTM path and as an XML element name.
bool IsDocumentTypeName(const std::string& type);

// The text with the five XML special characters written as entities.
std::string XmlEscape(const std::string& text);

}  // namespace egaiss::sim
