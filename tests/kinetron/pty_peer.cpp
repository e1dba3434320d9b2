#include "pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>

#include "packet_protocol2.h"

PtyPeer::PtyPeer()
{
    char name[128] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0)
        path_ = name;
    // The slave stays open here too: closing the library's descriptor must not hang up the
    // master, and the test can look at the slave's input queue.
}

PtyPeer::~PtyPeer()
{
    stop();
    if (master_ >= 0)
        close(master_);
    if (slave_ >= 0)
        close(slave_);
}

void PtyPeer::start(Script script)
{
    stopping_ = false;
    running_ = false;
    thread_ = std::thread([this, script] { run(script); });
    // The peer must be listening before the first packet goes out.
    while (!running_)
        std::this_thread::yield();
}

void PtyPeer::stop()
{
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
}

void PtyPeer::hang_up()
{
    if (master_ >= 0)
        close(master_);
    master_ = -1;
}

int PtyPeer::pending_on_master()
{
    int count = 0;
    if (master_ < 0 || ioctl(master_, FIONREAD, &count) != 0)
        return -1;
    return count;
}

std::vector<Heard> PtyPeer::wait_heard(std::size_t count)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (heard_.size() >= count || std::chrono::steady_clock::now() > until)
                return heard_;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void PtyPeer::run(Script script)
{
    // Servos answer whatever else the computer is doing; where the system allows it, the
    // peer runs ahead of ordinary threads so a loaded machine does not make it late.
    sched_param priority = {};
    priority.sched_priority = 1;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);
    running_ = true;

    Bytes buffer;
    int speed = 0;
    while (!stopping_ && master_ >= 0) {
        pollfd p = {master_, POLLIN, 0};
        const int ready = poll(&p, 1, 20);
        if (ready < 0)
            return;
        if (ready == 0)
            continue;
        // The speed in force when the bytes became readable.
        if (buffer.empty())
            speed = master_speed(master_);
        std::uint8_t chunk[512];
        const ssize_t n = read(master_, chunk, sizeof chunk);
        if (n < 0 && errno == EAGAIN)
            continue;
        if (n <= 0)
            return;
        buffer.insert(buffer.end(), chunk, chunk + n);
        // Take out every whole packet: FF FF ID LEN, then LEN more bytes; or protocol 2.0's
        // FF FF FD 00 ID LEN_L LEN_H, then LEN more bytes.
        for (;;) {
            std::size_t at = 0;
            while (at + 1 < buffer.size() && !(buffer[at] == 0xFF && buffer[at + 1] == 0xFF))
                ++at;
            buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(at));
            if (buffer.size() < 4)
                break;
            const bool protocol2 = buffer[2] == 0xFD && buffer[3] == 0x00;
            if (protocol2 && buffer.size() < 7)
                break;
            const std::size_t total =
                protocol2 ? 7u + (buffer[5] | buffer[6] << 8) : 4u + buffer[3];
            if (buffer.size() < total)
                break;
            Heard heard;
            heard.speed = speed;
            heard.packet.assign(buffer.begin(),
                                buffer.begin() + static_cast<std::ptrdiff_t>(total));
            buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(total));
            {
                std::lock_guard<std::mutex> lock(mutex_);
                heard_.push_back(heard);
            }
            const Bytes answer = script(heard.packet);
            if (!answer.empty() && master_ >= 0 && write(master_, answer.data(), answer.size()) < 0)
                return;
            if (master_ < 0)
                return;
        }
    }
}

Bytes status_packet(int id, int error, const Bytes& params)
{
    Bytes packet;
    packet.reserve(params.size() + 6);
    packet.push_back(0xFF);
    packet.push_back(0xFF);
    packet.push_back(static_cast<std::uint8_t>(id));
    packet.push_back(static_cast<std::uint8_t>(params.size() + 2));
    packet.push_back(static_cast<std::uint8_t>(error));
    for (std::uint8_t byte : params)
        packet.push_back(byte);
    unsigned sum = 0;
    for (std::size_t i = 2; i < packet.size(); ++i)
        sum += packet[i];
    packet.push_back(static_cast<std::uint8_t>(~sum & 0xFF));
    return packet;
}

Bytes status_packet2(int id, int error, const Bytes& params)
{
    Bytes body = {static_cast<std::uint8_t>(error)};
    body.insert(body.end(), params.begin(), params.end());
    return kinetron::encode_packet2(id, 0x55, body);
}

Bytes operator+(Bytes first, const Bytes& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}
