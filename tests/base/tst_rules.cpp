// The text rules and the reply reader: tables of what a user types or a server sends, and what is read.
#include "Check.h"
#include "base/ReplyReader.h"
#include "base/TextRules.h"

#include <climits>
#include <ctime>
#include <sstream>

using namespace TextRules;

CHECK_TEST(numbers)
{
    constexpr int none = INT_MIN;
    const auto read = [](auto number) { return number ? int(*number) : none; };
    const struct {
        const char *text;
        int whole16, timeout, port;
    } rows[] = {
        { "  15 ", 15, 15, 15 },
        { "-32768", -32768, -32768, none },
        { "32767", 32767, 32767, 32767 },
        { "32768", none, none, 32768 },
        { "65535", none, none, 65535 },
        { "65536", none, none, none },
        { "25E-1", 2, 2, 2 },
        { ".6", 1, 1, 1 },
        { "+3.", 3, 3, 3 },
        { "1e400", none, none, none },
        { "0", 0, 0, 0 },
        { "0.4", 0, 1, 0 },
        { "-0.4", 0, 0, 0 },
        { "-1", -1, -1, none },
        { "1e-400", 0, 1, 0 },
        { "", none, none, none },
        { "23a", none, none, none },
        { "1,000", none, none, none },
        { "1 2", none, none, none },
        { "\t5", none, none, none },
        { "0x10", none, none, none },
        { "-", none, none, none },
        { "1e", none, none, none },
    };
    for (const auto &row : rows) {
        CHECK_EQ(read(toWholeNumber16(row.text)), row.whole16, row.text);
        CHECK_EQ(read(toTimeout(row.text)), row.timeout, row.text);
        CHECK_EQ(read(toPortNumber(row.text)), row.port, row.text);
    }
}

CHECK_TEST(oneLine)
{
    const struct {
        std::string text, shown;
    } rows[] = {
        { "a\r\nb\tc\x01\x7f"
          "d",
            "a  b c  d" },
        { "Gerät 東京 😀 ߿", "Gerät 東京 😀 ߿" }, // the last two-byte character too
        { "next\xC2\x85line\xE2\x80\xA8"
          "and\xE2\x80\xA9para\xC2\xA0\xF4\x8F\xBF\xBD",
            "next line and para\xC2\xA0\xF4\x8F\xBF\xBD" },
        { "bad\xFF\xC3(\xED\xA0\x80"
          "ok\xF5\x80\x80\x80\xF4\x90\x80\x80\xE2\x82",
            "bad\xEF\xBF\xBD\xEF\xBF\xBD(\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDok\xEF\xBF\xBD\xEF\xBF\xBD"
            "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" },
    };
    for (const auto &row : rows)
        CHECK_EQ(blankControls(row.text), row.shown, row.text);
    CHECK_EQ(cutAtCharacter("ab😀", 5), "ab");
    CHECK_EQ(cutAtCharacter("ab😀", 6), "ab😀");
}

// Each reply as it arrives, in pieces split at "|": what the reader makes of it, reply by reply.
CHECK_TEST(replies)
{
    const std::string huge(70000, 'x');
    const struct {
        std::string pieces, read;
    } rows[] = {
        { "220-first\n220-second\r\n 220 not the end\n\n220 ready\r\n", "220 first\nready; ?" },
        { "120 ready in 1 minute\r\n220 ready|\r\n", "120 ready in 1 minute; 220 ready; ?" },
        { "220ready\r\n", "220 ready; ?" },
        { "599\r\n", "599 ; ?" },
        { "SSH-2.0-OpenSSH_9.2\r\n", "unreadable" },
        { "099 low\r\n", "unreadable" },
        { huge, "unreadable" },
        { "220-x\r\n" + huge + "\r\n220 y\r\n", "unreadable" },
    };
    for (const auto &row : rows) {
        ReplyReader reader;
        std::string read;
        std::istringstream pieces(row.pieces);
        ReplyReader::State state = ReplyReader::State::Incomplete;
        for (std::string piece; state != ReplyReader::State::Unreadable && std::getline(pieces, piece, '|');) {
            reader.add(piece);
            for (ReplyReader::Reply reply; (state = reader.next(reply)) == ReplyReader::State::Complete;)
                read += std::to_string(reply.code) + ' ' + reply.text + "; ";
        }
        read += state == ReplyReader::State::Unreadable ? "unreadable" : "?";
        CHECK_EQ(read, row.read, row.pieces.substr(0, 40));
    }
}

// A reply trickled in line by line is read as it comes, never from its start again, which costs seconds here.
CHECK_TEST(trickledReply)
{
    ReplyReader reader;
    ReplyReader::Reply reply;
    const std::clock_t start = std::clock();
    for (int line = 0; line < 9000; ++line) {
        reader.add("220-x\r\n");
        CHECK(reader.next(reply) == ReplyReader::State::Incomplete);
    }
    reader.add("220 end\r\n");
    CHECK(reader.next(reply) == ReplyReader::State::Complete && reply.text == "x\nend");
    CHECK(std::clock() - start < CLOCKS_PER_SEC / 5);
}

int main(int argc, char **argv) { return Check::run(argc, argv); }
