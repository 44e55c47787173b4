#pragma once

// Helpers for Qt Test functions that drive coroutines.

#include <QCoro/QCoroTask>
#include <QTest>

// Inside a coroutine a failed check must leave with co_return, not return.
#define QCORO_VERIFY(statement)                                                                    \
    do {                                                                                           \
        if (!QTest::qVerify(static_cast<bool>(statement), #statement, "", __FILE__, __LINE__))     \
            co_return;                                                                             \
    } while (false)

#define QCORO_COMPARE(actual, expected)                                                            \
    do {                                                                                           \
        if (!QTest::qCompare(actual, expected, #actual, #expected, __FILE__, __LINE__))            \
            co_return;                                                                             \
    } while (false)

namespace oxle::test {

// Runs a coroutine to completion on the current event loop and returns its value.
// Exceptions thrown by the coroutine propagate to the caller.
template<typename T>
T run(QCoro::Task<T> &&task)
{
    return QCoro::waitFor(std::move(task));
}

inline void run(QCoro::Task<void> &&task)
{
    QCoro::waitFor(std::move(task));
}

} // namespace oxle::test
