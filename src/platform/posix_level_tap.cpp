#include "platform/posix_level_tap.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string_view>
#include <system_error>

namespace kestrel {
namespace {

ssize_t readAt(int fd, char* into, std::size_t size, off_t offset) {
    ssize_t got;
    do {
        got = ::pread(fd, into, size, offset);
    } while (got < 0 && errno == EINTR);
    return got;
}

}  // namespace

std::filesystem::path levelTapDirectory() {
    const char* runtime = std::getenv("RUNTIME_DIRECTORY");
    if (runtime && *runtime == '/') {
        const std::string_view dirs(runtime);
        return std::filesystem::path(dirs.substr(0, dirs.find(':')));
    }
    return "/dev/shm";
}

PosixLevelTap::PosixLevelTap(std::filesystem::path tapDir, const std::filesystem::path& stationDir)
    : m_dir(std::move(tapDir)) {
    std::error_code ignored;
    const auto station = std::filesystem::weakly_canonical(stationDir, ignored).string();
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "kestrelfield-%u-%016zx-",
                  static_cast<unsigned>(::getuid()), std::hash<std::string>{}(station));
    m_prefix = prefix;
}

std::filesystem::path PosixLevelTap::file(int slot) const {
    return m_dir / (m_prefix + "mplayer" + std::to_string(slot) + ".levels");
}

std::optional<AudioBlock> PosixLevelTap::read(int slot) {
    const int fd = ::open(file(slot).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    std::vector<char> bytes(kAudioHeaderBytes);
    std::optional<AudioBlock> block;
    if (readAt(fd, bytes.data(), kAudioHeaderBytes, 0) == static_cast<ssize_t>(kAudioHeaderBytes)) {
        std::int32_t sampleBytes = 0;
        std::memcpy(&sampleBytes, bytes.data() + 4, sizeof sampleBytes);
        if (sampleBytes > 0 && sampleBytes <= kMostAudioSampleBytes) {
            bytes.resize(kAudioHeaderBytes + static_cast<std::size_t>(sampleBytes));
            const ssize_t got = readAt(fd, bytes.data() + kAudioHeaderBytes,
                                       static_cast<std::size_t>(sampleBytes), kAudioHeaderBytes);
            if (got == sampleBytes) block = parseAudioBlock(bytes.data(), bytes.size());
        }
    }
    ::close(fd);
    return block;
}

}  // namespace kestrel
