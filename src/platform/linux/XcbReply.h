#pragma once

// xcb hands its replies over as malloc'ed blocks: one owner type for all of them.

#include <cstdlib>
#include <memory>

namespace oxle {

struct XcbFree
{
    void operator()(void *reply) const { std::free(reply); } // NOLINT(cppcoreguidelines-no-malloc): xcb's allocation
};

template <typename T> using XcbReply = std::unique_ptr<T, XcbFree>;

} // namespace oxle
