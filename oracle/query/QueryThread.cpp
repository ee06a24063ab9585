#include "oracle/query/detail/QueryThread.h"

#include "oracle/client/OracleError.h"
#include "oracle/query/OracleQuery.h"
#include "platform/UiHooks.h"

namespace velnor::oracle::detail {

TQueryThread::TQueryThread(TOracleQuery& query) : query_(query), thread_([this] { Run(); }) {}

TQueryThread::~TQueryThread() {
    {
        std::lock_guard lock(mutex_);
        terminated_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void TQueryThread::Resume() {
    {
        std::lock_guard lock(mutex_);
        busy_ = true;
    }
    wake_.notify_all();
}

bool TQueryThread::Busy() const {
    std::lock_guard lock(mutex_);
    return busy_;
}

bool TQueryThread::Terminated() const {
    std::lock_guard lock(mutex_);
    return terminated_;
}

void TQueryThread::Run() {
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return busy_ || terminated_; });
            if (terminated_) return;
        }
        RunOnce();
        std::lock_guard lock(mutex_);
        busy_ = false;
    }
}

void TQueryThread::RunOnce() {
    TOracleQuery& q = query_;
    auto fire = [&q](const std::function<void()>& call) {
        if (q.ThreadSynchronized()) {
            platform::Synchronize(call);
        } else {
            call();
        }
    };
    auto fireEvent = [&](const TOracleQueryEvent& event) {
        if (event) fire([&] { event(q); });
    };
    try {
        q.ExecuteRows(-1, -1);
        fireEvent(q.OnThreadExecuted);
        while (!q.Eof() && !Terminated()) {
            fireEvent(q.OnThreadRecord);
            q.Next();
        }
    } catch (const EOracleError& error) {
        try {
            if (q.OnThreadError) fire([&] { q.OnThreadError(q, error.ErrorCode(), error.what()); });
        } catch (...) {
            // An error handler that fails has nobody left to report to.
        }
    } catch (const std::exception& error) {
        try {
            if (q.OnThreadError) fire([&] { q.OnThreadError(q, 0, error.what()); });
        } catch (...) {
            // An error handler that fails has nobody left to report to.
        }
    } catch (...) {
        // Not an exception object: nothing to report, but the thread must survive it.
    }
    try {
        if (!Terminated()) fireEvent(q.OnThreadFinished);
    } catch (...) {
        // The thread has nobody to report to; the next run starts clean.
    }
}

}  // namespace velnor::oracle::detail
