#include "core/uXmlCompleteness.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace egaiss {
namespace {

const std::string Document =
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!-- from the UTM -->\n"
    "<ns:Documents Version=\"1.0\" note='a > b' xmlns:ns=\"http://fsrar.ru/WEGAIS/WB_DOC_SINGLE_01\">\n"
    "  <ns:Document><wb:WayBill_v4><wb:Identity>Накладная 17</wb:Identity><wb:Empty/>"
    "<![CDATA[a<b]]></wb:WayBill_v4></ns:Document>\n"
    "</ns:Documents>";

TEST(XmlCompletenessTest, WholeDocumentsPassWhateverStandsAroundTheRoot) {
    for (const std::string& xml : {
             Document,
             Document + " \r\n\t",
             Document + "\n<!-- signed -->\n<?done yes?>\n",
             std::string("<a/>"),
             std::string("<?xml version=\"1.0\"?><Ticket attr=\"/\" />"),
             std::string("<!DOCTYPE a [<!ENTITY e \"x>\">]><a>&e;</a >"),
             std::string("<!DOCTYPE a SYSTEM \"a.dtd\"><a></a>"),
         }) {
        EXPECT_EQ(IncompleteXmlReason(xml), std::nullopt) << xml;
    }
}

TEST(XmlCompletenessTest, CutOffOrRootlessBodiesAreRefusedSayingWhy) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "empty body"},
        {" \r\n", "no root element"},
        {"<?xml version=\"1.0\"?>\n", "no root element"},
        {"<?xml version=\"1.0\"", "ends before the root element"},
        {"<!-- cut", "ends before the root element"},
        {"<!DOCTYPE a [<!ENTITY e \"x\">", "ends before the root element"},
        {"HTTP error", "does not start with an element"},
        {"<![CDATA[x]]>", "does not start with an element"},
        {"</a>", "does not start with an element"},
        {"<ns:Documents xmlns:ns=\"http://a>", "ends inside the start tag of <ns:Documents>"},
        {"<a><b>text", "root element <a> is not closed at the end"},
        {"<a><b/></b>", "root element <a> is not closed at the end"},
        {"<a></ab>", "root element <a> is not closed at the end"},
        {"<a><!-- </a> -->", "root element <a> is not closed at the end"},
        {"<a/><b/>", "text after the root element <a/>"},
        {"<" + std::string(100, 'n') + "\xFF", "ends inside the start tag of <" + std::string(60, 'n') + ">"},
    };
    for (const auto& [xml, reason] : cases)
        EXPECT_EQ(IncompleteXmlReason(xml), reason) << xml;

    // A cut anywhere before the root's end tag is seen, whatever it splits.
    const std::size_t whole = Document.size();
    for (std::size_t length = 0; length < whole; ++length)
        EXPECT_NE(IncompleteXmlReason(Document.substr(0, length)), std::nullopt) << length;
}

}  // namespace
}  // namespace egaiss
