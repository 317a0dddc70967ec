#include "uSimDocuments.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <utility>

namespace egaiss::sim {

namespace {

struct TOrganisation {
    const char* FullName;
    const char* ShortName;
    const char* Inn;
    const char* Kpp;  // empty for a sole trader, who is written as oref:FL
    const char* RegionCode;
    const char* Address;
};

struct TProduct {
    const char* FullName;
    const char* Kind;  // АП: alcohol product, ССП: beer and cider, ССНП: wine drinks
    const char* VCode;
    const char* Capacity;
    const char* AlcVolume;
    int PriceKopecks;
};

const TOrganisation kSuppliers[] = {
    {"Общество с ограниченной ответственностью «Винный погреб»", "ООО «Винный погреб»", "7701234567",
     "770101001", "77", "г. Москва, ул. Тверская, д. 12, стр. 1"},
    {"Акционерное общество «Северная ликёро-водочная компания»", "АО «СЛВК»", "7802345678", "780201001", "78",
     "г. Санкт-Петербург, наб. Обводного канала, д. 54"},
    {"ООО «Кубанские вина»", "ООО «Кубанские вина»", "2309876543", "230901001", "23",
     "Краснодарский край, г. Темрюк, ул. Виноградная, д. 3"},
    {"ООО «Пивоварня „Жигули“»", "ООО «Жигули»", "6312345098", "631201001", "63",
     "г. Самара, ул. Волжская, д. 7"},
    {"Индивидуальный предприниматель Смирнов Алексей Викторович", "ИП Смирнов А. В.", "503212345678", "",
     "50", "Московская обл., г. Подольск, ул. Садовая, д. 21"},
};

const TProduct kProducts[] = {
    {"Водка «Берёзовая роща» 40% 0,5 л", "АП", "200", "0.5000", "40.000", 35000},
    {"Коньяк российский пятилетний «Старый Кёнигсберг» 0,5 л", "АП", "229", "0.5000", "40.000", 89000},
    {"Вино столовое красное полусладкое «Кубанская лоза» 0,75 л", "АП", "403", "0.7500", "11.500", 42000},
    {"Вино игристое белое брют «Российское» 0,75 л", "АП", "440", "0.7500", "12.000", 51000},
    {"Пиво светлое пастеризованное «Жигулёвское» 0,45 л", "ССП", "261", "0.4500", "4.500", 7900},
    {"Настойка горькая «Перцовка с мёдом» 0,25 л", "АП", "237", "0.2500", "35.000", 21000},
    {"Сидр яблочный полусладкий «Садовый» 1,0 л", "ССП", "262", "1.0000", "5.500", 16000},
};

template <class T, std::size_t N>
const T& Pick(const T (&items)[N], int index) {
    return items[static_cast<std::size_t>(index) % N];
}

const char* const kShop = "ООО «Продукты у дома», магазин № 3";
const TOrganisation kShopOrganisation = {
    kShop, kShop, "5003123456", "500301001", "50", "Московская обл., г. Видное, ул. Школьная, д. 8"};

std::string DateText(int days_back = 0) {
    const std::time_t now = std::time(nullptr) - static_cast<std::time_t>(days_back) * 86400;
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    return text;
}

std::string DateTimeText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::string Money(int kopecks) {
    char text[32];
    std::snprintf(text, sizeof text, "%d.%02d", kopecks / 100, kopecks % 100);
    return text;
}

// Indented XML written element by element, the way the UTM formats its documents.
class TXmlText {
public:
    void Open(const std::string& tag, const std::string& attributes = {}) {
        Indent();
        FText += "<" + tag + (attributes.empty() ? "" : " " + attributes) + ">\n";
        FOpen.push_back(tag);
    }
    void Leaf(const std::string& tag, const std::string& text) {
        Indent();
        FText += "<" + tag + ">" + XmlEscape(text) + "</" + tag + ">\n";
    }
    void Close() {
        const std::string tag = FOpen.back();
        FOpen.pop_back();
        Indent();
        FText += "</" + tag + ">\n";
    }
    std::string Take() {
        while (!FOpen.empty())
            Close();
        return std::move(FText);
    }

private:
    void Indent() { FText.append(FOpen.size() * 2, ' '); }

