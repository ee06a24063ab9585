// The background thread of a Threaded query: it executes the query and walks its rows each
// time it is resumed, then suspends itself again.
#pragma once
#include <condition_variable>
#include <mutex>
#include <thread>

namespace velnor::oracle {
class TOracleQuery;
}

namespace velnor::oracle::detail {

class TQueryThread {
public:
    explicit TQueryThread(TOracleQuery& query);
    // Terminates, resumes and waits for the thread.
    ~TQueryThread();
    TQueryThread(const TQueryThread&) = delete;
    TQueryThread& operator=(const TQueryThread&) = delete;

    // Starts one run; the caller has checked that the thread is not busy.
    void Resume();
    [[nodiscard]] bool Busy() const;
    [[nodiscard]] bool Terminated() const;

private:
    void Run();
    void RunOnce();

    TOracleQuery& query_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool busy_ = false;
    bool terminated_ = false;
    std::thread thread_;  // last: started once the state above exists
};

}  // namespace velnor::oracle::detail
