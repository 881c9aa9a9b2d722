// The FTP and SMTP reply reader: fed in pieces it reads what it reads fed whole; and a
// reply shown to people is one line of whole characters, at most 300 bytes.
#include "Fuzz.h"
#include "actions/MailFormat.h"
#include "common/ReplyReader.h"
#include "common/TextRules.h"

namespace {

// Every reply read from `input` given `piece` bytes at a time, and whether it broke the reader.
std::string readAll(ReplyReader::Protocol protocol, std::string_view input, size_t piece)
{
    ReplyReader reader(protocol);
    std::string read;
    for (size_t at = 0; at < input.size(); at += piece) {
        reader.add(input.substr(at, piece));
        ReplyReader::Reply reply;
        ReplyReader::State state;
        while ((state = reader.next(reply)) == ReplyReader::State::Complete) {
            FUZZ_CHECK(reply.code >= 0 && reply.code <= 999 && reply.text.size() <= ReplyReader::kLongest);
            read += std::to_string(reply.code) + ' ' + reply.text + '\n';
        }
        if (state == ReplyReader::State::Unreadable)
            return read + "unreadable";
    }
    return read;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const auto protocol = data[0] % 2 ? ReplyReader::Protocol::Ftp : ReplyReader::Protocol::Smtp;
    const std::string_view input(reinterpret_cast<const char *>(data) + 1, size - 1);
    FUZZ_CHECK(readAll(protocol, input, 1 + data[0] / 2 % 8) == readAll(protocol, input, input.size() + 1));

    const QString shown
        = MailFormat::Reply { data[0], QString::fromUtf8(input.data(), qsizetype(input.size())) }.summary();
    const std::string bytes = shown.toStdString();
    FUZZ_CHECK(bytes.size() <= 300 && TextRules::blankControls(bytes) == bytes);
    for (qsizetype i = 0; i < shown.size(); ++i) {
        FUZZ_CHECK(!shown[i].isLowSurrogate());
        i += shown[i].isHighSurrogate() && i + 1 < shown.size() && shown[i + 1].isLowSurrogate();
        FUZZ_CHECK(!shown[i].isHighSurrogate());
    }
    return 0;
}
