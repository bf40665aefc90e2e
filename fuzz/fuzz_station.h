#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "station/station.h"

namespace kestrel::fuzz {

/// A station with a fixed clock and no outside world, in a scratch directory,
/// for driving handlers with fuzzed files.
class FuzzStation : public Clock,
                    public CommandRunner,
                    public ProcessTable,
                    public EventLoop,
                    public UrlFetcher {
public:
    FuzzStation()
        : m_dir(std::filesystem::temp_directory_path() /
                ("kestrel-fuzz-" + std::to_string(getpid()))),
          station(Platform{*this, *this, *this, *this, *this, *this, *this, *this, *this, *this,
                           m_dir}) {
        std::filesystem::create_directories(m_dir);
    }

    void write(const std::string& name, std::string_view bytes) {
        std::ofstream out(m_dir / name, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    const std::filesystem::path& dir() const { return m_dir; }

    LocalDateTime now() const override { return time; }
    double steadySeconds() const override { return m_steady; }
    // Waits end at once on the fuzz station's own steady clock.
    CallId callAfter(double seconds, Callback callback) override {
        m_steady += seconds;
        callback();
        return ++m_calls;
    }
    void cancelCall(CallId) override {}
    void watch(int, bool, bool, std::function<void(bool, bool)>) override {}
    void unwatch(int) override {}
    bool run(const StationCommand&, WindowStyle) override { return true; }
    ProcessCheck check(const std::string&) override { return ProcessCheck::NotRunning; }
    bool busy() const override { return false; }
    void cancel() override {}
    void start(const std::string&, BodyForm, Done done) override { done({}); }

    LocalDateTime time{2026, 12, 7, 8, 30, 0, 2};

private:
    std::filesystem::path m_dir;
    double m_steady = 0;
    CallId m_calls = 0;

public:
    Station station;
};

}  // namespace kestrel::fuzz
