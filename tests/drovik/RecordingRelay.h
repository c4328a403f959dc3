// What an eavesdropper on the network sees, for tests: a relay between one master and its slave.
#pragma once

#include <asio.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace drovik_test {

inline bool contains(const std::vector<uint8_t> &haystack, const std::string &needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
           haystack.end();
}

// A relay on a free loopback port that passes one connection on to a target port and records
// the bytes of both directions; told to, it slips garbage into the stream towards the slave.
class Relay {
public:
    explicit Relay(int32_t target) : target_(target) {
        thread_ = std::thread([this] { run(); });
    }
    ~Relay() {
        asio::post(io_, [this] { io_.stop(); });
        thread_.join();
    }
    int32_t port() const { return listener_.local_endpoint().port(); }
    // A record header that claims application data, then noise.
    void sendGarbageToSlave() {
        asio::post(io_, [this] {
            std::vector<uint8_t> junk{0x17, 0x03, 0x03, 0x00, 0x40};
            junk.resize(5 + 0x40, 0xA5);
            asio::error_code ec;
            asio::write(slave_, asio::buffer(junk), ec);
        });
    }
    std::vector<uint8_t> recorded() {
        std::lock_guard guard(lock_);
        std::vector<uint8_t> all = toSlave_;
        all.insert(all.end(), toMaster_.begin(), toMaster_.end());
        return all;
    }

private:
    void run() {
        listener_.async_accept([this](const asio::error_code &ec, asio::ip::tcp::socket s) {
            if (ec)
                return;
            master_ = std::move(s);
            slave_.connect({asio::ip::address_v4::loopback(), static_cast<uint16_t>(target_)});
            pump(master_, slave_, toSlave_, bufferUp_);
            pump(slave_, master_, toMaster_, bufferDown_);
        });
        io_.run();
    }
    void pump(asio::ip::tcp::socket &from, asio::ip::tcp::socket &to, std::vector<uint8_t> &record,
              std::array<uint8_t, 4096> &buffer) {
        from.async_read_some(asio::buffer(buffer), [&](const asio::error_code &ec, size_t n) {
            if (ec) {
                asio::error_code ignored;
                to.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
                return;
            }
            {
                std::lock_guard guard(lock_);
                record.insert(record.end(), buffer.begin(), buffer.begin() + n);
            }
            asio::error_code wec;
            asio::write(to, asio::buffer(buffer.data(), n), wec);
            if (!wec)
                pump(from, to, record, buffer);
        });
    }

    asio::io_context io_;
    asio::ip::tcp::acceptor listener_{io_, {asio::ip::address_v4::loopback(), 0}};
    asio::ip::tcp::socket master_{io_}, slave_{io_};
    std::array<uint8_t, 4096> bufferUp_{}, bufferDown_{};
    int32_t target_;
    std::mutex lock_;
    std::vector<uint8_t> toSlave_, toMaster_;
    std::thread thread_;
};

}  // namespace drovik_test
