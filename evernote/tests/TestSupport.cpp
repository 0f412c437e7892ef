#include "evernote/tests/TestSupport.h"

#include <stdexcept>

#include "evernote/tests/EDAMRecordFixtures.h"
#include "evernote/tests/FixtureValues.h"

namespace evernote::fixtures {
void fillRecord(Record& record, std::mt19937& rng, int depth) {
    for (const auto& kind : allRecordKinds()) {
        if (kind.className == record.className()) {
            kind.fill(record, rng, depth);
            return;
        }
    }
    throw std::logic_error(std::string("no fixture for ") + record.className());
}
}  // namespace evernote::fixtures

namespace evernote::test {

std::string bytes(const std::string& notation) {
    std::string out;
    for (size_t i = 0; i < notation.size();) {
        char c = notation[i];
        if (c == ' ' || c == '\n' || c == '|') {
            ++i;
        } else if (c == '\'') {
            size_t end = notation.find('\'', i + 1);
            out += notation.substr(i + 1, end - i - 1);
            i = end + 1;
        } else {
            out += static_cast<char>(std::stoi(notation.substr(i, 2), nullptr, 16));
            i += 2;
        }
    }
    return out;
}

std::string hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i) out += ' ';
        auto b = static_cast<unsigned char>(bytes[i]);
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::shared_ptr<BinaryProtocol> reading(const std::string& data) {
    // Written into a default buffer: a buffer made over zero bytes has no storage.
    auto buffer = std::make_shared<TMemoryBuffer>();
    buffer->write(reinterpret_cast<const uint8_t*>(data.data()), static_cast<uint32_t>(data.size()));
    return std::make_shared<BinaryProtocol>(buffer);
}

std::shared_ptr<BinaryProtocol> streaming(const std::string& data) {
    auto buffer = std::make_shared<TMemoryBuffer>();
    buffer->write(reinterpret_cast<const uint8_t*>(data.data()), static_cast<uint32_t>(data.size()));
    return std::make_shared<BinaryProtocol>(std::make_shared<TBufferedTransport>(buffer, 7, 7));
}

std::string encodeStreaming(const Record& record) {
    auto buffer = std::make_shared<TMemoryBuffer>();
    BinaryProtocol out(std::make_shared<TBufferedTransport>(buffer, 7, 7));
    record.write(out);
    out.getTransport()->flush();
    return buffer->getBufferAsString();
}

std::string encode(const Record& record) {
    Wire w;
    record.write(*w.protocol);
    return w.contents();
}

void fillRecord(Record& record, unsigned seed) {
    std::mt19937 rng(seed);
    fixtures::fillRecord(record, rng, 3);
}

CallHeader callHeader(const std::string& call) {
    CallHeader header;
    apache::thrift::protocol::TMessageType type;
    reading(call)->readMessageBegin(header.name, type, header.seqid);
    return header;
}

std::string exceptionReply(const CallHeader& header, int16_t field, const Record& exception) {
    using namespace apache::thrift::protocol;
    Wire reply;
    reply.protocol->writeMessageBegin(header.name, T_REPLY, header.seqid);
    reply.protocol->writeStructBegin("result");
    reply.protocol->writeFieldBegin("exception", T_STRUCT, field);
    exception.write(*reply.protocol);
    reply.protocol->writeFieldEnd();
    reply.protocol->writeFieldStop();
    reply.protocol->writeStructEnd();
    reply.protocol->writeMessageEnd();
    return reply.contents();
}

void CannedReplies::setReply(std::string reply) {
    std::lock_guard<std::mutex> g(mutex_);
    next_ = std::move(reply);
}

}  // namespace evernote::test
