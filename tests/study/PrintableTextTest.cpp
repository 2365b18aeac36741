// Names and texts as the research layer writes them: invalid UTF-8 and control
// characters escaped byte by byte, everything else kept, in JSON and tables alike.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "host/research/PrintableText.h"

namespace {

using corvantis::printableText;

TEST(PrintableText, EscapesBytesThatAreNotUtf8AndControlCharacters) {
    EXPECT_EQ(printableText("sub-01_task-rest"), "sub-01_task-rest");
    EXPECT_EQ(printableText("caf\xe9"), "caf\\xE9");                            // Latin-1
    EXPECT_EQ(printableText("caf\xc3\xa9 R\xc2\xb2"), "caf\xc3\xa9 R\xc2\xb2"); // UTF-8 stays
    EXPECT_EQ(printableText("a\tb\nc\rd\x7f"), "a\\x09b\\x0Ac\\x0Dd\\x7F");
    EXPECT_EQ(printableText(std::string("nul\0end", 7)), "nul\\x00end");
    EXPECT_EQ(printableText("\xc0\xaf"), "\\xC0\\xAF");                                       // overlong "/"
    EXPECT_EQ(printableText("\xed\xa0\x80"), "\\xED\\xA0\\x80");                              // a surrogate
    EXPECT_EQ(printableText("\xf4\x90\x80\x80"), "\\xF4\\x90\\x80\\x80");                     // beyond U+10FFFF
    EXPECT_EQ(printableText("\xe2\x82"), "\\xE2\\x82");                                       // cut short at the end
    EXPECT_EQ(printableText("\xe2\x82\xac\xf0\x9f\x99\x82"), "\xe2\x82\xac\xf0\x9f\x99\x82"); // 3 and 4 bytes
    EXPECT_EQ(printableText("\x80x"), "\\x80x"); // a lone continuation byte
}

TEST(PrintableText, ATableCellIsPrintableAndNeverEmpty) {
    EXPECT_EQ(corvantis::tableCell(""), "n/a");
    EXPECT_EQ(corvantis::tableCell("run\t1"), "run\\x091");
    EXPECT_EQ(corvantis::tableCell("line\nend"), "line\\x0Aend");
}

TEST(PrintableText, JsonWithNamesInAnotherEncodingIsWrittenAndReadBack) {
    nlohmann::ordered_json json = {{"run", "caf\xe9.nii.gz"}, {"columns", {"ok", "\xff"}}, {"n", 3}};
    json["k\xe9y"] = "v";
    EXPECT_THROW((void)json.dump(), nlohmann::json::type_error); // what stopped the writers
    const std::string text = corvantis::printableJsonText(json);
    EXPECT_EQ(text,
              "{\n  \"run\": \"caf\\\\xE9.nii.gz\",\n  \"columns\": [\n    \"ok\",\n    \"\\\\xFF\"\n  ],\n"
              "  \"n\": 3,\n  \"k\\\\xE9y\": \"v\"\n}\n");
    EXPECT_EQ(nlohmann::ordered_json::parse(text), corvantis::printableJson(json));
}

} // namespace
