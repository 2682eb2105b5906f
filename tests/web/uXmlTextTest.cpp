#include "web/uXmlText.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "web/TestJson.h"
#include "web/uJsonText.h"
#include "web/uStreamHub.h"

using namespace zelto;

TEST(XmlText, EscapeXmlByCodeUnit) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"plain text 1.5", "plain text 1.5"},
        {"a<b>&\"c\"'d'", "a&lt;b&gt;&amp;&quot;c&quot;'d'"},
        {"Temperatur \xC3\xA4u\xC3\x9F" "en", "Temperatur &#228;u&#223;en"},     // two-byte characters
        {"\xE2\x82\xAC 5", "&#8364; 5"},                                       // euro sign, three bytes
        {"\xF0\x9F\x98\x80", "&#55357;&#56832;"},                               // U+1F600: both surrogates
        {"\xC2\x80\xEF\xBF\xBF", "&#128;&#65535;"},                             // the range's two ends
        {std::string("\xFF" "a\xC3", 3), "&#255;a&#195;"},                      // stray bytes as Latin-1
        {std::string("tab\tnul\0!", 9), "tab\tnul&#65533;!"},                    // NUL: not in XML 1.0
        {"a\x01\x1b[1mb\r\n\x7f", "a&#65533;&#65533;[1mb\r\n\x7f"},           // only tab, CR, LF stay
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(EscapeXml(c.in), c.out) << c.in;
}

TEST(XmlText, ListToXmlItems) {
    EXPECT_EQ(ListToXmlItems({}), "");
    EXPECT_EQ(ListToXmlItems({"10", "<x>"}), "      <item>10</item>\r\n      <item><x></item>\r\n");
}

// A description or ALC text with control characters (ESC sequences, SOH) keeps every answer format valid:
// XML gets no character XML 1.0 forbids, JSON parses back to the same text, an event stays one data line.
TEST(XmlText, ControlCharactersLeaveEveryFormatWellFormed) {
    for (unsigned char c = 0; c < 0x20; ++c) {
        SCOPED_TRACE(static_cast<int>(c));
        const std::string text = std::string("x") + static_cast<char>(c) + "y";
        for (const char ch : EscapeXml(text)) {
            const auto b = static_cast<unsigned char>(ch);
            EXPECT_TRUE(b >= 0x20 || ch == '\t' || ch == '\n' || ch == '\r');
        }
        TVarResult r;
        r.Name = "c10.sys.alc_file";
        r.Kind = TValueKind::Text;
        r.Text = text;
        r.Description = text;
        const std::string entry = JsonVarEntry(r);
        const zelto::test::TJson doc = zelto::test::TJsonReader::Parse(JsonVarsDocumentOf({entry}));
        EXPECT_EQ(doc["vars"].Items[0]["value"].Str, text);
        const std::string event = TStreamHub::VarsEvent({entry});
        EXPECT_EQ(std::count(event.begin(), event.end(), '\n'), 3) << "event, data line, end";
        EXPECT_EQ(event.find('\r'), std::string::npos);
    }
}
