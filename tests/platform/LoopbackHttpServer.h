#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quillpost {

// A small HTTP/1.1 server on 127.0.0.1 for tests: each connection gets one answer from the
// handler, which may also stream without end or never answer at all.
class LoopbackHttpServer {
public:
    struct Request {
        std::string head; // request line and headers as sent
        std::string body;
    };
    struct Answer {
        enum class Kind { Whole, Endless, Silent, Trickle };
        Kind kind { Kind::Whole };
        std::string response; // the whole response for Kind::Whole; the head and first bytes for Kind::Trickle
        // Kind::Trickle: each piece follows the one before after the gap; a stalled answer then
        // sends nothing more and keeps the connection open.
        std::vector<std::string> pieces {};
        std::chrono::milliseconds gap { 0 };
        bool stall { false };
    };

    explicit LoopbackHttpServer(std::function<Answer(const Request&)> handler)
        : m_handler(std::move(handler))
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        ::listen(m_listener, 16);
        socklen_t length = sizeof(address);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this] { acceptLoop(); });
    }

    ~LoopbackHttpServer()
    {
        m_stopping = true;
        ::shutdown(m_listener, SHUT_RDWR);
        ::close(m_listener);
        m_acceptor.join();
        for (auto& connection : m_connections)
            connection.join();
    }

    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }

    std::vector<Request> requests() const
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

    static Answer respond(int status, const std::string& body, const std::string& extraHeaders = {})
    {
        return { Answer::Kind::Whole,
            "HTTP/1.1 " + std::to_string(status) + " Answer\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n"
                + extraHeaders + "\r\n" + body };
    }

private:
    void acceptLoop()
    {
        while (!m_stopping) {
            const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0)
                return;
            m_connections.emplace_back([this, connection] { serve(connection); });
        }
    }

    void serve(int connection)
    {
        std::string received;
        char buffer[65536];
        size_t headEnd = std::string::npos;
        while ((headEnd = received.find("\r\n\r\n")) == std::string::npos) {
            const ssize_t count = ::recv(connection, buffer, sizeof(buffer), 0);
            if (count <= 0) {
                ::close(connection);
                return;
            }
            received.append(buffer, static_cast<size_t>(count));
        }
        Request request { received.substr(0, headEnd), received.substr(headEnd + 4) };
        const auto lengthAt = request.head.find("Content-Length: ");
        const size_t length = lengthAt == std::string::npos ? 0 : std::stoul(request.head.substr(lengthAt + 16));
        while (request.body.size() < length) {
            const ssize_t count = ::recv(connection, buffer, sizeof(buffer), 0);
            if (count <= 0)
                break;
            request.body.append(buffer, static_cast<size_t>(count));
        }
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(request);
        }

        const Answer answer = m_handler(request);
        if (answer.kind == Answer::Kind::Whole) {
            sendAll(connection, answer.response);
        } else if (answer.kind == Answer::Kind::Endless) {
            sendAll(connection, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
            const std::string chunk(65536, 'x');
            while (!m_stopping && sendAll(connection, chunk)) { }
        } else if (answer.kind == Answer::Kind::Trickle) {
            bool open = sendAll(connection, answer.response);
            for (const auto& piece : answer.pieces) {
                if (!open || !pause(answer.gap))
                    break;
                open = sendAll(connection, piece);
            }
            while (open && answer.stall && !m_stopping && ::recv(connection, buffer, sizeof(buffer), MSG_DONTWAIT) != 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } else {
            while (!m_stopping && ::recv(connection, buffer, sizeof(buffer), MSG_DONTWAIT) != 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::close(connection);
    }

    // False when the server is stopping meanwhile.
    bool pause(std::chrono::milliseconds length) const
    {
        for (auto waited = std::chrono::milliseconds(0); waited < length; waited += std::chrono::milliseconds(20)) {
            if (m_stopping)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    static bool sendAll(int connection, const std::string& bytes)
    {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t count = ::send(connection, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (count <= 0)
                return false;
            sent += static_cast<size_t>(count);
        }
        return true;
    }

    std::function<Answer(const Request&)> m_handler;
    int m_listener { -1 };
    unsigned short m_port { 0 };
    std::atomic<bool> m_stopping { false };
    std::thread m_acceptor;
    std::vector<std::thread> m_connections;
    mutable std::mutex m_mutex;
    std::vector<Request> m_requests;
};

}