    std::string FText = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    std::vector<std::string> FOpen;
};

const char* const kNamespaces =
    "Version=\"1.0\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:ns=\"http://fsrar.ru/WEGAIS/WB_DOC_SINGLE_01\"";

// Opens ns:Documents, the owner and ns:Document/ns:<element>; Take closes them.
void OpenDocument(TXmlText& xml, const std::string& owner, const std::string& element,
                  const std::string& extra_namespaces) {
    xml.Open("ns:Documents", std::string(kNamespaces) + " " + extra_namespaces);
    xml.Open("ns:Owner");
    xml.Leaf("ns:FSRAR_ID", owner);
    xml.Close();
    xml.Open("ns:Document");
    xml.Open("ns:" + element);
}

void WriteOrganisation(TXmlText& xml, const std::string& tag, const TOrganisation& org,
                       const std::string& reg_id) {
    const bool sole_trader = std::string(org.Kpp).empty();
    xml.Open(tag);
    xml.Open(sole_trader ? "oref:FL" : "oref:UL");
    xml.Leaf("oref:INN", org.Inn);
    if (!sole_trader) xml.Leaf("oref:KPP", org.Kpp);
    xml.Leaf("oref:ClientRegId", reg_id);
    xml.Leaf("oref:FullName", org.FullName);
    xml.Leaf("oref:ShortName", org.ShortName);
    xml.Open("oref:address");
    xml.Leaf("oref:Country", "643");
    xml.Leaf("oref:RegionCode", org.RegionCode);
    xml.Leaf("oref:description", org.Address);
    xml.Close();
    xml.Close();
    xml.Close();
}

void WriteProduct(TXmlText& xml, const std::string& tag, const TProduct& product, const std::string& alc_code,
                  const TOrganisation& producer, const std::string& producer_id) {
    xml.Open(tag);
    xml.Leaf("pref:Type", product.Kind);
    xml.Leaf("pref:FullName", product.FullName);
    xml.Leaf("pref:AlcCode", alc_code);
    xml.Leaf("pref:Capacity", product.Capacity);
    xml.Leaf("pref:UnitType", "Packed");
    xml.Leaf("pref:AlcVolume", product.AlcVolume);
    xml.Leaf("pref:ProductVCode", product.VCode);
    WriteOrganisation(xml, "pref:Producer", producer, producer_id);
    xml.Close();
}

constexpr const char* kRefNamespaces =
    "xmlns:oref=\"http://fsrar.ru/WEGAIS/ClientRef_v2\" xmlns:pref=\"http://fsrar.ru/WEGAIS/ProductRef_v2\" "
    "xmlns:ce=\"http://fsrar.ru/WEGAIS/CommonV3\"";

// The document's own namespace declaration followed by those of the shared reference schemas.
std::string WithRefs(const char* own) {
    return std::string(own) + " " + kRefNamespaces;
}

}  // namespace

bool IsDocumentTypeName(const std::string& type) {
    if (type.empty() || type.size() > 64) return false;
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (!letter(type[0])) return false;
    for (const char c : type) {
        if (!letter(c) && !(c >= '0' && c <= '9') && c != '_') return false;
    }
    return true;
}

std::string XmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

TDocumentFactory::TDocumentFactory(std::string fsrar_id, std::uint64_t seed)
    : FFsrarId(std::move(fsrar_id)), FRandom(seed) {}

const std::vector<std::string>& TDocumentFactory::IncomingTypes() {
    static const std::vector<std::string> types = {"WayBill_v4",      "FORM2REGINFO",  "Ticket",
                                                   "TTNHISTORYF2REG", "ReplyRests_v2", "ReplyNATTN"};
    return types;
}

const std::vector<std::string>& TDocumentFactory::OutgoingTypes() {
    static const std::vector<std::string> types = {"WayBillAct_v4", "QueryRests_v2", "QueryNATTN",
                                                   "QueryResendDoc"};
    return types;
}

std::string TDocumentFactory::Digits(int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += static_cast<char>('0' + Between(0, 9));
    return text;
}

int TDocumentFactory::Between(int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(FRandom);
}

std::string TDocumentFactory::Guid() {
    static const char* const hex = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 32; ++i) {
        if (i == 8 || i == 12 || i == 16 || i == 20) text += '-';
        int digit = Between(0, 15);
        if (i == 12) digit = 4;                // version 4
        if (i == 16) digit = 8 | (digit & 3);  // RFC 4122 variant
        text += hex[digit];
    }
    return text;
}

