#pragma once

#include <QString>

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

// A small web site on 127.0.0.1 with the kinds of pages the enrichment worker meets.
class LoopbackSite
{
public:
    LoopbackSite()
    {
        const auto html = [](const std::string &body) {
            return [body](const httplib::Request &, httplib::Response &res) {
                res.set_content(body, "text/html; charset=utf-8");
            };
        };
        m_server.Get("/titled", html("<!doctype html><html><head><title>\n  Plain &amp; Simple &#8212; Site </title>"
                                     "<meta property=\"og:image\" content=\"/img/cover.png?s=1&amp;t=2\">"
                                     "</head><body><title>not this</title></body></html>"));
        m_server.Get("/og", html("<html><head><meta content='https://cdn.example/x.jpg' property='og:image'>"
                                 "<meta property=\"og:title\" content=\"OG &quot;Title&quot;\">"
                                 "<title>Fallback</title></head></html>"));
        m_server.Get("/notitle", html("<html><body>No head at all</body></html>"));
        m_server.Get("/json", [](const httplib::Request &, httplib::Response &res) {
            res.set_content(R"({"title":"json"})", "application/json");
        });
        m_server.Get("/missing", [](const httplib::Request &, httplib::Response &res) {
            res.status = 404;
            res.set_content("<title>Not found</title>", "text/html");
        });
        m_server.Get(R"(/hop/(\d+))", [](const httplib::Request &req, httplib::Response &res) {
            const int left = std::stoi(req.matches[1]);
            res.set_redirect(left <= 1 ? "/titled" : "/hop/" + std::to_string(left - 1), 302);
        });
        m_server.Get("/to-ftp", [](const httplib::Request &, httplib::Response &res) {
            res.set_redirect("ftp://127.0.0.1/file", 302);
        });
        m_server.Get("/redirect", [](const httplib::Request &req, httplib::Response &res) {
            res.set_redirect(req.get_param_value("to"), 302);
        });
        m_server.Get("/slow", [](const httplib::Request &, httplib::Response &res) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kSlowPageMs));
            res.set_content("<html><head><title>Slow page</title></head></html>", "text/html");
        });
        m_server.Get("/big", [](const httplib::Request &, httplib::Response &res) {
            std::string body = "<html><head><title>Big page</title></head><body>";
            body.append(std::size_t(3) * 1024 * 1024, 'x');
            body += "</body></html>";
            res.set_content(body, "text/html");
        });
        // Counted before the answer goes out, so a client that has its answer sees the count.
        m_server.set_pre_routing_handler([this](const httplib::Request &, httplib::Response &) {
            ++m_hits;
            return httplib::Server::HandlerResponse::Unhandled;
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~LoopbackSite()
    {
        m_server.stop();
        if (m_thread.joinable())
            m_thread.join();
    }

    QString url(const QString &path) const { return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path); }
    int port() const { return m_port; }
    // Requests answered so far.
    int hits() const { return m_hits; }

    // How long /slow takes to answer.
    static constexpr int kSlowPageMs = 1200;

private:
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
    std::atomic<int> m_hits{0};
};
