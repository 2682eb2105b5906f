#include "web/uXmlText.h"

#include <gtest/gtest.h>

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
        {std::string("tab\tnul\0!", 9), std::string("tab\tnul\0!", 9)},         // controls unchanged
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(EscapeXml(c.in), c.out) << c.in;
}

TEST(XmlText, ListToXmlItems) {
    EXPECT_EQ(ListToXmlItems({}), "");
    EXPECT_EQ(ListToXmlItems({"10", "<x>"}), "      <item>10</item>\r\n      <item><x></item>\r\n");
}
