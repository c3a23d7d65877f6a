// A loopback server for the client benchmark: answers GET /check/ and GET /api/0.5/gate with fixed
// JSON bodies, on 127.0.0.1 and an ephemeral port that it prints as its first line.
#include <httplib.h>

#include <cstdio>

int main()
{
    httplib::Server server;
    // Runtime tuning: the packaged library ignores its compile-time macros.
    server.set_tcp_nodelay(true);
    server.set_keep_alive_max_count(1000000);
    server.set_keep_alive_timeout(30);

    server.Get("/check/", [](const httplib::Request &, httplib::Response &response) {
        response.set_content(R"({"status":"ok"})", "application/json");
    });
    server.Get("/api/0.5/gate", [](const httplib::Request &, httplib::Response &response) {
        response.set_content(R"({"status":"ok","error":0,"data":{"temp":70.3,"celsius":21.3,)"
                             R"("condition":"partly-cloudy","location":"Berlin"}})",
                             "application/json");
    });

    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
        return 1;
    }
    std::printf("%d\n", port);
    std::fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}