std::string TDocumentFactory::Signature() {
    static const char* const hex = "0123456789ABCDEF";
    std::string text;
    for (int i = 0; i < 128; ++i)
        text += hex[Between(0, 15)];
    return text;
}

TEgaisDocument TDocumentFactory::NextIncoming() {
    const std::string& type = IncomingTypes()[FNextIncoming++ % IncomingTypes().size()];
    return Incoming(type);
}

TEgaisDocument TDocumentFactory::NextOutgoing() {
    const std::string& type = OutgoingTypes()[FNextOutgoing++ % OutgoingTypes().size()];
    return Outgoing(type);
}

TEgaisDocument TDocumentFactory::Incoming(const std::string& type) {
    if (type == "WayBill_v4") return {type, WayBill()};
    if (type == "FORM2REGINFO") return {type, Form2RegInfo()};
    if (type == "Ticket") return Ticket("WayBillAct_v4", Guid());
    if (type == "TTNHISTORYF2REG") return {type, TtnHistory()};
    if (type == "ReplyRests_v2") return {type, Rests()};
    if (type == "ReplyNATTN") return {type, NoAnswerTtn()};
    TXmlText xml;
    OpenDocument(xml, FFsrarId, type, kRefNamespaces);
    xml.Leaf("ns:Identity", Digits(6));
    xml.Leaf("ns:Note", "Документ симулятора УТМ без шаблона");
    return {type, xml.Take()};
}

TEgaisDocument TDocumentFactory::Outgoing(const std::string& type) {
    if (type == "WayBillAct_v4") return {type, WayBillAct()};
    if (type == "QueryRests_v2") return {type, QueryRests()};
    if (type == "QueryNATTN") return {type, QueryNattn()};
    if (type == "QueryResendDoc") return {type, QueryResendDoc()};
    TXmlText xml;
    OpenDocument(xml, FFsrarId, type, kRefNamespaces);
    xml.Leaf("ns:Identity", Digits(6));
    xml.Leaf("ns:Note", "Исходящий документ симулятора сервера");
    return {type, xml.Take()};
}

std::string TDocumentFactory::WayBill() {
    const TOrganisation& supplier = Pick(kSuppliers, Between(0, 99));
    const std::string supplier_id = "0100" + Digits(8);
    TXmlText xml;
    OpenDocument(xml, FFsrarId, "WayBill_v4", WithRefs("xmlns:wb=\"http://fsrar.ru/WEGAIS/TTNSingle_v4\""));
    xml.Leaf("wb:Identity", Digits(6));
    xml.Open("wb:Header");
    xml.Leaf("wb:NUMBER", "РН-" + std::to_string(++FNumber + 1000));
    xml.Leaf("wb:Date", DateText(1));
    xml.Leaf("wb:ShippingDate", DateText(1));
    xml.Leaf("wb:Type", "WBInvoiceFromMe");
    WriteOrganisation(xml, "wb:Shipper", supplier, supplier_id);
    WriteOrganisation(xml, "wb:Consignee", kShopOrganisation, FFsrarId);
    xml.Open("wb:Transport");
    xml.Leaf("wb:ChangeOwnership", "NotChange");
    xml.Leaf("wb:TRAN_TYPE", "413");  // road transport
    xml.Leaf("wb:TRANSPORT_TYPE", "car");
    xml.Leaf("wb:TRANSPORT_REGNUMBER", "А123ВС777");
    xml.Leaf("wb:TRAN_CUSTOMER", kShop);
    xml.Leaf("wb:TRAN_DRIVER", "Иванов Пётр Сергеевич");
    xml.Leaf("wb:TRAN_LOADPOINT", supplier.Address);
    xml.Leaf("wb:TRAN_UNLOADPOINT", kShopOrganisation.Address);
    xml.Close();
    xml.Leaf("wb:Base", "Договор поставки № " + std::to_string(Between(10, 99)) + " от 15.01.2024");
    xml.Leaf("wb:Note", "Доставка до 18:00, разгрузка со двора");
    xml.Close();
    xml.Open("wb:Content");
    const int positions = Between(1, 3);
    for (int i = 1; i <= positions; ++i) {
        const TProduct& product = Pick(kProducts, Between(0, 99));
        xml.Open("wb:Position");
        xml.Leaf("wb:Identity", std::to_string(i));
        WriteProduct(xml, "wb:Product", product, "0" + Digits(18), supplier, supplier_id);
        xml.Leaf("wb:Quantity", std::to_string(Between(1, 24) * 6));
        xml.Leaf("wb:Price", Money(product.PriceKopecks));
        xml.Leaf("wb:FARegId", "FA-000000" + Digits(12));
        xml.Open("wb:InformF2");
        xml.Leaf("ce:F2RegId", "FB-000000" + Digits(12));
        xml.Close();
        xml.Close();
    }
    return xml.Take();
}

