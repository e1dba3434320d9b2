// The servo side of a pseudo-terminal for the bus library's tests: the library opens the
// slave path, a thread of the test reads whole packets on the master side and answers
// as the script says.
#ifndef KINETRON_TEST_PTY_PEER_H
#define KINETRON_TEST_PTY_PEER_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// Speed of the slave side, read through the master; -1 on failure.
int master_speed(int master_fd);

struct Heard {
    Bytes packet;
    int speed = 0; // line speed when its first byte could be read
};

class PtyPeer {
public:
    // What to send back for a packet; may also act on the peer (close it, wait).
    using Script = std::function<Bytes(const Bytes& packet)>;

    PtyPeer();
    ~PtyPeer();
    const std::string& path() const { return path_; }
    int master() const { return master_; }
    int slave() const { return slave_; }

    void start(Script script);
    void stop();
    // Closes the master side: the line is gone for the library.
    void hang_up();
    // Waits until `count` packets were heard (or 5 s); a copy of them.
    std::vector<Heard> wait_heard(std::size_t count);
    // Bytes waiting on the master side right now.
    int pending_on_master();

private:
    void run(Script script);

    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> running_{false};
    std::mutex mutex_;
    std::vector<Heard> heard_;
};

// A well-formed status packet, of protocol 1.0 and 2.0.
Bytes status_packet(int id, int error, const Bytes& params);
Bytes status_packet2(int id, int error, const Bytes& params);
// Packets one after the other.
Bytes operator+(Bytes first, const Bytes& second);

#endif
