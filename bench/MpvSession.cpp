#include "bench/MpvSession.h"

#include "bench/BenchSupport.h"
#include "tools/mkmedia/MkMedia.h"

#include <QJsonDocument>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <csignal>
#include <thread>
#include <vector>

namespace bench {

namespace {

constexpr int kTimeoutMs = 60000;

} // namespace

MpvSession::MpvSession(const std::string &file, int threads, const std::string &folder, double fps) : m_fps(fps)
{
    const std::string socket = folder + "/mpv.sock";
    unlink(socket.c_str());
    // hr-seek-framedrop left at mpv's default (yes): like our decoder, it
    // leaves out pictures before the target that nothing refers to.
    std::vector<std::string> argv{"mpv", "--no-config", "--idle=yes", "--pause", "--vo=null", "--ao=null",
                                  "--vd-lavc-threads=" + std::to_string(threads), "--hr-seek=yes",
                                  "--input-ipc-server=" + socket, "--keep-open=always",
                                  "--osc=no", "--load-scripts=no", "--load-stats-overlay=no",
                                  "--load-osd-console=no", "--ytdl=no", "--input-terminal=no",
                                  "--msg-level=all=error"};
    // An MPEG program stream has no index: without a second's run-up mpv's
    // exact seek lands on the key frame after the target.
    if (mkmedia::ExtensionOf(file) == "mpg")
        argv.push_back("--hr-seek-demuxer-offset=1");
    m_log = folder + "/mpv.log";
    std::ofstream(m_log, std::ios::trunc);
    m_pid = StartProcess(argv, -1, m_log);
    // The file comes after the connection, so its first playback-restart cannot be missed.
    Connect(socket);
    Send({"observe_property", 1, "time-pos"});
    Send({"loadfile", QString::fromStdString(file)});
    WaitForEvent("playback-restart");  // the first picture is up
}

MpvSession::~MpvSession()
{
    if (m_fd >= 0) {
        const std::string quit = "{\"command\":[\"quit\"]}\n";
        (void)!write(m_fd, quit.data(), quit.size());
        close(m_fd);
    }
    // A hung mpv must not hang the benchmark.
    for (int i = 0; i < 100; ++i) {
        if (waitpid(m_pid, nullptr, WNOHANG) == m_pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
}

void MpvSession::Connect(const std::string &socket)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket.size() >= sizeof address.sun_path)
        Fail("the socket's path is too long");
    std::copy(socket.begin(), socket.end(), address.sun_path);
    for (int i = 0; i < 200; ++i) {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
            return;
        close(m_fd);
        m_fd = -1;
        if (waitpid(m_pid, nullptr, WNOHANG) == m_pid)
            Fail("mpv ended at start" + Said());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Fail("mpv opened no IPC socket" + Said());
}

void MpvSession::Send(const QJsonArray &command, int id)
{
    QJsonObject message{{"command", command}};
    if (id)
        message["request_id"] = id;
    const QByteArray line = QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n';
    if (write(m_fd, line.constData(), size_t(line.size())) != line.size())
        Fail("mpv does not listen");
    m_last = line.trimmed().toStdString();
}

QJsonObject MpvSession::Next()
{
    for (;;) {
        const size_t end = m_buffer.find('\n');
        if (end != std::string::npos) {
            const QByteArray line = QByteArray::fromStdString(m_buffer.substr(0, end));
            m_buffer.erase(0, end + 1);
            return QJsonDocument::fromJson(line).object();
        }
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, kTimeoutMs) <= 0)
            Fail("mpv did not answer in time after " + m_last + Said());
        char buf[4096];
        const ssize_t n = read(m_fd, buf, sizeof buf);
        if (n <= 0)
            Fail("mpv closed its socket" + Said());
        m_buffer.append(buf, size_t(n));
    }
}

QJsonObject MpvSession::WaitFor(const std::function<bool(const QJsonObject &)> &match)
{
    for (;;) {
        const QJsonObject m = Next();
        if (match(m))
            return m;
        if (m.value("event").toString() == "end-file")
            Fail("mpv closed the file");
    }
}

QJsonObject MpvSession::WaitForEvent(const char *name)
{
    return WaitFor([name](const QJsonObject &m) { return m.value("event").toString() == name; });
}

double MpvSession::TimePos()
{
    const int id = ++m_request;
    Send({"get_property", "time-pos"}, id);
    const QJsonObject reply = WaitFor([id](const QJsonObject &m) { return m.value("request_id").toInt() == id; });
    if (reply.value("error").toString() != "success")
        Fail("mpv has no time-pos");
    return reply.value("data").toDouble();
}

// What mpv wrote to stderr, for a failure's report (the folder goes with the run).
std::string MpvSession::Said() const
{
    std::ifstream in(m_log);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    return text.empty() ? std::string() : ":\n" + text.substr(text.size() > 2000 ? text.size() - 2000 : 0);
}

long MpvSession::PeakKb() const { return PeakRssKb(m_pid); }

int MpvSession::Frame() { return int(std::lround(TimePos() * m_fps)); }

double MpvSession::SeekExact(double seconds)
{
    const auto start = Clock::now();
    Send({"seek", seconds, "absolute+exact"});
    WaitForEvent("playback-restart");
    return MsSince(start);
}

double MpvSession::BackStep()
{
    const auto start = Clock::now();
    Send({"frame-back-step"});
    WaitForEvent("playback-restart");
    return MsSince(start);
}

// frame-step does not seek, so no playback-restart: the picture is there
// when time-pos moves on from where the last move left it.
double MpvSession::ForwardStep()
{
    const double from = TimePos(), half = 0.5 / m_fps;
    const auto start = Clock::now();
    Send({"frame-step"});
    WaitFor([&](const QJsonObject &m) {
        return m.value("event").toString() == "property-change" && m.value("name").toString() == "time-pos"
            && m.value("data").toDouble() > from + half;
    });
    return MsSince(start);
}

} // namespace bench
