// Encoding and decoding an authentication result with a full user, by our
// generated records and by Thrift's compiler-generated code, on memory
// buffers with the binary protocol.
#include <benchmark/benchmark.h>

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include "EdamCheck_types.h"
#include "evernote/types/BinaryProtocol.h"
#include "evernote/types/EDAMAccount.h"
#include "evernote/userstore/EDAMUserStoreTypes.h"
#include "platform/foundation/Foundation.h"

namespace {

using apache::thrift::protocol::TBinaryProtocol;
using apache::thrift::transport::TMemoryBuffer;

ns::Ref<evernote::EDAMAuthenticationResult> sample() {
    using namespace evernote;
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
    auto user = ns::make<EDAMUser>(17, ns::str("carla"), ns::str("carla@example.test"), ns::str("Carla Reis"),
                                   ns::str("Europe/Lisbon"), 1, 1290000000000LL, 1300000000000LL, 0, true,
                                   ns::str("s42"), attributes, accounting);
    return ns::make<EDAMAuthenticationResult>(1300000000000LL, ns::str("S=s42:U=11:E=12e:C=12d:P=1cd:A=deck:H=abc"),
                                              1300003600000LL, user, nullptr);
}

std::string ourBytes() {
    auto buffer = std::make_shared<TMemoryBuffer>();
    evernote::BinaryProtocol p(buffer);
    sample()->write(p);
    return buffer->getBufferAsString();
}

void BM_EDAMEncode_Ours(benchmark::State& state) {
    auto record = sample();
    auto buffer = std::make_shared<TMemoryBuffer>(4096);
    evernote::BinaryProtocol p(buffer);
    for (auto _ : state) {
        buffer->resetBuffer();
        record->write(p);
        benchmark::DoNotOptimize(buffer->available_read());
    }
}
BENCHMARK(BM_EDAMEncode_Ours);

void BM_EDAMEncode_ThriftGenerated(benchmark::State& state) {
    std::string bytes = ourBytes();
    auto in = std::make_shared<TMemoryBuffer>();
    in->write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    TBinaryProtocol ip(in);
    edamcheck::AuthenticationResult record;
    record.read(&ip);
    auto buffer = std::make_shared<TMemoryBuffer>(4096);
    TBinaryProtocol p(buffer);
    for (auto _ : state) {
        buffer->resetBuffer();
        record.write(&p);
        benchmark::DoNotOptimize(buffer->available_read());
    }
}
BENCHMARK(BM_EDAMEncode_ThriftGenerated);

void BM_EDAMDecode_Ours(benchmark::State& state) {
    std::string bytes = ourBytes();
    auto buffer = std::make_shared<TMemoryBuffer>();
    evernote::BinaryProtocol p(buffer);
    for (auto _ : state) {
        buffer->resetBuffer(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size());
        auto record = ns::make<evernote::EDAMAuthenticationResult>();
        record->read(p);
        buffer->readEnd();
        benchmark::DoNotOptimize(record.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes.size());
}
BENCHMARK(BM_EDAMDecode_Ours);

void BM_EDAMDecode_ThriftGenerated(benchmark::State& state) {
    std::string bytes = ourBytes();
    auto buffer = std::make_shared<TMemoryBuffer>();
    TBinaryProtocol p(buffer);
    for (auto _ : state) {
        buffer->resetBuffer(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size());
        edamcheck::AuthenticationResult record;
        record.read(&p);
        buffer->readEnd();
        benchmark::DoNotOptimize(&record);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes.size());
}
BENCHMARK(BM_EDAMDecode_ThriftGenerated);

}  // namespace
