// The far end of a pseudo-terminal standing in for a servo chain during playback: it
// answers every READ at once with position 512 and notes the moment each synchronized
// write of goal positions arrives. Without wire timing, what it sees between two move
// packets is the player's own work.
#ifndef PLAY_PEER_H
#define PLAY_PEER_H

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace bench {

class PlayPeer {
public:
    PlayPeer() = default;
    ~PlayPeer();
    PlayPeer(const PlayPeer&) = delete;
    PlayPeer& operator=(const PlayPeer&) = delete;

    // Opens the pseudo-terminal and starts serving; false when it cannot.
    bool start();
    // The slave side's path, for KINETRON_DEVICE.
    const std::string& device() const { return device_; }
    // Microseconds (steady clock) at which each move packet had fully arrived.
    std::vector<double> move_times();

private:
    void serve();
    void take(const std::uint8_t* bytes, std::size_t count, double now_us);
    void answer(const std::vector<std::uint8_t>& packet);

    int master_ = -1;
    int keeper_ = -1;
    std::string device_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::uint8_t> pending_;
    std::vector<double> moves_;
};

} // namespace bench

#endif
