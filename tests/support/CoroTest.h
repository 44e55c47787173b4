#pragma once

// Helpers for Qt Test functions that drive coroutines.

#include <QCoro/QCoroTask>
#include <QEventLoop>
#include <QTest>

#include <exception>
#include <optional>
#include <type_traits>

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

// Where run() finds the outcome of the task it waits for.
template<typename T>
struct Outcome
{
    QEventLoop loop;
    std::optional<T> value;
    std::exception_ptr error;
    bool done = false;
};

template<>
struct Outcome<void>
{
    QEventLoop loop;
    std::exception_ptr error;
    bool done = false;
};

template<typename T>
QCoro::Task<void> capture(QCoro::Task<T> task, Outcome<T> *outcome)
{
    try {
        if constexpr (std::is_void_v<T>)
            co_await std::move(task);
        else
            outcome->value.emplace(co_await std::move(task));
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->done = true;
    outcome->loop.quit();
}

} // namespace detail

// Runs a coroutine to completion on a local event loop and returns its value;
// an exception thrown by the coroutine is rethrown here. (QCoro::waitFor of this
// QCoro version never returns when the task throws.)
template<typename T>
T run(QCoro::Task<T> &&task)
{
    detail::Outcome<T> outcome;
    auto wrapper = detail::capture(std::move(task), &outcome);
    if (!outcome.done)
        outcome.loop.exec();
    if (outcome.error)
        std::rethrow_exception(outcome.error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*outcome.value);
}

} // namespace oxle::test
