// mpv driven over its JSON IPC socket, for the benchmarks to hold our
// navigation against: a paused player with video decoding and no output, an
// exact seek, frame-back-step and frame-step, each timed from the command to
// the event saying the picture is there (playback-restart; for frame-step,
// which does not seek, the change of time-pos). Every wait ends after a
// minute with an exception, and a hung mpv is killed with the session.
// One thread (the benchmark's parent).
#pragma once

#include <QJsonArray>
#include <QJsonObject>

#include <sys/types.h>

#include <functional>
#include <string>

namespace bench {

// One mpv process, paused on `file`, decoding with `threads` threads; its
// socket and its stderr (mpv.log) go into `folder`. `fps` turns time-pos
// into frames.
class MpvSession {
public:
    MpvSession(const std::string &file, int threads, const std::string &folder, double fps);
    ~MpvSession();
    MpvSession(const MpvSession &) = delete;
    MpvSession &operator=(const MpvSession &) = delete;

    // Each returns the milliseconds from the command to the picture being there.
    double SeekExact(double seconds);
    double BackStep();
    double ForwardStep();
    // The frame mpv says it shows, from time-pos.
    int Frame();
    // mpv's peak resident size so far (VmHWM), -1 when unknown.
    long PeakKb() const;

private:
    void Connect(const std::string &socket);
    void Send(const QJsonArray &command, int id = 0);
    QJsonObject Next();
    QJsonObject WaitFor(const std::function<bool(const QJsonObject &)> &match);
    QJsonObject WaitForEvent(const char *name);
    double TimePos();
    std::string Said() const;

    pid_t m_pid = -1;
    int m_fd = -1;
    double m_fps = 25;
    std::string m_buffer;
    std::string m_log;   // mpv's stderr
    std::string m_last;  // the last command, for a report
    int m_request = 100;
};

} // namespace bench
