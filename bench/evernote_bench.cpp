// Encoding and decoding three Evernote records, by our generated records and
// by the code Thrift's compiler generates from the same fields
// (evernote/tests/interop/EdamCheck.thrift), on memory buffers with the binary
// protocol: a full user, an authentication result holding it (about 400
// bytes), and a note with three 16 KiB image resources (about 54 KB). Each
// decode makes a fresh record and drops it, as a client call does.
#include <benchmark/benchmark.h>

#include <random>

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include "EdamCheck_types.h"
#include "evernote/types/BinaryProtocol.h"
#include "evernote/types/EDAMAccount.h"
#include "evernote/types/EDAMTypes.h"
#include "evernote/userstore/EDAMUserStoreTypes.h"
#include "platform/foundation/Foundation.h"

namespace {

using apache::thrift::protocol::TBinaryProtocol;
using apache::thrift::transport::TMemoryBuffer;
using namespace evernote;

ns::Ref<EDAMUser> sampleUser() {
    auto attributes = ns::make<EDAMUserAttributes>();
    attributes->setDefaultLocationName(ns::str("Lisbon"));
    attributes->setDefaultLatitude(38.72);
    attributes->setDefaultLongitude(-9.14);
    attributes->setViewedPromotions(ns::Array::make({ns::str("promo-1"), ns::str("promo-2"), ns::str("promo-3")}));
    attributes->setRecentMailedAddresses(ns::Array::make({ns::str("a@example.test"), ns::str("b@example.test")}));
    attributes->setPreferredLanguage(ns::str("pt"));
    attributes->setDailyEmailLimit(50);
    attributes->setSentEmailDate(1300000000000LL);
    auto accounting = ns::make<EDAMAccounting>();
    accounting->setUploadLimit(62914560);
    accounting->setUploadLimitEnd(1302000000000LL);
    accounting->setPremiumServiceStatus(2);
    accounting->setPremiumCommerceService(ns::str("Paypal"));
    return ns::make<EDAMUser>(17, ns::str("carla"), ns::str("carla@example.test"), ns::str("Carla Reis"),
                              ns::str("Europe/Lisbon"), 1, 1290000000000LL, 1300000000000LL, 0, true,
                              ns::str("s42"), attributes, accounting);
}

ns::Ref<EDAMAuthenticationResult> sampleAuthenticationResult() {
    return ns::make<EDAMAuthenticationResult>(1300000000000LL, ns::str("S=s42:U=11:E=12e:C=12d:P=1cd:A=deck:H=abc"),
                                              1300003600000LL, sampleUser(), nullptr);
}

ns::Ref<ns::Data> randomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    return ns::Data::make(std::move(bytes));
}

// A shared card as the sharer sends it: ENML content with three JPEG images.
ns::Ref<EDAMNote> sampleNote() {
    auto note = ns::make<EDAMNote>();
    note->setTitle(ns::str("Tell me about a time you disagreed with your manager"));
    note->setNotebookGuid(ns::str("6f1c5c0e-8d2a-4b7e-9a61-2f0b3c4d5e6f"));
    note->setCreated(1300000000000LL);
    note->setTagNames(ns::Array::make({ns::str("interview"), ns::str("behavioural"), ns::str("cards")}));
    auto attributes = ns::make<EDAMNoteAttributes>();
    attributes->setSourceURL(ns::str("http://example.test/cards/17"));
    attributes->setAuthor(ns::str("Carla Reis"));
    note->setAttributes(attributes);
    std::string content = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><en-note>";
    while (content.size() < 4400) content += "<p>Situation, task, action and result, told in the first person.</p>";
    std::vector<ns::Ref<ns::Object>> resources;
    for (unsigned i = 0; i < 3; ++i) {
        auto body = randomBytes(16 * 1024, i);
        auto resource = ns::make<EDAMResource>();
        resource->setData(ns::make<EDAMData>(randomBytes(16, 100 + i), static_cast<int32_t>(body->length()), body));
        resource->setMime(ns::str("image/jpeg"));
        resource->setWidth(320);
        resource->setHeight(480);
        auto resourceAttributes = ns::make<EDAMResourceAttributes>();
        resourceAttributes->setFileName(ns::str("card-" + std::to_string(i) + ".jpg"));
        resource->setAttributes(resourceAttributes);
        resources.push_back(resource);
        content += "<p><en-media type=\"image/jpeg\" height=\"480\" width=\"320\" hash=\"00112233445566778899aabbccddeeff\"/></p>";
    }
    note->setContent(ns::String::make(content + "</en-note>"));
    note->setResources(ns::Array::make(std::move(resources)));
    return note;
}

