// The "sim" device: the simulated servo chain inside this process. Packets go straight
// to the engine; replies are taken when they are due on the modelled wire.
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "line.h"
#include "sim_chain.h"

namespace kinetron {

namespace {

// Set once the process has begun to exit: from then on a chain is kept, not destroyed,
// because the main thread may still be inside it (a stalled read under the watchdog's
// exit). The file-level pointer keeps it reachable, so it is no leak either.
bool process_exiting = false;
SimChain* chain_kept_at_exit = nullptr;
void note_exit() { process_exiting = true; }

void wait_until(std::int64_t target_us)
{
    for (;;) {
        std::int64_t left = target_us - monotonic_us();
        if (left <= 0)
            return;
        if (left > SIM_SPIN_US)
            std::this_thread::sleep_for(std::chrono::microseconds(left - SIM_SPIN_US));
    }
}

class SimLine : public Line {
public:
    explicit SimLine(SimChain* chain) : chain_(chain)
    {
        static bool exit_noted = std::atexit(note_exit) == 0;
        (void)exit_noted;
    }
    ~SimLine() override
    {
        if (process_exiting)
            chain_kept_at_exit = chain_;
        else
            sim_chain_destroy(chain_);
    }

    bool write_all(const std::uint8_t* data, std::size_t count) override
    {
        sim_chain_feed(chain_, data, static_cast<int>(count), bps_);
        return true;
    }

    int read_until(std::uint8_t* buffer, std::size_t size, std::int64_t deadline_us) override
    {
        for (;;) {
            int count = sim_chain_take(chain_, buffer, static_cast<int>(size));
            if (count > 0)
                return count;
            long due = sim_chain_next_due_us(chain_);
            std::int64_t now = monotonic_us();
            if (now >= deadline_us)
                return 0;
            // Nothing queued means nothing will come: the chain answers only when fed.
            std::int64_t until = due < 0 ? deadline_us : now + due;
            wait_until(until < deadline_us ? until : deadline_us);
        }
    }

    void discard_input() override { sim_chain_discard(chain_); }
    void drain() override {}
    bool set_speed(int bits_per_second, std::string&) override
    {
        bps_ = bits_per_second;
        return true;
    }
    int latency_ms() const override { return 0; }
    bool is_usb_adapter() const override { return false; }

private:
    SimChain* chain_;
    long bps_ = 0; // bus_open sets it before the first packet
};

} // namespace

Line* open_sim_line(const char* options, std::string& error)
{
    char reason[512] = "";
    SimChain* chain = sim_chain_create(options, reason, sizeof reason);
    if (!chain) {
        error = reason;
        return nullptr;
    }
    return new SimLine(chain);
}

} // namespace kinetron
