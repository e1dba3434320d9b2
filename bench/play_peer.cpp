#include "play_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>

namespace bench {

namespace {

constexpr std::uint8_t INS_READ = 2;
constexpr std::uint8_t INS_SYNC_WRITE = 131;
constexpr std::uint8_t ADDR_GOAL_POSITION = 30;
constexpr std::uint8_t BROADCAST = 254;
constexpr int POSITION = 512;

double now_us()
{
    using namespace std::chrono;
    return duration<double, std::micro>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

PlayPeer::~PlayPeer()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (keeper_ >= 0)
        ::close(keeper_);
    if (master_ >= 0)
        ::close(master_);
}

bool PlayPeer::start()
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        return false;
    const char* name = ::ptsname(master_);
    if (name == nullptr)
        return false;
    device_ = name;
    struct termios mode;
    if (::tcgetattr(master_, &mode) == 0) {
        ::cfmakeraw(&mode);
        ::tcsetattr(master_, TCSANOW, &mode);
    }
    // Held open so that the master does not hang up before and after the player.
    keeper_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (keeper_ < 0)
        return false;
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    thread_ = std::thread(&PlayPeer::serve, this);
    return true;
}

std::vector<double> PlayPeer::move_times()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return moves_;
}

void PlayPeer::serve()
{
    std::uint8_t buffer[4096];
    while (!stop_) {
        struct pollfd watch = {master_, POLLIN, 0};
        struct timespec tick = {0, 20 * 1000000L};
        const int ready = ::ppoll(&watch, 1, &tick, nullptr);
        if (ready <= 0)
            continue;
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            take(buffer, static_cast<std::size_t>(n), now_us());
        } else {
            struct timespec pause = {0, 1000000L};
            ::nanosleep(&pause, nullptr);
        }
    }
}

// Cuts whole packets out of the byte stream: FF FF ID LEN INS ... CHK.
void PlayPeer::take(const std::uint8_t* bytes, std::size_t count, double at_us)
{
    pending_.insert(pending_.end(), bytes, bytes + count);
    std::size_t at = 0;
    while (pending_.size() - at >= 4) {
        if (pending_[at] != 0xFF || pending_[at + 1] != 0xFF) {
            ++at;
            continue;
        }
        const std::size_t total = static_cast<std::size_t>(pending_[at + 3]) + 4;
        if (pending_.size() - at < total)
            break;
        std::vector<std::uint8_t> packet(pending_.begin() + static_cast<long>(at),
                                         pending_.begin() + static_cast<long>(at + total));
        at += total;
        if (packet.size() >= 7 && packet[4] == INS_SYNC_WRITE && packet[5] == ADDR_GOAL_POSITION) {
            std::lock_guard<std::mutex> lock(mutex_);
            moves_.push_back(at_us);
        } else if (packet.size() == 8 && packet[4] == INS_READ && packet[2] != BROADCAST) {
            answer(packet);
        }
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(at));
}

void PlayPeer::answer(const std::vector<std::uint8_t>& packet)
{
    const int count = packet[6];
    std::vector<std::uint8_t> reply{0xFF, 0xFF, packet[2], static_cast<std::uint8_t>(count + 2), 0};
    for (int i = 0; i < count; ++i)
        reply.push_back(static_cast<std::uint8_t>(i == 0   ? POSITION & 0xFF
                                                  : i == 1 ? POSITION >> 8
                                                           : 0));
    unsigned sum = 0;
    for (std::size_t i = 2; i < reply.size(); ++i)
        sum += reply[i];
    reply.push_back(static_cast<std::uint8_t>(~sum & 0xFF));
    if (::write(master_, reply.data(), reply.size()) < 0) {
        // the player has gone; nothing to answer
    }
}

} // namespace bench
