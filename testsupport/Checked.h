// A pointer a test reads through in the middle of an expression, checked
// first: `must<ns::Number>(array->objectAtIndex(0))->longLongValue()`. A
// null, or an object of another class, ends the running test with a failure
// that says what was missing (GoogleTest reports the exception), and the rest
// of the executable still runs. A named pointer is checked with ASSERT_TRUE,
// or taken through present() where it is made.
#pragma once

#include <stdexcept>
#include <string>
#include <typeinfo>

#include "platform/foundation/Object.h"

namespace testsupport {

template <class T, class P>
T* must(P* p, const char* what = nullptr) {
    T* t = dynamic_cast<T*>(p);
    if (!t)
        throw std::runtime_error(std::string(what ? what : "a value") +
                                 (p ? " is of another class, wanted " : " is missing, wanted ") + typeid(T).name());
    return t;
}

template <class T, class P>
T* must(const ns::Ref<P>& p, const char* what = nullptr) {
    return must<T>(p.get(), what);
}

// The same for a reference that is kept: `auto notes = present(client.findNotes(...))`.
template <class T>
ns::Ref<T> present(ns::Ref<T> p, const char* what = nullptr) {
    if (!p) throw std::runtime_error(std::string(what ? what : "a value") + " is missing, wanted " + typeid(T).name());
    return p;
}

}  // namespace testsupport
