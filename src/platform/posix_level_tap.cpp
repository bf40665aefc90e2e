#include "platform/posix_level_tap.h"

#include <fcntl.h>
#include <sys/stat.h>
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

// "-UID-HASH": the user and the station directory, as names on a shared
// file system carry them.
std::string stationTag(const std::filesystem::path& stationDir) {
    std::error_code ignored;
    const auto station = std::filesystem::weakly_canonical(stationDir, ignored).string();
    char tag[48];
    std::snprintf(tag, sizeof tag, "-%u-%016zx", static_cast<unsigned>(::getuid()),
                  std::hash<std::string>{}(station));
    return tag;
}

}  // namespace

std::filesystem::path privateDirectory(const std::filesystem::path& base, const std::string& name) {
    const std::filesystem::path stable = base / name;
    struct stat found {};
    if (::mkdir(stable.c_str(), 0700) == 0 ||
        (errno == EEXIST && ::lstat(stable.c_str(), &found) == 0 && S_ISDIR(found.st_mode) &&
         found.st_uid == ::getuid() && (found.st_mode & 077) == 0)) {
        return stable;
    }
    std::string unique = stable.string() + "-XXXXXX";
    if (::mkdtemp(unique.data()) != nullptr) return unique;
    return {};
}

std::filesystem::path levelTapDirectory(const std::filesystem::path& stationDir) {
    const char* runtime = std::getenv("RUNTIME_DIRECTORY");
    if (runtime && *runtime == '/') {
        const std::string_view dirs(runtime);
        return std::filesystem::path(dirs.substr(0, dirs.find(':')));
    }
    const std::string name = "kestrelfield" + stationTag(stationDir);
    for (const char* base : {"/dev/shm", "/tmp"}) {
        if (auto dir = privateDirectory(base, name); !dir.empty()) return dir;
    }
    return {};
}

PosixLevelTap::PosixLevelTap(std::filesystem::path tapDir, const std::filesystem::path& stationDir)
    : m_dir(std::move(tapDir)), m_prefix("kestrelfield" + stationTag(stationDir) + "-") {}

std::filesystem::path PosixLevelTap::file(int slot, TapPoint point) const {
    if (m_dir.empty()) return {};
    const char* kind = point == TapPoint::Source ? ".source.levels" : ".levels";
    return m_dir / (m_prefix + "mplayer" + std::to_string(slot) + kind);
}

std::optional<AudioBlock> PosixLevelTap::read(int slot, TapPoint point) {
    const int fd = ::open(file(slot, point).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
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

void PosixLevelTap::clear(int slot) {
    for (const TapPoint point : {TapPoint::Source, TapPoint::Heard})
        ::unlink(file(slot, point).c_str());
}

}  // namespace kestrel
