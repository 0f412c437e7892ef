#include "net/json/JsonCategories.h"

#include <cstdio>
#include <mutex>

#include "net/json/JsonParser.h"
#include "net/json/JsonWriter.h"

namespace json {

namespace {
std::mutex& logMutex() {
    static std::mutex m;
    return m;
}
JsonLogHandler& logHandler() {
    static JsonLogHandler h;
    return h;
}
}  // namespace

void setJsonLogHandler(JsonLogHandler handler) {
    std::lock_guard<std::mutex> g(logMutex());
    logHandler() = std::move(handler);
}

void jsonLog(const std::string& line) {
    std::lock_guard<std::mutex> g(logMutex());
    if (logHandler()) {
        logHandler()(line);
        return;
    }
    std::fprintf(stderr, "%s\n", line.c_str());
}

ns::Ref<ns::Object> JSONValue(const ns::String* string) {
    if (!string) return nullptr;
    auto parser = ns::make<JsonParser>();
    ns::Ref<ns::Object> result = parser->objectWithString(string);
    if (!result) jsonLog("-JSONValue failed. Error is: " + parser->error());
    return result;
}

ns::Ref<ns::String> JSONRepresentation(const ns::Object* value) {
    auto writer = ns::make<JsonWriter>();
    ns::Ref<ns::String> result = writer->stringWithObject(value);
    if (!result) jsonLog("-JSONRepresentation failed. Error is: " + writer->error());
    return result;
}

}  // namespace json
