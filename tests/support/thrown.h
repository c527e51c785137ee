// The exception of type E that f throws, for checks of codes and messages; a
// test failure (and E{}) when it throws none.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace korrin::test {

template <class E, class F>
E thrown(F f)
{
    try {
        f();
    } catch (const E& e) {
        return e;
    }
    ADD_FAILURE() << "nothing thrown";
    return E{};
}

// "code: message" of the E that f throws.
template <class E, class F>
std::string thrownText(F f)
{
    E e = thrown<E>(f);
    return std::to_string(e.code) + ": " + e.message.c_str();
}

} // namespace korrin::test