std::string TDocumentFactory::Form2RegInfo() {
    const TOrganisation& supplier = Pick(kSuppliers, Between(0, 99));
    TXmlText xml;
    OpenDocument(xml, FFsrarId, "TTNInformF2Reg",
                 WithRefs("xmlns:wbr=\"http://fsrar.ru/WEGAIS/TTNInformF2Reg\""));
    xml.Open("wbr:Header");
    xml.Leaf("wbr:Identity", Digits(6));
    xml.Leaf("wbr:WBRegId", "TTN-" + Digits(10));
    xml.Leaf("wbr:EGAISFixNumber", Digits(16));
    xml.Leaf("wbr:EGAISFixDate", DateText(1));
    xml.Leaf("wbr:WBNUMBER", "РН-" + std::to_string(FNumber + 1000));
    xml.Leaf("wbr:WBDate", DateText(1));
    WriteOrganisation(xml, "wbr:Shipper", supplier, "0100" + Digits(8));
    WriteOrganisation(xml, "wbr:Consignee", kShopOrganisation, FFsrarId);
    xml.Close();
    xml.Open("wbr:Content");
    const int positions = Between(1, 3);
    for (int i = 1; i <= positions; ++i) {
        xml.Open("wbr:Position");
        xml.Leaf("wbr:Identity", std::to_string(i));
        xml.Leaf("wbr:InformF2RegId", "FB-000000" + Digits(12));
        xml.Leaf("wbr:BottlingDate", DateText(Between(30, 300)));
        xml.Close();
    }
    return xml.Take();
}

TEgaisDocument TDocumentFactory::Ticket(const std::string& doc_type, const std::string& transport_id) {
    TXmlText xml;
    OpenDocument(xml, FFsrarId, "Ticket", "xmlns:tc=\"http://fsrar.ru/WEGAIS/Ticket\"");
    xml.Leaf("tc:TicketDate", DateTimeText());
    xml.Leaf("tc:Identity", Digits(6));
    xml.Leaf("tc:DocId", Guid());
    xml.Leaf("tc:TransportId", transport_id);
    xml.Leaf("tc:RegID", "TTN-" + Digits(10));
    xml.Leaf("tc:DocType", doc_type);
    xml.Open("tc:OperationResult");
    xml.Leaf("tc:OperationName", "Confirm");
    xml.Leaf("tc:OperationResult", "Accepted");
    xml.Leaf("tc:OperationDate", DateTimeText());
    xml.Leaf("tc:OperationComment", "Документ успешно принят и обработан");
    xml.Close();
    return {"Ticket", xml.Take()};
}

std::string TDocumentFactory::TtnHistory() {
    TXmlText xml;
    OpenDocument(xml, FFsrarId, "TTNHistoryF2Reg",
                 WithRefs("xmlns:wbr=\"http://fsrar.ru/WEGAIS/TTNHistoryF2Reg\""));
    xml.Open("wbr:Header");
    xml.Leaf("wbr:WBRegId", "TTN-" + Digits(10));
    xml.Close();
    xml.Open("wbr:Content");
    xml.Open("wbr:Position");
    xml.Leaf("wbr:Identity", "1");
    xml.Open("wbr:HistF2");
    const int steps = Between(1, 3);
    for (int i = 0; i < steps; ++i) {
        xml.Open("wbr:step");
        xml.Leaf("wbr:lev", std::to_string(i));
        xml.Leaf("wbr:Form2", "FB-000000" + Digits(12));
        xml.Leaf("wbr:parentForm2", i == 0 ? "" : "FB-000000" + Digits(12));
        xml.Leaf("wbr:Shipper", "0100" + Digits(8));
        xml.Leaf("wbr:Consignee", i + 1 == steps ? FFsrarId : "0100" + Digits(8));
        xml.Leaf("wbr:WBRegId", "TTN-" + Digits(10));
        xml.Leaf("wbr:amount", std::to_string(Between(6, 120)));
        xml.Close();
    }
    return xml.Take();
}

