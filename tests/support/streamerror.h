// The BasicDataStream::error that a piece of code throws, for tests that
// check codes and messages.
#pragma once

#include <gtest/gtest.h>

#include "stream/filereader.h"

namespace korrin::test {

template <typename F>
BasicDataStream::error streamErrorOf(F f)
{
    try {
        f();
    } catch (const BasicDataStream::error& e) {
        return e;
    }
    ADD_FAILURE() << "no BasicDataStream::error";
    return {0, ""};
}

} // namespace korrin::test
