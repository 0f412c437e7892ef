#include "evernote/types/WireWriter.h"

#include <algorithm>

#include <thrift/Thrift.h>
#include <thrift/protocol/TProtocolException.h>

namespace evernote {

using namespace apache::thrift::protocol;

namespace {
// Room asked of an output buffer at the start; it grows by doubling.
constexpr uint32_t kFirstRoom = 256;
// Values at least this long go from their object to a stream transport
// directly instead of through the writer's own buffer.
constexpr size_t kDirectWrite = 256;
constexpr uint32_t kVersion1 = 0x80010000u;
}  // namespace

WireWriter::WireWriter(TProtocol& out) : WireWriter(WireEndpoint::of(out)) {}

WireWriter::WireWriter(const WireEndpoint& endpoint) : endpoint_(endpoint) {
    output_ = endpoint_.memory ? endpoint_.memory
                               : endpoint_.inPlace ? &endpoint_.inPlace->outputBuffer() : nullptr;
    if (output_) {
        start_ = pos_ = output_->getWritePtr(kFirstRoom);
        end_ = start_ + output_->available_write();
    } else {
        start_ = pos_ = own_;
        end_ = own_ + sizeof own_;
    }
}

void WireWriter::finish() {
    if (output_) {
        output_->wroteBytes(static_cast<uint32_t>(pos_ - start_));
        start_ = pos_;
    } else {
        sendBuffered();
    }
}

void WireWriter::sendBuffered() {
    if (pos_ != start_) endpoint_.transport->write(start_, static_cast<uint32_t>(pos_ - start_));
    pos_ = start_;
}

void WireWriter::grow(size_t n) {
    if (!output_) {
        sendBuffered();
        return;  // n is at most a header's size, far below the buffer's
    }
    size_t used = static_cast<size_t>(pos_ - start_);
    size_t want = used + std::max(n, used);
    start_ = output_->getWritePtr(static_cast<uint32_t>(want));
    pos_ = start_ + used;
    end_ = start_ + output_->available_write();
}

void WireWriter::writeBytes(std::string_view bytes) {
    writeI32(static_cast<int32_t>(bytes.size()));
    if (!output_ && bytes.size() >= kDirectWrite) {
        sendBuffered();
        endpoint_.transport->write(reinterpret_cast<const uint8_t*>(bytes.data()),
                                   static_cast<uint32_t>(bytes.size()));
        return;
    }
    room(bytes.size());
    if (!bytes.empty()) std::memcpy(pos_, bytes.data(), bytes.size());
    pos_ += bytes.size();
}

void WireWriter::writeMessageBegin(std::string_view name, TMessageType type, int32_t seqid) {
    if (!endpoint_.ownsHeaders) {
        // Another binary protocol: its own header form, after what is buffered.
        finish();
        endpoint_.protocol->writeMessageBegin(std::string(name), type, seqid);
        if (output_) {
            start_ = pos_ = output_->getWritePtr(kFirstRoom);
            end_ = start_ + output_->available_write();
        }
        return;
    }
    if (endpoint_.strictWrite) {
        writeI32(static_cast<int32_t>(kVersion1 | static_cast<uint32_t>(type)));
        writeBytes(name);
    } else {
        writeBytes(name);
        writeByte(static_cast<int8_t>(type));
    }
    writeI32(seqid);
}

void WireWriter::writeListBegin(TType elementType, uint32_t count) {
    writeByte(static_cast<int8_t>(elementType));
    writeI32(static_cast<int32_t>(count));
}

void WireWriter::writeMapBegin(TType keyType, TType valueType, uint32_t count) {
    writeByte(static_cast<int8_t>(keyType));
    writeByte(static_cast<int8_t>(valueType));
    writeI32(static_cast<int32_t>(count));
}

std::string_view WireWriter::stringKey(ns::Object& key, const char* field) {
    auto* text = dynamic_cast<ns::String*>(&key);
    if (!text)
        throw TProtocolException(TProtocolException::INVALID_DATA,
                                 std::string("element of ") + field + " is not of the declared type");
    return text->view();
}

}  // namespace evernote