std::string TDocumentFactory::Rests() {
    const TOrganisation& producer = Pick(kSuppliers, Between(0, 99));
    TXmlText xml;
    OpenDocument(xml, FFsrarId, "ReplyRests_v2",
                 WithRefs("xmlns:rst=\"http://fsrar.ru/WEGAIS/ReplyRests_v2\""));
    xml.Leaf("rst:RestsDate", DateTimeText());
    xml.Open("rst:Products");
    const int positions = Between(2, 4);
    for (int i = 0; i < positions; ++i) {
        const TProduct& product = Pick(kProducts, Between(0, 99));
        xml.Open("rst:StockPosition");
        xml.Leaf("rst:Quantity", std::to_string(Between(1, 200)));
        xml.Leaf("rst:InformF1RegId", "FA-000000" + Digits(12));
        xml.Leaf("rst:InformF2RegId", "FB-000000" + Digits(12));
        WriteProduct(xml, "rst:Product", product, "0" + Digits(18), producer, "0100" + Digits(8));
        xml.Close();
    }
    return xml.Take();
}

std::string TDocumentFactory::NoAnswerTtn() {
    TXmlText xml;
    OpenDocument(xml, FFsrarId, "ReplyNoAnswerTTN", "xmlns:ttn=\"http://fsrar.ru/WEGAIS/ReplyNoAnswerTTN\"");
    xml.Leaf("ttn:Consignee", FFsrarId);
    xml.Leaf("ttn:ReplyDate", DateTimeText());
    xml.Open("ttn:ttnlist");
    const int count = Between(1, 2);
    for (int i = 0; i < count; ++i) {
        xml.Open("ttn:NoAnswer");
        xml.Leaf("ttn:WbRegID", "TTN-" + Digits(10));
        xml.Leaf("ttn:ttnNumber", "РН-" + std::to_string(Between(100, 999)));
        xml.Leaf("ttn:ttnDate", DateText(Between(1, 5)));
        xml.Leaf("ttn:Shipper", "0100" + Digits(8));
        xml.Close();
    }
    return xml.Take();
}

std::string TDocumentFactory::WayBillAct() {
    TXmlText xml;
    OpenDocument(xml, FFsrarId, "WayBillAct_v4",
                 WithRefs("xmlns:wa=\"http://fsrar.ru/WEGAIS/ActTTNSingle_v4\""));
    xml.Open("wa:Header");
    xml.Leaf("wa:IsAccept", "Accepted");
    xml.Leaf("wa:ACTNUMBER", "АКТ-" + std::to_string(++FNumber));
    xml.Leaf("wa:ActDate", DateText());
    xml.Leaf("wa:WBRegId", "TTN-" + Digits(10));
    xml.Leaf("wa:Note", "Товар принят полностью, расхождений нет");
    xml.Close();
    xml.Leaf("wa:Content", "");
    return xml.Take();
}

std::string TDocumentFactory::QueryRests() {
    TXmlText xml;
    OpenDocument(xml, FFsrarId, "QueryRests_v2", "xmlns:qp=\"http://fsrar.ru/WEGAIS/QueryParameters\"");
    xml.Open("qp:Parameters");
    xml.Open("qp:Parameter");
    xml.Leaf("qp:Name", "Комментарий");
    xml.Leaf("qp:Value", "Запрос остатков перед инвентаризацией");
    return xml.Take();
}

std::string TDocumentFactory::QueryNattn() {
    TXmlText xml;
    OpenDocument(xml, FFsrarId, "QueryNATTN", "xmlns:qp=\"http://fsrar.ru/WEGAIS/QueryParameters\"");
    xml.Open("qp:Parameters");
    xml.Open("qp:Parameter");
    xml.Leaf("qp:Name", "КОД");
    xml.Leaf("qp:Value", FFsrarId);
    return xml.Take();
}

std::string TDocumentFactory::QueryResendDoc() {
    TXmlText xml;
    OpenDocument(xml, FFsrarId, "QueryResendDoc", "xmlns:qp=\"http://fsrar.ru/WEGAIS/QueryParameters\"");
    xml.Open("qp:Parameters");
    xml.Open("qp:Parameter");
    xml.Leaf("qp:Name", "WBREGID");
    xml.Leaf("qp:Value", "TTN-" + Digits(10));
    return xml.Take();
}

}  // namespace egaiss::sim