std::string encoded(const Record& record) {
    auto buffer = std::make_shared<TMemoryBuffer>();
    BinaryProtocol p(buffer);
    record.write(p);
    return buffer->getBufferAsString();
}

template <class Theirs>
Theirs decodedByThem(const std::string& bytes) {
    auto buffer = std::make_shared<TMemoryBuffer>();
    buffer->write(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()));
    TBinaryProtocol p(buffer);
    Theirs record;
    record.read(&p);
    return record;
}

void encodeOurs(benchmark::State& state, ns::Ref<Record> (*sample)()) {
    auto record = sample();
    auto buffer = std::make_shared<TMemoryBuffer>(128 * 1024);
    BinaryProtocol p(buffer);
    for (auto _ : state) {
        buffer->resetBuffer();
        record->write(p);
        benchmark::DoNotOptimize(buffer->available_read());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * encoded(*record).size());
}

template <class Theirs>
void encodeTheirs(benchmark::State& state, ns::Ref<Record> (*sample)()) {
    std::string bytes = encoded(*sample());
    Theirs record = decodedByThem<Theirs>(bytes);
    auto buffer = std::make_shared<TMemoryBuffer>(128 * 1024);
    TBinaryProtocol p(buffer);
    for (auto _ : state) {
        buffer->resetBuffer();
        record.write(&p);
        benchmark::DoNotOptimize(buffer->available_read());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes.size());
}

template <class Ours>
void decodeOurs(benchmark::State& state, ns::Ref<Record> (*sample)()) {
    std::string bytes = encoded(*sample());
    auto buffer = std::make_shared<TMemoryBuffer>();
    BinaryProtocol p(buffer);
    for (auto _ : state) {
        buffer->resetBuffer(reinterpret_cast<uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()));
        auto record = ns::make<Ours>();
        record->read(p);
        buffer->readEnd();
        benchmark::DoNotOptimize(record.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes.size());
}

template <class Theirs>
void decodeTheirs(benchmark::State& state, ns::Ref<Record> (*sample)()) {
    std::string bytes = encoded(*sample());
    auto buffer = std::make_shared<TMemoryBuffer>();
    TBinaryProtocol p(buffer);
    for (auto _ : state) {
        buffer->resetBuffer(reinterpret_cast<uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()));
        Theirs record;
        record.read(&p);
        buffer->readEnd();
        benchmark::DoNotOptimize(&record);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes.size());
}

ns::Ref<Record> user() { return sampleUser(); }
ns::Ref<Record> authenticationResult() { return sampleAuthenticationResult(); }
ns::Ref<Record> note() { return sampleNote(); }

// Named "<record>/<encode|decode>/<ours|thrift>", so that each pair sorts together.
template <class Ours, class Theirs>
bool registerRecord(const std::string& name, ns::Ref<Record> (*sample)()) {
    benchmark::RegisterBenchmark((name + "/encode/ours").c_str(), encodeOurs, sample);
    benchmark::RegisterBenchmark((name + "/encode/thrift").c_str(), encodeTheirs<Theirs>, sample);
    benchmark::RegisterBenchmark((name + "/decode/ours").c_str(), decodeOurs<Ours>, sample);
    benchmark::RegisterBenchmark((name + "/decode/thrift").c_str(), decodeTheirs<Theirs>, sample);
    return true;
}

const bool registered = registerRecord<EDAMUser, edamcheck::User>("User", user) &&
                        registerRecord<EDAMAuthenticationResult, edamcheck::AuthenticationResult>(
                            "AuthenticationResult", authenticationResult) &&
                        registerRecord<EDAMNote, edamcheck::Note>("Note", note);

}  // namespace
