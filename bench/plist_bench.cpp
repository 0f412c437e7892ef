// Reads and writes a deck of 10,000 cards as property lists, with our code
// and with libplist on the same bytes. Bytes per second are of the document.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>

#include "platform/foundation/Foundation.h"
#include "platform/foundation/PropertyList.h"

#ifdef DECK_HAVE_LIBPLIST
#include <plist/plist.h>
#endif

using namespace ns;

namespace {

const char* kColors[] = {"silver", "black", "wine", "blue", "yellow", "purple", "green", "cyan", "flat"};

// 20 decks x 10 sections x 50 cards. Card texts are a few hundred bytes of
// prose, some with characters that XML must escape.
Ref<Array> makeDeck() {
    std::mt19937 rng(7);
    const std::string words[] = {"interview", "answer", "question", "team", "project", "deadline", "salary",
                                 "strength", "weakness", "example", "result", "manager", "goal", "plan",
                                 "R&D", "<b>key</b>", "\"quote\"", "caf\xC3\xA9", "experience", "role"};
    int index = 0;
    std::vector<Ref<Object>> decks;
    for (int d = 0; d < 20; ++d) {
        std::vector<Ref<Object>> sections;
        for (int s = 0; s < 10; ++s) {
            std::vector<Ref<Object>> cards;
            for (int c = 0; c < 50; ++c, ++index) {
                std::string text;
                size_t target = 200 + rng() % 300;
                while (text.size() < target) {
                    text += words[rng() % 20];
                    text += ' ';
                }
                char name[32];
                std::snprintf(name, sizeof name, "KORVEL_%05d.html", index);
                cards.push_back(Dictionary::make({
                    {"title", str("Card number " + std::to_string(index))},
                    {"SubTitle", str("Section " + std::to_string(s))},
                    {"text", str(text)},
                    {"color", str(kColors[index % 9])},
                    {"index", str(std::to_string(index))},
                    {"ActionData", str(name)},
                    {"post", str("example.invalid/cards/" + std::to_string(index))},
                    {"tamano", num(55 + index % 3)},
                }));
            }
            sections.push_back(Dictionary::make({{"Title", str("Section " + std::to_string(s))},
                                                 {"color", str(kColors[s % 9])},
                                                 {"Children", Array::make(std::move(cards))}}));
        }
        decks.push_back(Dictionary::make({{"Title", str("Deck " + std::to_string(d))},
                                          {"SubTitle", str("Twenty sections of cards")},
                                          {"Editable", str("YES")},
                                          {"Children", Array::make(std::move(sections))}}));
    }
    return Array::make(std::move(decks));
}

const Ref<Array>& deck() {
    static Ref<Array> d = makeDeck();
    return d;
}
const std::string& deckXML() {
    static std::string s = *PropertyList::dataFromPropertyList(*deck(), PropertyListFormat::XML);
    return s;
}
const std::string& deckBinary() {
    static std::string s = *PropertyList::dataFromPropertyList(*deck(), PropertyListFormat::Binary);
    return s;
}

void readOurs(benchmark::State& state, const std::string& doc) {
    for (auto _ : state) {
        Ref<Object> root = PropertyList::readFromData(doc);
        if (!root) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(root.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
    state.counters["doc_MB"] = static_cast<double>(doc.size()) / 1e6;
}

void BM_ReadXML_Ours(benchmark::State& state) { readOurs(state, deckXML()); }
void BM_ReadBinary_Ours(benchmark::State& state) { readOurs(state, deckBinary()); }

void BM_WriteXML_Ours(benchmark::State& state) {
    size_t bytes = 0;
    for (auto _ : state) {
        auto out = PropertyList::dataFromPropertyList(*deck(), PropertyListFormat::XML);
        bytes = out->size();
        benchmark::DoNotOptimize(out->data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

BENCHMARK(BM_ReadXML_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadBinary_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteXML_Ours)->Unit(benchmark::kMillisecond);

#ifdef DECK_HAVE_LIBPLIST
// Reads `doc` with libplist's reader `from` (XML or binary) in every round.
void readWithLibplist(benchmark::State& state, const std::string& doc,
                      void (*from)(const char*, uint32_t, plist_t*)) {
    for (auto _ : state) {
        plist_t root = nullptr;
        from(doc.data(), static_cast<uint32_t>(doc.size()), &root);
        if (!root || plist_array_get_size(root) != 20) state.SkipWithError("libplist read failed");
        plist_free(root);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}
void BM_ReadXML_Libplist(benchmark::State& state) { readWithLibplist(state, deckXML(), plist_from_xml); }
void BM_ReadBinary_Libplist(benchmark::State& state) { readWithLibplist(state, deckBinary(), plist_from_bin); }
void BM_WriteXML_Libplist(benchmark::State& state) {
    const std::string& doc = deckXML();
    plist_t root = nullptr;
    plist_from_xml(doc.data(), static_cast<uint32_t>(doc.size()), &root);
    size_t bytes = 0;
    for (auto _ : state) {
        char* out = nullptr;
        uint32_t length = 0;
        plist_to_xml(root, &out, &length);
        bytes = length;
        benchmark::DoNotOptimize(out);
        plist_to_xml_free(out);
    }
    plist_free(root);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_ReadXML_Libplist)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadBinary_Libplist)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteXML_Libplist)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
