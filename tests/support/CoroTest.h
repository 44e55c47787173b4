#pragma once

// Helpers for Qt Test functions that drive coroutines.

#include <QCoro/QCoroTask>
#include <QEventLoop>
#include <QTest>

#include <exception>
#include <optional>

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

namespace detail {

template<typename T>
QCoro::Task<void> capture(QCoro::Task<T> task, std::optional<T> &value, std::exception_ptr &error, bool &done,
                          QEventLoop &loop)
{
    try {
        value.emplace(co_await std::move(task));
    } catch (...) {
        error = std::current_exception();
    }
    done = true;
    loop.quit();
}

inline QCoro::Task<void> capture(QCoro::Task<void> task, std::exception_ptr &error, bool &done, QEventLoop &loop)
{
    try {
        co_await std::move(task);
    } catch (...) {
        error = std::current_exception();
    }
    done = true;
    loop.quit();
}

} // namespace detail

// Runs a coroutine to completion on a local event loop and returns its value;
// an exception thrown by the coroutine is rethrown here. (QCoro::waitFor of this
// QCoro version never returns when the task throws.)
template<typename T>
T run(QCoro::Task<T> &&task)
{
    QEventLoop loop;
    std::optional<T> value;
    std::exception_ptr error;
    bool done = false;
    auto wrapper = detail::capture(std::move(task), value, error, done, loop);
    if (!done)
        loop.exec();
    if (error)
        std::rethrow_exception(error);
    return std::move(*value);
}

inline void run(QCoro::Task<void> &&task)
{
    QEventLoop loop;
    std::exception_ptr error;
    bool done = false;
    auto wrapper = detail::capture(std::move(task), error, done, loop);
    if (!done)
        loop.exec();
    if (error)
        std::rethrow_exception(error);
}

} // namespace oxle::test
