// The layout of the built-in upgrade script: the runner, the database and the
// people reading a site's history all see this exact text, so its line breaks,
// indentation and the provider addresses in the default row are checked here.
#include "workflow/upgrade_script.h"

#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <vector>

using namespace kv;

namespace {

// Splits on CR LF; a lone CR or LF stays inside a line so the test sees it.
std::vector<std::string> crlf_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
        lines.push_back(text.substr(start, at - start));
    lines.push_back(text.substr(start));
    return lines;
}

bool is_ascii(const std::string& s) {
    for (unsigned char c : s)
        if (c > 127) return false;
    return true;
}

} // namespace

TEST(UpgradeScriptText, StartsWithTheMarkerUpdateAndEndsWithCommitWithoutBreak) {
    const std::string& text = upgrade_script();
    EXPECT_EQ(text.rfind("    update firmabilgi set yil=2027;\r\n", 0), 0u);
    ASSERT_GE(text.size(), 13u);
    EXPECT_EQ(text.substr(text.size() - 13), "\r\n    COMMIT;");
}

TEST(UpgradeScriptText, LinesAreCrLfSeparatedIndentedAndClean) {
    const auto lines = crlf_lines(upgrade_script());
    ASSERT_GT(lines.size(), 200u);
    bool previous_empty = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        SCOPED_TRACE("line " + std::to_string(i + 1) + ": " + line);
        EXPECT_EQ(line.find_first_of("\r\n\t"), std::string::npos);
        if (line.empty()) {
            EXPECT_FALSE(previous_empty) << "two empty lines in a row";
            previous_empty = true;
            continue;
        }
        previous_empty = false;
        EXPECT_EQ(line.rfind("    ", 0), 0u) << "not indented by four blanks";
        EXPECT_NE(line.back(), ' ');
        const bool comment = line.rfind("    --", 0) == 0;
        if (!comment) {
            EXPECT_TRUE(is_ascii(line)) << "letters outside ASCII belong in comments only";
            EXPECT_EQ(line.find("--"), std::string::npos) << "comments stand on lines of their own";
        }
    }
}

TEST(UpgradeScriptText, DefaultInvoicingRowNamesTheProviderByHostOnly) {
    const std::string& text = upgrade_script();
    const std::string head =
        "    INSERT INTO FATURABILGI (FBID, FATURAAKTIF, MYSOFTTESTURL, MYSOFTBASEURL, FISLIMIT)\r\n";
    const auto at = text.find(head);
    ASSERT_NE(at, std::string::npos);
    const auto values_start = at + head.size();
    const std::string values = text.substr(values_start, text.find("\r\n", values_start) - values_start);
    EXPECT_EQ(values, std::string("    VALUES (1, 'H', '") + kEInvoiceProviderTestUrl + "', '" +
                          kEInvoiceProviderBaseUrl + "', 12000);");
    const std::regex host_only("https://[A-Za-z0-9.-]+");
    EXPECT_TRUE(std::regex_match(kEInvoiceProviderTestUrl, host_only));
    EXPECT_TRUE(std::regex_match(kEInvoiceProviderBaseUrl, host_only));
    EXPECT_STRNE(kEInvoiceProviderTestUrl, kEInvoiceProviderBaseUrl);
}
