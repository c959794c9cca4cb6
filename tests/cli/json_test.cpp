#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cli/Json.h"

namespace corvane::cli {
namespace {

TEST(JsonString, EscapesAndKeepsOutputValidUtf8) {
    struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"plain", "\"plain\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"line\r\nnext\ttab\x01", "\"line\\r\\nnext\\ttab\\u0001\""},
        {"caf\xC3\xA9 \xF0\x9F\x8E\xB5", "\"caf\xC3\xA9 \xF0\x9F\x8E\xB5\""},
        {"bad\xFF", "\"bad\xEF\xBF\xBD\""},                            // not UTF-8 at all
        {"cut\xC3", "\"cut\xEF\xBF\xBD\""},                            // truncated sequence
        {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},                  // overlong "/"
        {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // a lone surrogate
    };
    for (const auto& c : cases)
        EXPECT_EQ(JsonString(c.in), c.out);

    // Long plain text is scanned several bytes at a time: a byte that needs care is found in
    // every place of such a run.
    const struct {
        char in;
        const char* out;
    } bytes[] = {{'"', "\\\""},       {'\\', "\\\\"},           {'\0', "\\u0000"},
                 {'\x1F', "\\u001f"}, {'\x80', "\xEF\xBF\xBD"}, {'\x7F', "\x7F"}};
    const std::string plain = "abcdefghijklmnopqrstuvwx";
    for (const auto& b : bytes) {
        for (size_t at = 0; at < plain.size(); ++at) {
            std::string in = plain;
            in[at] = b.in;
            EXPECT_EQ(JsonString(in),
                      "\"" + plain.substr(0, at) + b.out + plain.substr(at + 1) + "\"")
                << "byte " << static_cast<int>(static_cast<unsigned char>(b.in)) << " at " << at;
        }
    }
}

TEST(JsonWriter, PlacesCommasAndPrintsWholeNumbersExactly) {
    TJsonWriter json;
    json.BeginObject();
    json.Key("pids").BeginArray().Int(INT64_MIN).Int(9007199254740993).UInt(UINT64_MAX).EndArray();
    // Keys fixed at build time ("..."_key) are placed as the others are.
    json.Key("empty"_key).BeginArray().EndArray();
    json.Key("ok").Bool(true);
    json.Key("none"_key).Null();
    json.EndObject();
    EXPECT_EQ(json.Text(),
              "{\"pids\":[-9223372036854775808,9007199254740993,18446744073709551615],"
              "\"empty\":[],\"ok\":true,\"none\":null}");
}

TEST(JsonWriter, AStreamingWriterWritesTheSameTextInPieces) {
    auto write = [](TJsonWriter& json) {
        json.BeginArray();
        for (int i = 0; i < 20000; ++i) {
            json.BeginObject().Key("index").Int(i).Key("title").String("Track \"" +
                                                                       std::to_string(i) + "\"");
            json.Key("control").String("\x01\x02\x03").EndObject();
        }
        json.EndArray();
    };
    TJsonWriter whole;
    write(whole);
    ASSERT_GT(whole.Text().size(), size_t{1} << 20);

    std::FILE* sink = std::tmpfile();
    ASSERT_NE(sink, nullptr);
    {
        TJsonWriter streamed(sink);
        write(streamed);
        // Only the part since the last piece is held.
        EXPECT_LT(streamed.Text().size(), size_t{128} << 10);
        EXPECT_TRUE(streamed.Flush());
        EXPECT_EQ(streamed.Text(), "");
    }
    std::string written(static_cast<size_t>(std::ftell(sink)), '\0');
    std::rewind(sink);
    ASSERT_EQ(std::fread(written.data(), 1, written.size(), sink), written.size());
    std::fclose(sink);
    EXPECT_EQ(written, whole.Text());
}

}  // namespace
}  // namespace corvane::cli
