#pragma once

// Helpers shared by the service's tests: raw HTTP over a loopback socket (so that a test sends
// exactly the bytes it means, unescaped) and a fake upstream provider on 127.0.0.1.

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace nimbara::server::test {

struct RawResponse
{
    int status = 0;
    std::string head;
    std::string body;
    bool answered = false;
};

// A socket connected to 127.0.0.1, from another loopback address when one is given, or -1.
inline int connectLoopback(int port, const char *from = nullptr)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (from) {
        sockaddr_in source{};
        source.sin_family = AF_INET;
        if (::inet_pton(AF_INET, from, &source.sin_addr) != 1 ||
            ::bind(fd, reinterpret_cast<sockaddr *>(&source), sizeof source) != 0) {
            ::close(fd);
            return -1;
        }
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline bool sendAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        auto n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

inline RawResponse parseResponse(const std::string &text)
{
    RawResponse response;
    auto headEnd = text.find("\r\n\r\n");
    if (text.rfind("HTTP/1.1 ", 0) != 0 || headEnd == std::string::npos)
        return response;
    response.answered = true;
    response.status = std::atoi(text.c_str() + 9);
    response.head = text.substr(0, headEnd);
    response.body = text.substr(headEnd + 4);
    // Only the first answer counts when the server sent more than one.
    auto length = response.head.find("Content-Length: ");
    if (length != std::string::npos)
        response.body.resize(
            std::min<size_t>(response.body.size(), std::stoul(response.head.substr(length + 16))));
    return response;
}

inline std::string readAll(int fd)
{
    std::string text;
    char buffer[4096];
    while (true) {
        auto n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return text;
        text.append(buffer, static_cast<size_t>(n));
    }
}

// Reads one whole answer (head and Content-Length body) from a connection that may stay open;
// unanswered when the server closes first or says nothing within the wait.
inline RawResponse readResponse(int fd, std::chrono::milliseconds wait = std::chrono::milliseconds(5000))
{
    std::string text;
    const auto until = std::chrono::steady_clock::now() + wait;
    while (true) {
        auto headEnd = text.find("\r\n\r\n");
        if (headEnd != std::string::npos) {
            auto response = parseResponse(text);
            auto length = response.head.find("Content-Length: ");
            size_t bodySize = length == std::string::npos ? 0 : std::stoul(response.head.substr(length + 16));
            if (text.size() >= headEnd + 4 + bodySize)
                return response;
        }
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        pollfd entry{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0)
            return {};
        char buffer[4096];
        auto n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return {};
        text.append(buffer, static_cast<size_t>(n));
    }
}

// Sends the bytes as they are and reads until the server closes the connection.
inline RawResponse sendRaw(int port, std::string_view request)
{
    int fd = connectLoopback(port);
    if (fd < 0)
        return {};
    sendAll(fd, request);
    auto text = readAll(fd);
    ::close(fd);
    return parseResponse(text);
}

inline RawResponse rawGet(int port, std::string_view target)
{
    return sendRaw(port, "GET " + std::string(target) +
                             " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

// A form POST framed as the widget frames it: Content-Length and the form type, the body unescaped.
inline RawResponse rawPost(int port, std::string_view target, std::string_view body)
{
    return sendRaw(port, "POST " + std::string(target) +
                             " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Length: " +
                             std::to_string(body.size()) +
                             "\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\n" +
                             std::string(body));
}

// A weather provider on 127.0.0.1 that answers what the test tells it to, and counts the calls.
class FakeUpstream
{
public:
    struct Answer
    {
        int status = 200;
        std::string body;
        std::string contentType = "application/json";
    };
    using Handler = std::function<Answer(const httplib::Request &)>;

    FakeUpstream()
    {
        server.Get(".*", [this](const httplib::Request &request, httplib::Response &response) {
            ++calls;
            {
                std::unique_lock lock(mutex);
                lastTarget = request.target;
                lastUserAgent = request.get_header_value("User-Agent");
                released.wait(lock, [this] { return !holding; });
            }
            auto answer = handler(request);
            response.status = answer.status;
            response.set_content(answer.body, answer.contentType);
        });
        port = server.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running())
            std::this_thread::yield();
    }

    ~FakeUpstream()
    {
        release();
        server.stop();
        thread.join();
    }

    std::string url() const { return "http://127.0.0.1:" + std::to_string(port); }

    void answer(Handler newHandler)
    {
        std::lock_guard lock(mutex);
        handler = std::move(newHandler);
    }
    void answer(int status, std::string body, std::string contentType = "application/json")
    {
        answer([=](const httplib::Request &) { return Answer{status, body, contentType}; });
    }

    // Answers wait until release(): lets a test line up concurrent callers.
    void hold()
    {
        std::lock_guard lock(mutex);
        holding = true;
    }
    void release()
    {
        {
            std::lock_guard lock(mutex);
            holding = false;
        }
        released.notify_all();
    }

    std::string target()
    {
        std::lock_guard lock(mutex);
        return lastTarget;
    }
    std::string userAgent()
    {
        std::lock_guard lock(mutex);
        return lastUserAgent;
    }

    std::atomic<int> calls{0};

private:
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::mutex mutex;
    std::condition_variable released;
    bool holding = false;
    std::string lastTarget;
    std::string lastUserAgent;
    Handler handler = [](const httplib::Request &) {
        return Answer{500, "{}"};
    };
};

inline std::string openMeteoAnswer(double celsius, int code)
{
    return R"({"latitude":51.5,"longitude":-0.1,"current_units":{"time":"iso8601","interval":"seconds",)"
           R"("temperature_2m":"°C","weather_code":"wmo code"},"current":{"time":"2024-05-01T12:00",)"
           R"("interval":900,"temperature_2m":)" +
           std::to_string(celsius) + R"(,"weather_code":)" + std::to_string(code) + "}}";
}

inline std::string metNorwayAnswer(double celsius, const std::string &symbol)
{
    return R"({"type":"Feature","geometry":{"type":"Point","coordinates":[-0.1,51.5,20]},)"
           R"("properties":{"meta":{"updated_at":"2024-05-01T11:00:00Z"},"timeseries":[{"time":)"
           R"("2024-05-01T12:00:00Z","data":{"instant":{"details":{"air_temperature":)" +
           std::to_string(celsius) + R"(,"wind_speed":3.1}},"next_1_hours":{"summary":{"symbol_code":")" +
           symbol + R"("}}}}]}})";
}

} // namespace nimbara::server::test
